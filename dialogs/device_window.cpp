#include "dialogs/device_window.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/delphi.h"
#include "support/gbk_text.h"
#include "ui/services.h"

namespace vorel::dialogs {

namespace {

constexpr char kCaption[] = "设备测试窗口";
constexpr char kNotSupported[] = "暂时不支持测试功能！";
constexpr char kPortOccupied[] = "串口被其他应用程序占用!";
constexpr char kDebugCaption[] = "高级调试↓";
constexpr char kAutoCaption[] = "自动检测↑";
constexpr char kPauseCaption[] = "暂停";
constexpr char kContinueCaption[] = "继续";
constexpr char kWriteTag[] = "写标签";
constexpr char kReadTag[] = "读标签";
constexpr char kOtherType[] = "[Other Type]";
constexpr const char* kHeader[] = {"标签地址", "标签值", "标签操作", "主机命令"};
constexpr int kGridRows = 100;
constexpr int kFormWidth = 472;
constexpr uint32_t kTestScanPeriod = 500;
constexpr size_t kAskTextMax = 255;

// One host tag record as the host would hand it in.
void fill_tag(TTagInfo& tag, std::string_view name, std::string_view address, uint8_t value_type) {
  std::memset(&tag, 0, sizeof tag);  // identifier 0
  // The fields need no terminator: the engine reads at most their size.
  const std::string_view n = gbk::truncate(name, sizeof tag.TagName);
  const std::string_view a = gbk::truncate(address, sizeof tag.TagAddr);
  std::memcpy(tag.TagName, n.data(), n.size());
  std::memcpy(tag.TagAddr, a.data(), a.size());
  tag.ValueType = value_type;
  tag.ScanPeriod = kTestScanPeriod;
  switch (value_type) {
    case kValueAnalog: {
      tag.InitValue.vt = kVtR8;
      const double minus_one = -1;
      std::memcpy(tag.InitValue.value, &minus_one, sizeof minus_one);
      break;
    }
    case kValueDigital:
      tag.InitValue.vt = kVtBool;  // value bytes 0: false
      break;
    default:
      tag.InitValue.vt = kVtHostString;  // null text: empty
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------- helpers

std::string default_test_address(const TDeviceParams& block) {
  const int n = first_used_card(block);
  return n == -1 ? std::string() : "DI" + std::to_string(n) + ":0,0.0";
}

TVariant write_value_of(std::string_view text) {
  const std::string upper = gbk::UpperCase(text);
  if (upper == "TRUE") return TVariant::Bool(true);
  if (upper == "FALSE") return TVariant::Bool(false);
  return TVariant::Double(TryStrToFloat(text).value_or(0.0));
}

std::string value_text(const TVariant& value) {
  switch (value.kind()) {
    case TVariant::Kind::Int:
    case TVariant::Kind::Double:
      return FloatToStr(value.as_double());
    case TVariant::Kind::Bool:
      return value.bool_value() ? "开" : "关";
    case TVariant::Kind::String:
      return value.string_value();
    default:
      return kOtherType;
  }
}

std::string ask_text(std::string_view typed) {
  std::string text(typed);
  text += '\r';
  return std::string(gbk::truncate(text, kAskTextMax));
}

// ---------------------------------------------------------------- the form

TSampleTest::TSampleTest(TestEnvironment env)
    : ui::Form("TSampleTest"),
      // Wide enough for the four columns and a scroll bar.
      StringGrid1(Place<ui::StringGrid>(nullptr, "StringGrid1", {}, {8, 8, 448, 150})),
      ExitBtn(Place<ui::Button>(nullptr, "ExitBtn", "退出", {8, 166, 80, 25})),
      DebugBtn(Place<ui::Button>(nullptr, "DebugBtn", kDebugCaption, {96, 166, 96, 25})),
      PauseBtn(Place<ui::Button>(nullptr, "PauseBtn", kPauseCaption, {200, 166, 80, 25})),
      // Below what a compact window's client area shows; the debug height reveals it.
      DebugPn(Place<ui::Panel>(nullptr, "DebugPn", {}, {8, 234, 448, 198})),
      Label1(Place<ui::Label>(&DebugPn, "Label1", "标签地址", {8, 10, 56, 16})),
      AddrEd(Place<ui::Edit>(&DebugPn, "AddrEd", {}, {64, 6, 120, 21})),
      Label2(Place<ui::Label>(&DebugPn, "Label2", "写入值", {196, 10, 56, 16})),
      wValueMsg(Place<ui::Edit>(&DebugPn, "wValueMsg", {}, {248, 6, 88, 21})),
      Label3(Place<ui::Label>(&DebugPn, "Label3", "写命令串", {8, 34, 56, 16})),
      wStrMsg(Place<ui::Edit>(&DebugPn, "wStrMsg", {}, {64, 30, 272, 21})),
      ReadCk(Place<ui::CheckBox>(&DebugPn, "ReadCk", "读操作", {344, 6, 96, 20})),
      WriteCk(Place<ui::CheckBox>(&DebugPn, "WriteCk", "写操作", {344, 30, 96, 20})),
      TypeGroup(Place<ui::RadioGroup>(&DebugPn, "TypeGroup", "标签类型", {8, 54, 432, 40})),
      Label4(Place<ui::Label>(&DebugPn, "Label4", "通讯事件", {8, 104, 56, 16})),
      CommMsg(Place<ui::Edit>(&DebugPn, "CommMsg", {}, {64, 100, 376, 21})),
      Label5(Place<ui::Label>(&DebugPn, "Label5", "系统状态", {8, 128, 56, 16})),
      SysMsg(Place<ui::Edit>(&DebugPn, "SysMsg", {}, {64, 124, 376, 21})),
      Label6(Place<ui::Label>(&DebugPn, "Label6", "命令串", {8, 152, 56, 16})),
      AskMsg(Place<ui::Edit>(&DebugPn, "AskMsg", {}, {64, 148, 272, 21})),
      Label7(Place<ui::Label>(&DebugPn, "Label7", "应答串", {8, 176, 56, 16})),
      AnswerMsg(Place<ui::Edit>(&DebugPn, "AnswerMsg", {}, {64, 172, 376, 21})),
      AskBtn(Place<ui::Button>(&DebugPn, "AskBtn", "发送命令", {344, 146, 96, 25})),
      Timer1(add_timer("Timer1", 1000, false)),
      env_(std::move(env)) {
  SetCaption(kCaption);
  StringGrid1.set_size(4, kGridRows);
  StringGrid1.FixedCols = 0;
  StringGrid1.ColWidths = {69, 55, 57, 235};
  StringGrid1.Editable = true;  // a typed cell shows until the next tick writes the rows again
  for (ui::Edit* shown_only : {&wStrMsg, &CommMsg, &SysMsg, &AnswerMsg}) shown_only->ReadOnly = true;
  TypeGroup.Columns = 3;
  TypeGroup.SetItems({"模拟量", "开关量", "字符串"});
  TypeGroup.SetItemIndex(0);
  set_size(kFormWidth, kCompactHeight);  // the size FormCreate centres
  // Writing needs a tag read first; a successful ReadCk enables it.
  WriteCk.SetEnabled(false);
  Timer1.OnTimer = [this] { Timer1Timer(); };
  DebugBtn.OnClick = [this] { DebugBtnClick(); };
  AskBtn.OnClick = [this] { AskBtnClick(); };
  ReadCk.OnClick = [this] { ReadCkClick(); };
  WriteCk.OnClick = [this] { WriteCkClick(); };
  PauseBtn.OnClick = [this] { PauseBtnClick(); };
  wValueMsg.OnChange = [this] { wValueMsgChange(); };
  AddrEd.OnChange = [this] { AddrEdChange(); };
  ExitBtn.OnClick = [this] { ExitBtnClick(); };
  OnClose = [this](int& result) { FormClose(result); };
  FormCreate();
}

void TSampleTest::FormCreate() {
  center_on_screen();
  for (int col = 0; col < 4; ++col) StringGrid1.SetCell(col, 0, kHeader[col]);
}

TTagInfo* TSampleTest::default_tag() {
  const std::string address = default_test_address(block_);
  if (address.empty()) return nullptr;
  fill_tag(default_tag_, "SysMsg", address, kValueDigital);
  return &default_tag_;
}

void TSampleTest::build_single_tag() {
  const int type = TypeGroup.ItemIndex();
  const uint8_t value_type = type == 1 ? kValueDigital : type == 2 ? kValueString : kValueAnalog;
  fill_tag(single_tag_, "Y0.0", AddrEd.Text(), value_type);
  tag_ = &single_tag_;
}

bool TSampleTest::restart() {
  message_.clear();
  try {
    return env_.start && env_.start(1, &tag_, &block_, message_);
  } catch (...) {
    return false;
  }
}

void TSampleTest::show_engine_state() {
  const TBaseDLLObject* engine = Engine();
  SysMsg.SetText(engine && engine->communication_enabled() ? std::string_view(message_) : kPortOccupied);
}

bool TSampleTest::Entry(const TDeviceParams& block, bool show) {
  CopyPDB(block, block_);
  tag_ = default_tag();
  if (!tag_) ui::show_confirmation(kNotSupported);
  if (!restart()) return false;
  TBaseDLLObject* engine = Engine();
  if (!engine) return false;
  if (engine->tags().empty()) {  // the start took no tag
    ui::show_confirmation(kNotSupported);
    return false;
  }

  set_size(kFormWidth, kCompactHeight);
  const TDLLTag& first = *engine->tags().front();
  AddrEd.SetText(first.Address);
  TypeGroup.SetItemIndex(first.ValueType == kValueDigital ? 1 : first.ValueType == kValueString ? 2 : 0);
  Timer1.SetInterval(static_cast<uint32_t>(engine->ScanTime()));  // 10 ms or more: the host's pace
  Timer1.SetEnabled(true);
  ready_ = true;
  SysMsg.SetText(message_);

  if (show) {
    ShowModal();
  } else {
    platform::Clock& clock = platform::clock();
    uint32_t last = clock.ticks();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (attempt > 0) {
        // Sleep rather than spin: the host's thread has nothing else to do meanwhile.
        for (uint32_t waited; (waited = clock.ticks() - last) <= kAttemptSpacingMs;)
          clock.sleep(kAttemptSpacingMs + 1 - waited);
      }
      last = clock.ticks();
      if (ReadOnce()) break;
    }
  }
  return success_;
}

bool TSampleTest::ReadOnce() {
  TBaseDLLObject* engine = Engine();
  if (!engine || !engine->ReadExecute()) return false;
  // A step that raised nothing proves nothing: only an exchange the card answered brings the
  // device's link state to normal.
  if (engine->link_state() != kLinkOK) return false;
  success_ = true;
  return true;
}

void TSampleTest::Timer1Timer() {
  TBaseDLLObject* engine = Engine();
  if (!engine || !ready_) return;
  message_ = engine->sErrEvent();
  CommMsg.SetText(message_);
  engine->WriteCommEvent(std::string());

  // The rows below the header are composed first and each cell is then set once, so that a tick
  // that changes nothing leaves the grid untouched instead of clearing and refilling it.
  const int rows = StringGrid1.RowCount();
  const int cols = StringGrid1.ColCount();
  std::vector<std::string> cells(static_cast<size_t>(rows) * static_cast<size_t>(cols));
  const auto put = [&](int col, int row, std::string_view text) {
    if (col < cols) cells[static_cast<size_t>(row * cols + col)] = text;
  };

  // More tags or commands than rows: the rest stay unseen.
  const auto& tags = engine->tags();
  const size_t shown_tags = std::min({tags.size(), static_cast<size_t>(std::max(engine->TagCount(), 0)),
                                      static_cast<size_t>(std::max(rows - 1, 0))});
  for (size_t i = 0; i < shown_tags; ++i) {
    const int row = static_cast<int>(i) + 1;
    put(0, row, tags[i]->Address);
    put(1, row, value_text(tags[i]->Value));
  }
  const auto& commands = engine->read_commands();
  const size_t shown_commands = std::min(commands.size(), static_cast<size_t>(std::max(rows - 2, 0)));
  for (size_t k = 0; k < shown_commands; ++k)
    if (commands[k]) put(3, static_cast<int>(k) + 2, commands[k]->CmdText);

  if (const TCommand* current = engine->current_command()) {
    if (current->IsWrite) {
      put(2, 1, kWriteTag);
      wStrMsg.SetText(current->CmdText);
    } else {
      put(2, 1, kReadTag);
    }
    put(3, 1, current->CmdText);
    AnswerMsg.SetText(current->Received);
  }
  for (int row = 1; row < rows; ++row)
    for (int col = 0; col < cols; ++col)
      StringGrid1.SetCell(col, row, cells[static_cast<size_t>(row * cols + col)]);
  ReadOnce();
}

void TSampleTest::DebugBtnClick() {
  if (!Engine()) return;
  const bool was_debug = debug_;
  debug_ = !debug_;
  PauseBtn.SetEnabled(was_debug);
  PauseBtn.SetCaption(kPauseCaption);
  Timer1.SetEnabled(true);
  if (debug_) {
    DebugBtn.SetCaption(kAutoCaption);
    set_size(kFormWidth, kDebugHeight);
  } else {
    DebugBtn.SetCaption(kDebugCaption);
    set_size(kFormWidth, kCompactHeight);
    tag_ = default_tag();
    ready_ = false;
    if (restart()) ready_ = true;
    show_engine_state();
  }
  ReadCk.SetChecked(false);
}

void TSampleTest::AskBtnClick() {
  TBaseDLLObject* engine = Engine();
  if (!engine || !engine->current_command()) return;
  ReadCk.SetChecked(false);
  WriteCk.SetChecked(false);
  // Unticking ReadCk may have restarted the engine: the command of the old one is gone.
  engine = Engine();
  if (TCommand* current = engine ? engine->current_command() : nullptr)
    current->CmdText = ask_text(AskMsg.Text());
}

void TSampleTest::ReadCkClick() {
  // Only a read the user asks for puts the address into its normal form. Unticking comes with the
  // first keystroke in the address box too, and must not rewrite a half-typed address under the
  // user's fingers ("D" would become "AD-1:-1,-1.-1").
  if (ReadCk.Checked()) {
    std::string address = AddrEd.Text();
    try {
      if (env_.check_address) env_.check_address(&block_, address);
    } catch (...) {
    }
    // The normal form replacing what was typed is no edit of the user's: it must not untick the
    // read it is part of.
    normalising_ = true;
    AddrEd.SetText(address);
    normalising_ = false;
  }
  if (ReadCk.Checked() && Engine()) build_single_tag();
  ready_ = false;
  if (restart()) {
    WriteCk.SetEnabled(true);
    ready_ = true;
  }
  show_engine_state();
}

void TSampleTest::WriteCkClick() {
  // An engine with tags is enough: one whose only tag is an output reads nothing, so it has no
  // command in flight until the first write, which waiting for one would never send.
  TBaseDLLObject* engine = Engine();
  if (!engine || engine->TagCount() <= 0 || !WriteCk.Checked()) return;
  ReadCk.SetChecked(true);
  try {
    const TVariant value = write_value_of(wValueMsg.Text());
    // Ticking ReadCk may have started a new engine on the single tag.
    engine = Engine();
    if (!engine || engine->TagCount() <= 0) return;
    const size_t last = static_cast<size_t>(engine->TagCount()) - 1;
    if (last >= engine->tags().size()) return;
    engine->WriteExecute(engine->tags()[last]->TagID, value);
  } catch (...) {
  }
}

void TSampleTest::PauseBtnClick() {
  Timer1.SetEnabled(!Timer1.Enabled());
  PauseBtn.SetCaption(Timer1.Enabled() ? kPauseCaption : kContinueCaption);
}

void TSampleTest::wValueMsgChange() { WriteCk.SetChecked(false); }

void TSampleTest::AddrEdChange() {
  if (normalising_) return;
  ReadCk.SetChecked(false);
  WriteCk.SetChecked(false);
  WriteCk.SetEnabled(false);
}

void TSampleTest::ExitBtnClick() { Close(); }

void TSampleTest::FormClose(int& modal_result) {
  modal_result = success_ ? ui::mrOk : ui::mrNo;
  Timer1.SetEnabled(false);
  if (TBaseDLLObject* engine = Engine()) engine->Stop();
}

bool run_test_dialog(const TDeviceParams& block, bool show, const TestEnvironment& env) {
  TSampleTest form(env);
  return form.Entry(block, show);
}

}  // namespace vorel::dialogs
