// The device test dialog behind DLLTestDev. It starts an engine on a copy of the device's block
// with one test tag, shows the engine's tags, the command in flight and the device messages, and
// reads and writes a single tag by address. Without being shown, the same machinery runs the
// unattended read test: a few reads about 50 ms apart, stopping at the first that the card answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/DLLBase.h"
#include "records/pdb.h"
#include "records/tag_records.h"
#include "ui/controls.h"

namespace vorel::dialogs {

// What the dialog needs of the driver around it; the boundary fills it with its own entry points.
struct TestEnvironment {
  // IniDriver on the calling thread: a new engine on the tags, and the engine's message.
  std::function<bool(int32_t count, TTagInfo** tags, TDeviceParams* block, std::string& message)> start;
  // The engine in the calling thread's slot, nullptr when there is none.
  std::function<TBaseDLLObject*()> engine;
  // The address editor's check (TagEdAddr): rewrites the address into its normal form.
  std::function<bool(const TDeviceParams* block, std::string& address)> check_address;
};

// Runs the dialog on `block` (shown modally when `show` is set, else the unattended read test) and
// returns whether a read succeeded.
bool run_test_dialog(const TDeviceParams& block, bool show, const TestEnvironment& env);

class TSampleTest : public ui::Form {
 public:
  static constexpr int kCompactHeight = 256;
  static constexpr int kDebugHeight = 464;
  static constexpr int kAttempts = 6;
  static constexpr uint32_t kAttemptSpacingMs = 50;

  explicit TSampleTest(TestEnvironment env);

  // Starts the engine on the block and runs the dialog or the unattended test.
  bool Entry(const TDeviceParams& block, bool show);

  // One step of the engine; true (and the test counts as passed) when the card answered.
  bool ReadOnce();

  bool ready() const { return ready_; }
  bool debug_mode() const { return debug_; }
  bool succeeded() const { return success_; }
  // The tag under test, nullptr when there is none.
  const TTagInfo* test_tag() const { return tag_; }

  ui::StringGrid& StringGrid1;
  ui::Button& ExitBtn;
  ui::Button& DebugBtn;
  ui::Button& PauseBtn;
  ui::Panel& DebugPn;
  ui::Label& Label1;
  ui::Edit& AddrEd;
  ui::Label& Label2;
  ui::Edit& wValueMsg;
  ui::Label& Label3;
  ui::Edit& wStrMsg;
  ui::CheckBox& ReadCk;
  ui::CheckBox& WriteCk;
  ui::RadioGroup& TypeGroup;
  ui::Label& Label4;
  ui::Edit& CommMsg;
  ui::Label& Label5;
  ui::Edit& SysMsg;
  ui::Label& Label6;
  ui::Edit& AskMsg;
  ui::Label& Label7;
  ui::Edit& AnswerMsg;
  ui::Button& AskBtn;
  ui::Timer& Timer1;

 private:
  // The form's event handlers, wired in the constructor.
  void Timer1Timer();
  void DebugBtnClick();
  void AskBtnClick();
  void ReadCkClick();
  void WriteCkClick();
  void PauseBtnClick();
  void wValueMsgChange();
  void AddrEdChange();
  void ExitBtnClick();
  void FormClose(int& modal_result);
  void FormCreate();
  TBaseDLLObject* Engine() const { return env_.engine ? env_.engine() : nullptr; }
  // IniDriver with the test tag list; every start puts a new engine into the slot.
  bool restart();
  // The start's message, or the occupied-port text when the engine switched itself off.
  void show_engine_state();
  // The tag of the block's default test address (filled in), or nullptr when it has none.
  TTagInfo* default_tag();
  void build_single_tag();

  TestEnvironment env_;
  TDeviceParams block_{};
  TTagInfo default_tag_{};
  TTagInfo single_tag_{};
  TTagInfo* tag_ = nullptr;  // the one tag the test runs on
  std::string message_;
  bool ready_ = false;
  bool debug_ = false;
  bool success_ = false;
  bool normalising_ = false;
};

// The address of the default test tag: the first digital input of the lowest configured card
// ("DI1:0,0.0" for card 1); empty when no card is configured.
std::string default_test_address(const TDeviceParams& block);
// What the write box's text writes: TRUE / FALSE in any letter case as a Boolean, otherwise the
// text as a decimal number, 0 when it is none.
TVariant write_value_of(std::string_view text);
// A tag value as the grid shows it.
std::string value_text(const TVariant& value);
// The command text sent for the typed one: a CR appended, at most 255 bytes, never half a character.
std::string ask_text(std::string_view typed);

}  // namespace vorel::dialogs
