/* Resource ids of MorvaneShutdown.exe, shared by the C++ code and app.rc.
   Written by make_pictures.py. */
#ifndef MORVANE_RESOURCE_H
#define MORVANE_RESOURCE_H

#define IDI_APP       1
#define IDC_POINTER   101
#define IDB_SPLASH    201
#define IDB_ABOUT     202

#endif
