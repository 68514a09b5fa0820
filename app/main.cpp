// Process start: the splash window first, and nothing else. The process ends when its
// last window has closed.
#include <windows.h>

#include <commctrl.h>

#include "about/about_form.h"
#include "app/publisher.h"
#include "app/splash.h"
#include "main_window/main_form.h"
#include "toolkit/message_box.h"
#include "toolkit/message_loop.h"
#include "toolkit/process.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  toolkit::ProcessLauncher launcher;
  toolkit::MessageBoxPrompter prompter;
  toolkit::Inet1 inet1;
  about::gy about_form;
  main_window::main main_form({launcher, prompter, app::kPublisherHost, &inet1});
  main_form.SetAboutWindow(&about_form);
  app::ld splash(main_form);

  toolkit::Form::SetQuitWhenLastClosed(true);
  splash.Show();
  return toolkit::RunMessageLoop();
}
