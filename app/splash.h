// The splash window `ld`: the first window of the process. It holds the screen while
// the main window loads, opens it after one second and closes once it is up.
#pragma once

#include "toolkit/controls.h"
#include "toolkit/form.h"

namespace app {

enum SplashControlId : int {
  kSplashLabel1 = 201,
  kSplashLabel2 = 202,
  kSplashLabel3 = 203,
  kSplashTimer1 = 1,
  kSplashTimer2 = 2,
};

class ld final : public toolkit::Form {
 public:
  explicit ld(toolkit::Form& main_form);
  ~ld() override;

  toolkit::Label Label1;
  toolkit::Label Label2;
  toolkit::Label Label3;
  toolkit::Timer Timer2;
  toolkit::Timer Timer1;

 private:
  void Form_Unload() override;
  void Timer1_Timer();
  void Timer2_Timer();

  toolkit::Form& main_;
  // The main window's load pumps messages, so this timer may tick again meanwhile.
  bool opening_main_ = false;
};

}  // namespace app
