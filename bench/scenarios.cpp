#include "scenarios.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "card/DLLRealize.h"
#include "engine/DLLBase.h"
#include "interface/engine_adapter.h"
#include "interface/exports.h"
#include "interface/seams.h"
#include "support/delphi.h"
#include "tests/common/manual_clock.h"

namespace bench {

namespace {

struct ScratchFolder {
  ScratchFolder() {
    path =
        std::filesystem::temp_directory_path() / ("vorel_bench_" + std::to_string(platform::monotonic_ns()));
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

struct TagSet {
  TagSet(int count, const char* type, uint32_t scan_period) : records(count) {
    for (int i = 0; i < count; ++i) {
      TTagInfo& t = records[i];
      std::memset(&t, 0, sizeof t);
      t.TagID = i;
      std::snprintf(t.TagName, sizeof t.TagName, "Tag%d", i);
      // 16 channels x 16 bits of card 1, repeated: every address is valid on a PCI_7505.
      std::snprintf(t.TagAddr, sizeof t.TagAddr, "%s1:0,%d.%d", type, (i / 16) % 16, i % 16);
      t.ValueType = 1;
      t.ScanPeriod = scan_period;
    }
    for (auto& r : records) pointers.push_back(&r);
  }
  int32_t count() const { return static_cast<int32_t>(records.size()); }
  std::vector<TTagInfo> records;
  std::vector<TTagInfo*> pointers;
};

TDeviceParams default_block() {
  TDeviceParams b{};
  ::FullPDB(&b);
  b.DebugSwitch = 0;
  return b;
}

void release(char*& s) {  // no shared memory manager here: host strings come from the process heap
  platform::process_heap_free(s);
  s = nullptr;
}

// A card layer that answers every exchange at once, so polls run the whole machine.
struct AnsweringEngine : vorel::TBaseDLLObject {
  explicit AnsweringEngine(bool first) : TBaseDLLObject(first) {}
  bool GetResult() override { return true; }
};
std::unique_ptr<vorel::DriverEngine> make_answering(bool first) {
  return std::make_unique<vorel::EngineAdapter>(std::make_unique<AnsweringEngine>(first));
}
std::unique_ptr<vorel::DriverEngine> make_silent(bool first) {
  return std::make_unique<vorel::EngineAdapter>(std::make_unique<vorel::TBaseDLLObject>(first));
}

class PollNothingChanged : public Scenario {
 public:
  PollNothingChanged() {
    vorel::set_engine_factory(&make_answering);
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message_);
    release(message_);
    for (int i = 0; i < 8; ++i) Step();  // the six start-up reports, the first steps of the machine
    release(message_);
  }
  ~PollNothingChanged() override {
    FreeDriver();
    vorel::set_engine_factory(nullptr);
  }
  void Step() override {
    clock_.advance(1);
    OnDataRead(&count_, values_.data(), &message_);
  }

 private:
  platform::ManualClock clock_{1000};
  platform::ScopedClock use_{clock_};
  TagSet tags_{1024, "DI", 0};
  TDeviceParams block_ = default_block();
  std::vector<TTagValue> values_ = std::vector<TTagValue>(1024);
  int32_t count_ = 0;
  char* message_ = nullptr;
};

class CompareFloor : public Scenario {
 public:
  void Step() override {
    int changed = 0;
    for (size_t i = 0; i < now_.size(); ++i) changed += std::memcmp(&now_[i], &reported_[i], 16) != 0;
    sink_ = sink_ + changed;
  }

 private:
  struct Value16 {
    uint64_t a, b;
  };
  std::vector<Value16> now_ = std::vector<Value16>(1024, Value16{1, 2});
  std::vector<Value16> reported_ = std::vector<Value16>(1024, Value16{1, 2});
  volatile int sink_ = 0;
};

class StartAndStop : public Scenario {
 public:
  StartAndStop() { vorel::set_engine_factory(&make_silent); }
  ~StartAndStop() override { vorel::set_engine_factory(nullptr); }
  void Step() override {
    char* message = nullptr;
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message);
    release(message);
    FreeDriver();
  }

 private:
  TagSet tags_{1024, "DI", 1000};
  TDeviceParams block_ = default_block();
};

class CheckAddress : public Scenario {
 public:
  CheckAddress() { vorel::set_engine_factory(&make_silent); }
  ~CheckAddress() override { vorel::set_engine_factory(nullptr); }
  void Step() override {
    char text[] = "di1:0,3.5";
    char* address = text;
    char* message = nullptr;
    TagEdAddr(&block_, &address, 0, &message);
    release(address);
    release(message);
  }

 private:
  TDeviceParams block_ = default_block();
};

struct LogEngine : vorel::TBaseDLLObject {
  LogEngine() : TBaseDLLObject(false) {}
  ~LogEngine() override { Destroy(); }
  using TBaseDLLObject::AppendLog;
};

class LogLine : public Scenario {
 public:
  void Step() override { engine_.AppendLog(line_); }

 private:
  LogEngine engine_;
  std::string line_ = vorel::now_text() + "：读扫描周期（毫秒）=10\r\n";
};

class WriteIntoLongQueue : public Scenario {
 public:
  WriteIntoLongQueue() {
    vorel::set_engine_factory(&make_silent);
    char* message = nullptr;
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message);
    release(message);
    for (int32_t id = 0; id < 299; ++id) write(id, 1);  // no poll runs, so nothing leaves the queue
  }
  ~WriteIntoLongQueue() override {
    FreeDriver();
    vorel::set_engine_factory(nullptr);
  }
  // The first tag's write waits at the front of the queue: repeating it scans all 299 chains
  // before it is found to be a duplicate (and refused without building anything).
  void Step() override { write(0, 1); }

 private:
  void write(int32_t id, int32_t on) {
    TTagValue v{};
    v.TagID = id;
    v.ValueType = 1;
    std::memcpy(v.Value, &on, 4);
    char* message = nullptr;
    OnDataWrite(1, &v, &message);
    release(message);
  }
  platform::ManualClock clock_{1000};
  platform::ScopedClock use_{clock_};
  TagSet tags_{300, "DO", 0};
  TDeviceParams block_ = default_block();
};

// ---------------------------------------------------------------- a full bank of cards

constexpr int kBankCards = vorel::kCardCount;
constexpr int kCardChannels = 16;
constexpr uint32_t kHostPollMs = 10;

// The default block's card 1 repeated as cards 1..32, 32 ports apart.
TDeviceParams card_bank_block() {
  TDeviceParams b = default_block();
  const vorel::TCardParams first = *b.card(1);
  for (int n = 1; n <= kBankCards; ++n) {
    vorel::TCardParams card = first;
    card.CardNo = n;
    card.BaseAddress = vorel::kDefaultBaseAddress + 0x20 * (n - 1);
    *b.card(n) = card;
  }
  return b;
}

// Every input and every output of every card: DI channels 0..15, then DO channels 0..15, card by card.
struct CardBankTags {
  CardBankTags() {
    for (int n = 1; n <= kBankCards; ++n)
      for (const char* type : {"DI", "DO"})
        for (int c = 0; c < kCardChannels; ++c) {
          TTagInfo t;
          std::memset(&t, 0, sizeof t);
          t.TagID = static_cast<int32_t>(records.size());
          std::snprintf(t.TagName, sizeof t.TagName, "%s_%d_%d", type, n, c);
          std::snprintf(t.TagAddr, sizeof t.TagAddr, "%s%d:0,%d.0", type, n, c);
          t.ValueType = 1;
          records.push_back(t);
        }
    for (auto& r : records) pointers.push_back(&r);
  }
  int32_t count() const { return static_cast<int32_t>(records.size()); }
  std::vector<TTagInfo> records;
  std::vector<TTagInfo*> pointers;
};

// The driver's card engine, with its read rotation in view: the cycle figures come from the
// engine's own command list, not from arithmetic about it.
struct CardBankEngine : vorel::TDLLObject {
  explicit CardBankEngine(bool first) : TDLLObject(first) {}
  int read_commands() const {
    int n = 0;
    for (const vorel::CommandChain& chain : CmdList)
      for (const vorel::TCommand* c = chain.get(); c; c = c->Next.get()) ++n;
    return n;
  }
  int32_t ReadCycleMs() const { return LastCycleMs; }
};

CardBankEngine* g_card_bank_engine = nullptr;  // the engine the last IniDriver of the scenario made
std::unique_ptr<vorel::DriverEngine> make_card_bank(bool first) {
  auto engine = std::make_unique<CardBankEngine>(first);
  g_card_bank_engine = engine.get();
  return std::make_unique<vorel::EngineAdapter>(std::move(engine));
}

class PollCardBank : public Scenario {
 public:
  PollCardBank() {
    vorel::set_engine_factory(&make_card_bank);
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message_);
    release(message_);
    for (int i = 0; i < 8; ++i) Step();  // the six start-up reports, the first read commands
    release(message_);
    MeasureReadCycle();
  }
  ~PollCardBank() override {
    FreeDriver();
    vorel::set_engine_factory(nullptr);
    g_card_bank_engine = nullptr;
  }
  void Step() override {
    clock_.advance(kHostPollMs);
    OnDataRead(&count_, values_.data(), &message_);
  }
  std::vector<Figure> Figures() const override {
    return {{"tag", static_cast<double>(tags_.count()), true},
            {"read_commands", static_cast<double>(read_commands_)},
            {"polls_per_read_cycle", static_cast<double>(cycle_polls_)},
            {"read_cycle_ms", static_cast<double>(cycle_polls_ * kHostPollMs)},
            {"engine_read_cycle_ms", static_cast<double>(engine_cycle_ms_)},
            {"bound_ms", static_cast<double>(read_commands_ * kHostPollMs)}};
  }

 private:
  // Polls until every input tag was read once more, that is until every read command was
  // answered once; then lets the engine time a few full cycles of its own.
  void MeasureReadCycle() {
    read_commands_ = g_card_bank_engine ? g_card_bank_engine->read_commands() : 0;
    if (!g_card_bank_engine) return;
    std::vector<uint32_t> before;
    for (const auto& tag : g_card_bank_engine->tags()) before.push_back(tag->ReadCount);
    const auto all_read_again = [&] {
      const auto& tags = g_card_bank_engine->tags();
      for (size_t i = 0; i < tags.size(); ++i)
        if (tags[i]->TypeStr == "DI" && tags[i]->ReadCount <= before[i]) return false;
      return true;
    };
    while (!all_read_again() && cycle_polls_ < 100 * read_commands_) {
      Step();
      ++cycle_polls_;
    }
    for (int i = 0; i < 3 * read_commands_; ++i) Step();
    engine_cycle_ms_ = g_card_bank_engine->ReadCycleMs();
  }

  platform::ManualClock clock_{1000};
  platform::ScopedClock use_{clock_};
  CardBankTags tags_;
  TDeviceParams block_ = card_bank_block();
  std::vector<TTagValue> values_ = std::vector<TTagValue>(tags_.records.size());
  int32_t count_ = 0;
  char* message_ = nullptr;
  int read_commands_ = 0;
  int cycle_polls_ = 0;
  int32_t engine_cycle_ms_ = 0;
};

template <class T>
std::unique_ptr<Scenario> make() {
  return std::make_unique<T>();
}

}  // namespace

const std::vector<ScenarioInfo>& Scenarios() {
  static const std::vector<ScenarioInfo> all = {
      {"OnDataRead_1024Tags_NothingChanged", &make<PollNothingChanged>},
      {"Compare1024Values_Floor", &make<CompareFloor>},
      {"IniDriver_FreeDriver_1024Tags", &make<StartAndStop>},
      {"TagEdAddr", &make<CheckAddress>},
      {"AppendLog_Line", &make<LogLine>},
      {"OnDataWrite_Queue299", &make<WriteIntoLongQueue>},
      {"OnDataRead_32Cards_1024Tags_CardBank", &make<PollCardBank>},
  };
  return all;
}

void EnterScratchFolder() { static ScratchFolder folder; }

}  // namespace bench
