// The exports as the host sees them, on threads with and without an engine. A scripted engine
// stands in for the real one so the boundary's own rules are what is checked here.
#include "interface/exports.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host_memory.h"
#include "interface/engine_adapter.h"
#include "interface/module.h"
#include "interface/seams.h"

namespace vorel {
namespace {

using testing_support::HostMemory;

const std::string kNoDevice = "通讯设备初始化失败";

struct EngineLog {
  std::atomic<int> created_first{0}, created_temporary{0}, destroyed{0}, stopped{0};
  std::atomic<bool> throw_on_start{false};
  std::promise<void>* hold_start = nullptr;  // when set, IniDLLObj waits for it
  void reset() {
    created_first = created_temporary = destroyed = stopped = 0;
    throw_on_start = false;
    hold_start = nullptr;
  }
};
EngineLog g_log;
constexpr int32_t kFaultyTag = 98;  // the engine throws on its registration and on its writes

class ScriptedEngine : public DriverEngine {
 public:
  bool IniDLLObj(const TDeviceParams& block, std::span<const TTagInfo* const> tags) override {
    if (g_log.throw_on_start) throw std::runtime_error("start-up failed");
    if (g_log.hold_start) g_log.hold_start->get_future().wait();
    block_card_count = block.CurCardNo;
    for (const TTagInfo* t : tags) started_ids.push_back(t->TagID);
    pending = "驱动程序加载失败：无合法标签！\r\n";
    return !tags.empty();
  }
  int32_t AddTagLists(std::span<const TTagInfo* const> tags, int32_t* results) override {
    if (tags[0]->TagID == kFaultyTag) throw std::runtime_error("registration failed");
    for (size_t i = 0; i < tags.size(); ++i) results[i] = tags[i]->TagID < 0 ? 1 : 0;
    return std::any_of(tags.begin(), tags.end(), [](const TTagInfo* t) { return t->TagID < 0; }) ? 1 : 0;
  }
  void set_host_event(uint32_t handle) override { host_event = handle; }
  int32_t ScanTime() const override { return scan_time; }
  void ReadExecute() override {
    ++read_steps;
    pending = "read step";
  }
  int32_t report_tags(TTagValue* values) override {
    values[0].TagID = 7;
    values[1].TagID = 8;
    return 2;
  }
  std::optional<bool> write_record(const TTagValue& r) override {
    written_ids.push_back(r.TagID);
    if (r.TagID == kFaultyTag) throw std::runtime_error("write failed");
    if (r.TagID < 0) return std::nullopt;  // not a registered tag
    return r.TagID % 2 == 0;
  }
  void ReadExecuteEx(int32_t id) override { read_ids.push_back(id); }
  std::string sErrEvent() const override { return pending; }
  void WriteCommEvent(const std::string& text) override { pending = text; }
  void WriteEnLog(bool enable) override { en_log = enable; }
  void Stop() override { ++g_log.stopped; }
  bool CheckTagAddr(const TDeviceParams&, std::string& address) override {
    const bool ok = address.rfind("DI", 0) == 0;
    if (ok) address = "DI1:0.0";
    pending = ok ? "" : "地址错误";
    return ok;
  }
  ~ScriptedEngine() override { ++g_log.destroyed; }

  std::string pending;
  int32_t scan_time = 10;
  int block_card_count = 0;
  int read_steps = 0;
  bool en_log = true;
  uint32_t host_event = 0;
  std::vector<int32_t> started_ids, written_ids, read_ids;
};

std::unique_ptr<DriverEngine> make_scripted(bool first_instance) {
  ++(first_instance ? g_log.created_first : g_log.created_temporary);
  return std::make_unique<ScriptedEngine>();
}

ScriptedEngine* current() { return static_cast<ScriptedEngine*>(module::current_engine()); }

TTagInfo tag(int32_t id) {
  TTagInfo t{};
  t.TagID = id;
  std::strcpy(t.TagAddr, "DI1:0.0");
  return t;
}

TTagValue value(int32_t id) {
  TTagValue v{};
  v.TagID = id;
  v.ValueType = kValueDigital;
  return v;
}

// Every run-time export on a thread that never started an engine.
void expect_no_engine_answers() {
  const HostMemory& memory = HostMemory::instance();
  const int32_t live = memory.live();
  char* message = nullptr;
  EXPECT_EQ(DetectScanTime(), 1000);

  int32_t count = 99;
  TTagValue values[2]{};
  EXPECT_EQ(OnDataRead(&count, values, &message), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(memory.take(message), kNoDevice);

  EXPECT_EQ(OnDataWrite(1, values, &message), 0);
  EXPECT_EQ(memory.take(message), kNoDevice);
  EXPECT_EQ(OnDataWrite(0, values, &message), 0);
  EXPECT_EQ(memory.take(message), kNoDevice);

  int32_t ids[2] = {1, 2};
  EXPECT_EQ(ReadTags(0, ids, 0), 1);
  EXPECT_EQ(ReadTags(2, nullptr, 0), 1);
  EXPECT_EQ(ReadTags(2, ids, 0), 0);
  EXPECT_EQ(WriteTags(0, values, 0), 1);
  EXPECT_EQ(WriteTags(2, values, 0), 1);

  EXPECT_EQ(GetDeviceStatus(&message), 1);
  EXPECT_EQ(memory.take(message), kNoDevice);
  WriteLog(1, &message);
  EXPECT_EQ(memory.take(message), kNoDevice);
  EXPECT_EQ(FreeDriver(), 1);
  EXPECT_EQ(IniDriverEx(0x1234), 1);
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};
  int32_t results[1] = {-7};
  EXPECT_EQ(AddTags(1, list, results), 1);
  EXPECT_EQ(results[0], -7) << "no engine, no verdict";
  EXPECT_EQ(memory.live(), live);
}

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    HostMemory::instance();
    g_log.reset();
    module::destroy_current_engine();
  }
  void TearDown() override {
    module::destroy_current_engine();
    set_engine_factory(nullptr);
    module::set_admission_wait_ms(admission_wait_);
  }
  const HostMemory& memory_ = HostMemory::instance();
  TDeviceParams block_{};
  const uint32_t admission_wait_ = module::admission_wait_ms();
};

TEST_F(Exports, ThreadsWithoutEngineGetTheFixedAnswers) {
  expect_no_engine_answers();
  std::thread other(expect_no_engine_answers);
  other.join();
}

// The library's unload: the unloading thread's engine goes, the admission event and the slot are
// given back; a library loaded again starts afresh.
TEST_F(Exports, UnloadingDestroysTheEngineAndGivesBackWhatTheLoadTook) {
  set_engine_factory(&make_scripted);
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};
  char* message = nullptr;
  ASSERT_EQ(IniDriver(1, list, &block_, &message), 1);
  memory_.take(message);
  ASSERT_TRUE(module::loaded());

  module::unload();
  EXPECT_FALSE(module::loaded());
  EXPECT_EQ(g_log.destroyed, 1);
  EXPECT_EQ(module::admission_event(), nullptr);
  EXPECT_EQ(module::current_engine(), nullptr);
  module::unload();  // a second unload has nothing left to give back
  EXPECT_EQ(g_log.destroyed, 1);
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 0) << "no admission event, no start";
  EXPECT_EQ(memory_.take(message), "TLSEvent = 0");

  module::load();
  EXPECT_TRUE(module::loaded());
  ASSERT_NE(module::admission_event(), nullptr);
  EXPECT_EQ(DetectScanTime(), 1000) << "no engine after the new load";
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 1) << "the admission event is signalled again";
  memory_.take(message);
  EXPECT_EQ(DetectScanTime(), 10);
}

TEST_F(Exports, IniDriverWaitsFiveSecondsForAnotherThreadsStart) {
  EXPECT_EQ(module::admission_wait_ms(), 5000u);
}

TEST_F(Exports, IniDriverChecksItsArgumentsInOrder) {
  set_engine_factory(&make_scripted);
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};
  char* message = nullptr;
  EXPECT_EQ(IniDriver(1, nullptr, nullptr, &message), 0);
  EXPECT_EQ(memory_.take(message), "无效的标签列表。");
  EXPECT_EQ(IniDriver(1, nullptr, &block_, &message), 0);
  EXPECT_EQ(memory_.take(message), "无效的标签列表。");
  EXPECT_EQ(IniDriver(1, list, nullptr, &message), 0);
  EXPECT_EQ(memory_.take(message), "无效的参数信息。");
  EXPECT_EQ(IniDriver(1, list, nullptr, nullptr), 0) << "no message pointer: still no crash";
  EXPECT_EQ(g_log.created_first, 0);

  set_engine_factory([](bool) { return std::unique_ptr<DriverEngine>(); });
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 0) << "no engine could be made";
  memory_.take(message);
  EXPECT_EQ(module::current_engine(), nullptr);
  set_engine_factory(&make_scripted);
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 1) << "the admission was given back";
  memory_.take(message);
}

TEST_F(Exports, IniDriverStartsAnEngineAndHandsOverItsMessage) {
  set_engine_factory(&make_scripted);
  TTagInfo a = tag(3), b = tag(4), c = tag(5);
  TTagInfo* list[] = {&a, &b, &c};
  block_.CurCardNo = 9;
  char* message = nullptr;
  EXPECT_EQ(IniDriver(2, list, &block_, &message), 1);
  ASSERT_NE(current(), nullptr);
  EXPECT_EQ(current()->started_ids, (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(current()->block_card_count, 9);
  EXPECT_EQ(memory_.take(message), "驱动程序加载失败：无合法标签！\r\n");
  EXPECT_EQ(current()->pending, "") << "taking the message clears it";

  EXPECT_EQ(IniDriver(-4, list, &block_, &message), 0) << "a negative count is an empty list";
  EXPECT_TRUE(current()->started_ids.empty());
  memory_.release(message);
}

TEST_F(Exports, ASecondStartOnOneThreadDestroysTheEngineItReplaces) {
  set_engine_factory(&make_scripted);
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};
  char* message = nullptr;
  IniDriver(1, list, &block_, &message);
  memory_.release(message);
  IniDriver(1, list, &block_, &message);
  memory_.release(message);
  EXPECT_EQ(g_log.created_first, 2);
  EXPECT_EQ(g_log.destroyed, 1);
}

TEST_F(Exports, AFailedStartDoesNotBlockLaterStarts) {
  set_engine_factory(&make_scripted);
  module::set_admission_wait_ms(200);
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};
  char* message = nullptr;
  g_log.throw_on_start = true;
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 0);
  EXPECT_EQ(message, nullptr);
  EXPECT_NE(module::current_engine(), nullptr) << "a failed start leaves its engine in the slot";
  g_log.throw_on_start = false;
  EXPECT_EQ(IniDriver(1, list, &block_, &message), 1) << "the admission event was not given back";
  memory_.release(message);
}

TEST_F(Exports, OneStartAtATimeAcrossThreads) {
  set_engine_factory(&make_scripted);
  module::set_admission_wait_ms(100);
  std::promise<void> release_first;
  g_log.hold_start = &release_first;
  TTagInfo t = tag(1);
  TTagInfo* list[] = {&t};

  std::atomic<bool> first_inside{false};
  std::thread first([&] {
    char* m = nullptr;
    first_inside = true;
    IniDriver(1, list, &block_, &m);
    memory_.release(m);
  });
  while (!first_inside || g_log.created_first == 0) std::this_thread::yield();

  std::string second_message;
  std::thread second([&] {
    char* m = nullptr;
    EXPECT_EQ(IniDriver(1, list, &block_, &m), 0);
    second_message = memory_.take(m);
  });
  second.join();
  EXPECT_EQ(second_message, "设备不支持并发访问，共享冲突。");
  release_first.set_value();
  first.join();
  EXPECT_EQ(g_log.destroyed, 1) << "the first thread's engine goes with its thread";
  g_log.hold_start = nullptr;
}

TEST_F(Exports, AThreadsEngineIsDestroyedWhenTheThreadEnds) {
  set_engine_factory(&make_scripted);
  std::thread worker([&] {
    TTagInfo t = tag(1);
    TTagInfo* list[] = {&t};
    char* m = nullptr;
    IniDriver(1, list, &block_, &m);
    memory_.release(m);
    EXPECT_EQ(FreeDriver(), 1);
    EXPECT_EQ(g_log.stopped, 1);
    EXPECT_EQ(g_log.destroyed, 0) << "FreeDriver stops, it does not destroy";
    EXPECT_EQ(DetectScanTime(), 10) << "the stopped engine still answers";
  });
  worker.join();
  EXPECT_EQ(g_log.destroyed, 1);
  EXPECT_EQ(module::current_engine(), nullptr) << "the main thread never had one";
}

class WithEngine : public Exports {
 protected:
  void SetUp() override {
    Exports::SetUp();
    set_engine_factory(&make_scripted);
    TTagInfo t = tag(1);
    TTagInfo* list[] = {&t};
    char* message = nullptr;
    ASSERT_EQ(IniDriver(1, list, &block_, &message), 1);
    memory_.release(message);
    engine_ = current();
  }
  ScriptedEngine* engine_ = nullptr;
};

TEST_F(WithEngine, OnDataReadStepsTheEngineAndReportsItsRecords) {
  TTagValue values[4]{};
  int32_t count = -1;
  char* message = nullptr;
  EXPECT_EQ(OnDataRead(&count, values, &message), 1);
  EXPECT_EQ(engine_->read_steps, 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(values[1].TagID, 8);
  EXPECT_EQ(memory_.take(message), "read step");

  EXPECT_EQ(OnDataRead(&count, nullptr, &message), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(engine_->read_steps, 1) << "no values array, no step";
  EXPECT_EQ(memory_.take(message), kNoDevice);
}

TEST_F(WithEngine, OnDataWriteAnswersWithTheLastAttemptedWrite) {
  TTagValue values[] = {value(2), value(3), value(-1)};  // accepted, refused, skipped
  char* message = nullptr;
  EXPECT_EQ(OnDataWrite(3, values, &message), 0) << "the skipped record leaves the refusal standing";
  EXPECT_EQ(engine_->written_ids, (std::vector<int32_t>{2, 3, -1}));
  memory_.release(message);
  TTagValue accepted[] = {value(3), value(4)};
  EXPECT_EQ(OnDataWrite(2, accepted, &message), 1);
  memory_.release(message);
  TTagValue skipped[] = {value(-5)};
  EXPECT_EQ(OnDataWrite(1, skipped, &message), 0) << "nothing attempted";
  memory_.release(message);
  EXPECT_EQ(OnDataWrite(0, accepted, &message), 0);
  EXPECT_EQ(memory_.take(message), kNoDevice);
}

TEST_F(WithEngine, WriteTagsReportsAnyRefusal) {
  TTagValue good[] = {value(2), value(-1), value(4)};
  EXPECT_EQ(WriteTags(3, good, 0), 0);
  TTagValue mixed[] = {value(3), value(2)};
  EXPECT_EQ(WriteTags(2, mixed, 0), 1);
  EXPECT_EQ(WriteTags(0, mixed, 0), 1);
  TTagValue faulty[] = {value(kFaultyTag)};
  EXPECT_EQ(WriteTags(1, faulty, 0), 1) << "an engine's failure is a refusal";
}

TEST_F(WithEngine, ReadTagsAsksForEachTag) {
  int32_t ids[] = {5, 6, 7};
  EXPECT_EQ(ReadTags(3, ids, 0), 0);
  EXPECT_EQ(engine_->read_ids, (std::vector<int32_t>{5, 6, 7}));
}

TEST_F(WithEngine, StatusLogAndScanTime) {
  char* message = nullptr;
  engine_->pending = "通讯正常!";
  EXPECT_EQ(GetDeviceStatus(&message), 1);
  EXPECT_EQ(memory_.take(message), "通讯正常!");

  message = reinterpret_cast<char*>(0x1);
  WriteLog(0, &message);
  EXPECT_EQ(message, nullptr);
  EXPECT_TRUE(engine_->en_log) << "no pending text: the log switch stays";
  engine_->pending = "event";
  WriteLog(0, &message);
  EXPECT_FALSE(engine_->en_log);
  EXPECT_EQ(memory_.take(message), "event");

  engine_->scan_time = 0x12345;
  EXPECT_EQ(DetectScanTime(), 0x2345);
  EXPECT_EQ(IniDriverEx(0xBEEF), 1);
  EXPECT_EQ(engine_->host_event, 0xBEEFu);
}

TEST_F(WithEngine, AddTagsFillsOneVerdictPerTag) {
  TTagInfo good = tag(4), bad = tag(-2);
  TTagInfo* list[] = {&good, &bad};
  int32_t results[2] = {9, 9};
  EXPECT_EQ(AddTags(2, list, results), 1);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 1);
  EXPECT_EQ(AddTags(2, nullptr, results), 1);
  TTagInfo faulty = tag(kFaultyTag);
  TTagInfo* faulty_list[] = {&faulty};
  EXPECT_EQ(AddTags(1, faulty_list, results), 1) << "an engine's failure is a refusal";
}

TEST_F(WithEngine, TagEdAddrUsesATemporaryEngine) {
  char original[] = "di1:0.0";
  char* address = original;
  char* message = reinterpret_cast<char*>(0x1);
  EXPECT_EQ(TagEdAddr(&block_, &address, 1, &message), 1);
  EXPECT_EQ(message, nullptr);
  ASSERT_NE(address, original) << "the address comes back as a new host string";
  EXPECT_STREQ(address, "di1:0.0");
  memory_.release(address);

  address = original;
  original[0] = 'D';
  original[1] = 'I';
  EXPECT_EQ(TagEdAddr(&block_, &address, 0, &message), 1);
  EXPECT_EQ(memory_.take(address), "DI1:0.0");
  EXPECT_EQ(message, nullptr);

  char wrong[] = "XX";
  address = wrong;
  EXPECT_EQ(TagEdAddr(&block_, &address, 0, &message), 0);
  EXPECT_EQ(memory_.take(message), "地址错误");
  EXPECT_EQ(memory_.take(address), "XX");
  address = wrong;
  EXPECT_EQ(TagEdAddr(&block_, &address, 1, &message), 1) << "told to skip the check: taken as it is";
  EXPECT_EQ(memory_.take(address), "XX");
  EXPECT_EQ(message, nullptr);

  char empty[] = "";
  address = empty;
  EXPECT_EQ(TagEdAddr(nullptr, &address, 0, &message), 0);
  EXPECT_EQ(memory_.take(message), kNoDevice);
  EXPECT_EQ(address, nullptr) << "an empty address comes back as null";

  EXPECT_EQ(g_log.created_temporary, 5);
  EXPECT_EQ(g_log.destroyed, 5);
  EXPECT_EQ(current(), engine_) << "the thread's own engine is untouched";
}

TEST_F(WithEngine, TestDialogLeavesNoEngineBehind) {
  EXPECT_EQ(DLLTestDev(nullptr, 1), 0);
  EXPECT_EQ(current(), engine_);
  EXPECT_EQ(DLLTestDev(&block_, 0), 0);
  EXPECT_EQ(current(), nullptr);
  // The dialog's IniDriver replaced the thread's engine with its own, which DLLTestDev destroyed.
  EXPECT_EQ(g_log.destroyed, 2);
}

// ---------------------------------------------------------------- initial values of host tags

template <class T>
TVariantBytes host_variant(uint16_t vt, T value) {
  TVariantBytes v{};
  v.vt = vt;
  std::memcpy(v.value, &value, sizeof value);
  return v;
}

// Every VARIANT kind the host may put into a tag record's initial value, as the engine takes it;
// the kinds by their codes in the host's VARIANT (VT_I2 is 2, VT_BSTR 8, …), the host's own string 0x100.
TEST(HostInitialValues, EachVariantKindBecomesTheEnginesValue) {
  struct Bstr {  // a BSTR points at its text; its length in bytes stands in front of it
    uint32_t bytes;
    char16_t text[3];
  } bstr = {4, u"开关"};
  const char* host_text = "文本";
  std::u16string long_bstr(2 + 40000, u'x');  // two units of length prefix, then the text
  const uint32_t long_bytes = 80000;
  std::memcpy(long_bstr.data(), &long_bytes, sizeof long_bytes);
  const struct {
    const char* kind;
    TVariantBytes in;
    TVariant out;
  } kCases[] = {
      {"empty", host_variant(0, 0), TVariant()},
      {"I1", host_variant(16, int8_t{-5}), TVariant::Int(-5)},
      {"UI1", host_variant(17, uint8_t{250}), TVariant::Int(250)},
      {"I2", host_variant(2, int16_t{-300}), TVariant::Int(-300)},
      {"UI2", host_variant(18, uint16_t{65000}), TVariant::Int(65000)},
      {"I4", host_variant(3, int32_t{-70000}), TVariant::Int(-70000)},
      {"UI4 of an Integer's size", host_variant(19, uint32_t{0x7FFFFFFF}), TVariant::Int(0x7FFFFFFF)},
      {"UI4 beyond it", host_variant(19, uint32_t{0x80000000u}), TVariant::Double(2147483648.0)},
      {"I8", host_variant(20, int64_t{-5000000000}), TVariant::Double(-5e9)},
      {"UI8", host_variant(21, uint64_t{5000000000}), TVariant::Double(5e9)},
      {"R4", host_variant(4, 1.5f), TVariant::Double(1.5)},
      {"R8", host_variant(5, 2.25), TVariant::Double(2.25)},
      {"date", host_variant(7, 46000.5), TVariant::Double(46000.5)},
      {"currency: ten-thousandths", host_variant(6, int64_t{12345}), TVariant::Double(1.2345)},
      {"boolean true", host_variant(11, int16_t{-1}), TVariant::Bool(true)},
      {"boolean false", host_variant(11, int16_t{0}), TVariant::Bool(false)},
      {"BSTR", host_variant(8, static_cast<const char16_t*>(bstr.text)), TVariant::String("开关")},
      {"null BSTR", host_variant(8, static_cast<const char16_t*>(nullptr)), TVariant::String("")},
      {"BSTR longer than 64 KB, cut there",
       host_variant(8, static_cast<const char16_t*>(long_bstr.data() + 2)),
       TVariant::String(std::string(32768, 'x'))},
      {"host string", host_variant(0x100, host_text), TVariant::String("文本")},
      {"null host string", host_variant(0x100, static_cast<const char*>(nullptr)), TVariant::String("")},
      {"any other kind, kept as it came", host_variant(13, uint64_t{0x0807060504030201}),
       TVariant::Opaque(13, {1, 2, 3, 4, 5, 6, 7, 8})},
  };
  for (const auto& c : kCases) {
    const TVariant value = from_host_variant(c.in);
    EXPECT_EQ(value.kind(), c.out.kind()) << c.kind;
    EXPECT_TRUE(value == c.out) << c.kind;
  }
}

}  // namespace
}  // namespace vorel
