#include "toolkit/inet.h"
