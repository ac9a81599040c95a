// Page 1: what the user wants to do with the device (new, modify, view), the debug settings and
// the driver's version.
#pragma once

#include "ui/controls.h"
#include "wizard/wizard.h"

namespace vorel::wizard {

class TStartFrm : public ui::Form {
 public:
  explicit TStartFrm(WizardRun& run);

  ui::Label& Label1;
  ui::Label& Label2;
  ui::RadioButton& NewOp;
  ui::RadioButton& ModifyOp;
  ui::RadioButton& BrowseOp;
  ui::Button& DebugBtn;
  ui::Button& VersionBtn;
  ui::Button& NextBtn;
  ui::Button& CancelBtn;

 private:
  // The form's event handlers, wired in the constructor.
  void NextBtnClick();
  void CancelBtnClick();
  void VersionBtnClick();
  void DebugBtnClick();
  void FormCreate();
  WizardRun& run_;
};

}  // namespace vorel::wizard
