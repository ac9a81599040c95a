// The debug page: the three debug switches of the block's header and today's run log, to view,
// edit, save back, save elsewhere and print. Opened from the start page; its Finish commits.
#pragma once

#include "ui/controls.h"
#include "ui/services.h"
#include "wizard/wizard.h"

namespace vorel::wizard {

class TDebugFrm : public ui::Form {
 public:
  explicit TDebugFrm(WizardRun& run);

  ui::Label& Label1;
  ui::Label& Label2;
  ui::ProgressBar& LoadBar;
  ui::CheckBox& EnDebugChk;
  ui::CheckBox& ErrorChk;
  ui::CheckBox& TraceChk;
  ui::Memo& LogMemo;
  ui::Button& SpeedButton1;
  ui::Button& SaveBtn;
  ui::Button& PrnBtn;
  ui::Button& FinishBtn;
  ui::Timer& Timer1;
  ui::Timer& Timer2;
  ui::SaveDialog SaveDialog1;
  ui::PrintDialog PrintDialog1;

 private:
  // The form's event handlers, wired in the constructor.
  void EnDebugChkClick();
  void ErrorChkClick();
  void TraceChkClick();
  void Timer1Timer();
  void Timer2Timer();
  void SpeedButton1Click();
  void SaveBtnClick();
  void PrnBtnClick();
  void FinishBtnClick();
  void ControlShow();
  void FormCreate();
  WizardRun& run_;
  bool notice_shown_ = false;
  bool shows_end_only_ = false;  // the memo holds only the end of a log too large to show whole
};

// The memo shows a log of up to this size whole: the size at which the driver moves a log aside,
// plus the stop report of some 1500 tags. A larger one (left by an older driver, which moved its log aside
// only when an engine started) is shown by its last part. An edit control takes about half a
// second for this much under Wine.
constexpr uint64_t kShownLogLimit = 640 * 1024;

// Replaces the run log with `content` without ever leaving it half written: the text goes to a
// temporary file in the log's folder first, which then takes the log's place. Throws ui::IoError
// (the log is then as it was) when the temporary file cannot be written or the log cannot be
// replaced (held by a writer, read-only).
void replace_run_log(const std::string& log_path, std::string_view content);

}  // namespace vorel::wizard
