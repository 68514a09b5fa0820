// The About window `gy`: product name, edition and version, a short notice, a picture
// and the copyright line. Modeless; its OK button (or Enter, Esc, its close box) closes it.
#pragma once

#include "toolkit/controls.h"
#include "toolkit/form.h"

namespace about {

enum AboutControlId : int {
  kAboutCommand1 = 301,
  kAboutLabel1 = 302,
  kAboutLabel2 = 303,
  kAboutImage1 = 304,
};

class gy final : public toolkit::Form {
 public:
  gy();
  ~gy() override;

  // Declared in tab order; the picture takes no focus.
  toolkit::Label Label1;
  toolkit::Label Label2;
  toolkit::Button Command1;
  toolkit::PictureBox Image1;

 private:
  void Command1_Click();
};

}  // namespace about
