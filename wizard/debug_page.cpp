#include "wizard/debug_page.h"

#include "engine/run_log.h"
#include "platform/platform.h"

namespace vorel::wizard {

namespace {

constexpr char kCaption[] = "向导：设置调试选项";
constexpr char kIdleText[] = "调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！";
constexpr char kLoadingText[] = "正在调入记录文件...";
constexpr char kSwitchedOffText[] = "打开调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！";
constexpr char kNotice[] =
    "！注意：调试对性能将产生不良影响，只有出现故障时才打开调试开关。\r\n"
    "调试和查看完设备运行信息后，请及时关闭调试开关。\r\n"
    "\r\n"
    "改动过调试开关后，需要退出向导，单击开发环境的保存工程按钮，调试功能才会生效。\r\n"
    "\r\n"
    "您可以编辑窗口中的内容，单击保存修改按钮保存窗口中的内容。\r\n"
    "或者单击另存为按钮，将窗口中的内容保存为文件，便于以后在系统外查看。";
constexpr char kCannotSave[] = "无法保存文件：";
constexpr char kCannotRead[] = "无法读取文件：";
// The first line of the memo when it holds only the end of the log, and the answer to "保存修改"
// then: the window's text would replace the whole file.
constexpr char kEndOnlyText1[] = "（日志文件过大，共";
constexpr char kEndOnlyText2[] = "字节，这里只显示了最后";
constexpr char kEndOnlyText3[] = "字节）";
constexpr char kCannotReplace[] =
    "窗口中只显示了日志文件的最后部分，用它替换整个文件会丢失前面的记录，因此没有保存。\r\n"
    "请用“另存为”按钮保存窗口中的内容。";
constexpr char kPrintTitle[] = "Vorel_PCI.Log";

}  // namespace

void replace_run_log(const std::string& log_path, std::string_view content) {
  const std::string temp = log_path + ".~sav";
  if (!platform::write_file(temp, content)) {
    platform::delete_file(temp);
    throw ui::IoError(kCannotSave + log_path);
  }
  bool replaced;
  {
    // Engines of this process wait meanwhile instead of appending to the file being replaced.
    const RunLogFileLock lock;
    replaced = platform::replace_file(temp, log_path);
  }
  if (!replaced) {
    platform::delete_file(temp);
    throw ui::IoError(kCannotSave + log_path);
  }
}

TDebugFrm::TDebugFrm(WizardRun& run)
    : ui::Form("TDebugFrm"),
      Label1(Place<ui::Label>(nullptr, "Label1", {}, {16, 12, 380, 18})),
      Label2(Place<ui::Label>(nullptr, "Label2", {}, {16, 48, 380, 18})),
      LoadBar(Place<ui::ProgressBar>(nullptr, "LoadBar", {}, {400, 48, 184, 16})),
      EnDebugChk(Place<ui::CheckBox>(nullptr, "EnDebugChk", "调试开关", {16, 76, 120, 20})),
      ErrorChk(Place<ui::CheckBox>(nullptr, "ErrorChk", "输出错误信息", {160, 76, 120, 20})),
      TraceChk(Place<ui::CheckBox>(nullptr, "TraceChk", "输出跟踪信息", {304, 76, 120, 20})),
      LogMemo(Place<ui::Memo>(nullptr, "LogMemo", {}, {16, 104, 568, 304})),
      SpeedButton1(Place<ui::Button>(nullptr, "SpeedButton1", "保存修改", {16, 420, 88, 26})),
      SaveBtn(Place<ui::Button>(nullptr, "SaveBtn", "另存为", {112, 420, 88, 26})),
      PrnBtn(Place<ui::Button>(nullptr, "PrnBtn", "打印", {208, 420, 88, 26})),
      FinishBtn(Place<ui::Button>(nullptr, "FinishBtn", "完成", {496, 420, 88, 26})),
      Timer1(add_timer("Timer1", 500, false)),
      Timer2(add_timer("Timer2", 100, false)),
      run_(run) {
  set_size(600, 488);
  LoadBar.set_range(0, 10);
  SaveDialog1.DefaultExt = "Log";
  SaveDialog1.Filter = "调试日志文件|log";
  EnDebugChk.OnClick = [this] { EnDebugChkClick(); };
  ErrorChk.OnClick = [this] { ErrorChkClick(); };
  TraceChk.OnClick = [this] { TraceChkClick(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Timer2.OnTimer = [this] { Timer2Timer(); };
  SpeedButton1.OnClick = [this] { SpeedButton1Click(); };
  SaveBtn.OnClick = [this] { SaveBtnClick(); };
  PrnBtn.OnClick = [this] { PrnBtnClick(); };
  FinishBtn.OnClick = [this] { FinishBtnClick(); };
  FormCreate();
  SetActiveControl(&FinishBtn);
}

void TDebugFrm::FormCreate() {
  center_on_screen();
  SetCaption(run_.texts().DeviceName + kCaption);
  Label1.SetCaption(run_.welcome());
  Label2.SetCaption(kIdleText);
  LoadBar.SetVisible(false);
  const TDeviceParams& block = run_.working();
  // Ticking runs the click handlers, which store the same values and start the log's load.
  if (block.DebugSwitch) EnDebugChk.SetChecked(true);
  if (block.ErrorLog) ErrorChk.SetChecked(true);
  if (block.TraceLog) TraceChk.SetChecked(true);
  ControlShow();
}

void TDebugFrm::EnDebugChkClick() {
  const bool on = EnDebugChk.Checked();
  run_.working().DebugSwitch = on ? 1 : 0;
  Timer1.SetEnabled(on);
  if (on) {
    LoadBar.SetVisible(true);
    Timer2.SetEnabled(true);
    Label2.SetCaption(kLoadingText);
    if (!notice_shown_ && Active()) {
      notice_shown_ = true;
      ui::show_information(kNotice);
    }
  } else {
    LoadBar.SetVisible(false);
    Timer2.SetEnabled(false);
    Label2.SetCaption(kSwitchedOffText);
  }
  ControlShow();
}

void TDebugFrm::ControlShow() {
  const bool on = EnDebugChk.Checked();
  LogMemo.SetEnabled(on);
  ErrorChk.SetEnabled(on);
  TraceChk.SetEnabled(on);
  SaveBtn.SetEnabled(on);
  PrnBtn.SetEnabled(on);
  SpeedButton1.SetEnabled(on);
  if (on) return;
  run_.working().ErrorLog = 0;
  run_.working().TraceLog = 0;
  ErrorChk.SetChecked(false);
  TraceChk.SetChecked(false);
  LogMemo.Clear();
}

void TDebugFrm::ErrorChkClick() { run_.working().ErrorLog = ErrorChk.Checked() ? 1 : 0; }

void TDebugFrm::TraceChkClick() { run_.working().TraceLog = TraceChk.Checked() ? 1 : 0; }

void TDebugFrm::Timer1Timer() {
  // A missing log reads as nothing, which leaves the memo as it was.
  const std::string& path = run_.env().log_path;
  const std::optional<platform::FileEnd> log = platform::read_file_end(path, kShownLogLimit);
  if (log) {
    shows_end_only_ = log->file_size > log->bytes.size();
    if (shows_end_only_) {
      // From the first whole line on: a line start is a character start too.
      const size_t first_line = log->bytes.find("\r\n");
      const std::string_view shown =
          std::string_view(log->bytes)
              .substr(first_line == std::string::npos ? log->bytes.size() : first_line + 2);
      LogMemo.set_joined_text(kEndOnlyText1 + std::to_string(log->file_size) + kEndOnlyText2 +
                              std::to_string(shown.size()) + kEndOnlyText3 + "\r\n" + std::string(shown));
    } else {
      LogMemo.set_joined_text(log->bytes);
    }
  }
  Label2.SetCaption(kIdleText);
  Timer1.SetEnabled(false);
  LoadBar.SetVisible(false);
  Timer2.SetEnabled(false);
  // One that is there but cannot be read (a folder of that name, a file another program holds
  // without sharing) is an error the user is told of, once: the load has ended above.
  if (!log && (platform::file_exists(path) || platform::directory_exists(path)))
    throw ui::IoError(kCannotRead + path);
}

void TDebugFrm::Timer2Timer() {
  LoadBar.SetPosition(LoadBar.Position() + 1);
  if (LoadBar.Position() == LoadBar.Max()) LoadBar.SetPosition((LoadBar.Max() - LoadBar.Min()) / 2);
}

void TDebugFrm::SpeedButton1Click() {
  if (shows_end_only_) {
    ui::show_information(kCannotReplace);
    return;
  }
  replace_run_log(run_.env().log_path, LogMemo.joined_text());
}

void TDebugFrm::SaveBtnClick() {
  if (!SaveDialog1.Execute()) return;
  if (!platform::write_file(SaveDialog1.FileName, LogMemo.joined_text()))
    throw ui::IoError(kCannotSave + SaveDialog1.FileName);
}

void TDebugFrm::PrnBtnClick() {
  if (!PrintDialog1.Execute()) return;
  ui::TextPrinter printer;
  printer.begin(kPrintTitle, LogMemo.GetFont());
  for (const std::string& line : LogMemo.Lines()) printer.write_line(line);
  printer.end();
}

void TDebugFrm::FinishBtnClick() {
  run_.modified = true;
  run_.commit();
  SetModalResult(ui::mrOk);
}

}  // namespace vorel::wizard
