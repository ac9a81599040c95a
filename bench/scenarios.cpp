#include "scenarios.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/DLLBase.h"
#include "interface/engine_adapter.h"
#include "interface/exports.h"
#include "interface/seams.h"
#include "platform/manual_clock.h"
#include "support/delphi.h"

namespace bench {

namespace {

struct ScratchFolder {
  ScratchFolder() {
    path = std::filesystem::temp_directory_path() / ("vorel_bench_" + std::to_string(platform::monotonic_ns()));
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

void release(char*& s) {  // no shared memory manager here: host strings come from the heap
  std::free(s);
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
    vorel::SetEngineFactory(&make_answering);
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message_);
    release(message_);
    for (int i = 0; i < 8; ++i) Step();  // the six start-up reports, the first steps of the machine
    release(message_);
  }
  ~PollNothingChanged() override {
    FreeDriver();
    vorel::SetEngineFactory(nullptr);
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
  StartAndStop() { vorel::SetEngineFactory(&make_silent); }
  ~StartAndStop() override { vorel::SetEngineFactory(nullptr); }
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
  CheckAddress() { vorel::SetEngineFactory(&make_silent); }
  ~CheckAddress() override { vorel::SetEngineFactory(nullptr); }
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
  std::string line_ = vorel::NowText() + "：读扫描周期（毫秒）=10\r\n";
};

class WriteIntoLongQueue : public Scenario {
 public:
  WriteIntoLongQueue() {
    vorel::SetEngineFactory(&make_silent);
    char* message = nullptr;
    IniDriver(tags_.count(), tags_.pointers.data(), &block_, &message);
    release(message);
    for (int32_t id = 0; id < 299; ++id) Write(id, 1);  // no poll runs, so nothing leaves the queue
  }
  ~WriteIntoLongQueue() override {
    FreeDriver();
    vorel::SetEngineFactory(nullptr);
  }
  // The first request takes the 300th place; later ones scan the full queue and are refused.
  void Step() override { Write(299, flip_ ^= 1); }

 private:
  void Write(int32_t id, int32_t on) {
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
  int32_t flip_ = 0;
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
  };
  return all;
}

void EnterScratchFolder() { static ScratchFolder folder; }

}  // namespace bench
