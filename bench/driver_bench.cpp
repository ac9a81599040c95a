// Hot paths of the driver as the host drives them, through the exports.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "engine/DLLBase.h"
#include "interface/engine_adapter.h"
#include "interface/exports.h"
#include "interface/seams.h"
#include "platform/manual_clock.h"
#include "support/delphi.h"

namespace {

// Every engine writes its run log below the current folder: keep it in a scratch folder.
struct ScratchFolder {
  ScratchFolder() {
    path = std::filesystem::temp_directory_path() / ("vorel_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};
ScratchFolder g_folder;

struct TagSet {
  explicit TagSet(int count, uint32_t scan_period = 0) : records(count) {
    for (int i = 0; i < count; ++i) {
      TTagInfo& t = records[i];
      std::memset(&t, 0, sizeof t);
      t.TagID = i;
      std::snprintf(t.TagName, sizeof t.TagName, "Tag%d", i);
      // 16 channels x 16 bits of card 1, repeated: every address is valid on a PCI_7505.
      std::snprintf(t.TagAddr, sizeof t.TagAddr, "DI1:0,%d.%d", (i / 16) % 16, i % 16);
      t.ValueType = 1;
      t.ScanPeriod = scan_period;
    }
    for (auto& r : records) pointers.push_back(&r);
  }
  std::vector<TTagInfo> records;
  std::vector<TTagInfo*> pointers;
};

TDeviceParams default_block() {
  TDeviceParams b{};
  ::FullPDB(&b);
  b.DebugSwitch = 0;
  return b;
}

void free_host_string(char* s) { std::free(s); }  // no shared manager in the benchmark process

// A card layer that answers every exchange at once, so polls run the whole machine.
struct AnsweringEngine : vorel::TBaseDLLObject {
  AnsweringEngine(bool first) : TBaseDLLObject(first) {}
  bool GetResult() override { return true; }
};
std::unique_ptr<vorel::DriverEngine> make_answering(bool first) {
  return std::make_unique<vorel::EngineAdapter>(std::make_unique<AnsweringEngine>(first));
}

// OnDataRead with 1,024 registered tags, every one due at every poll, none of them changed.
void BM_OnDataRead_NothingChanges(benchmark::State& state) {
  platform::ManualClock clock(1000);
  platform::ScopedClock use(clock);
  vorel::SetEngineFactory(&make_answering);
  TagSet tags(1024);
  TDeviceParams block = default_block();
  char* message = nullptr;
  IniDriver(1024, tags.pointers.data(), &block, &message);
  free_host_string(message);
  std::vector<TTagValue> values(1024);
  int32_t count = 0;
  for (int i = 0; i < 8; ++i) {  // the six start-up reports, and the first steps of the machine
    clock.advance(1);
    OnDataRead(&count, values.data(), &message);
    free_host_string(message);
  }
  const long before = bench::allocations();
  int64_t reported = 0;
  for (auto _ : state) {
    clock.advance(1);
    OnDataRead(&count, values.data(), &message);
    reported += count;
  }
  state.counters["allocs_per_call"] =
      static_cast<double>(bench::allocations() - before) / static_cast<double>(state.iterations());
  state.counters["reported"] = static_cast<double>(reported);
  FreeDriver();
  vorel::SetEngineFactory(nullptr);
}
BENCHMARK(BM_OnDataRead_NothingChanges);

// The physical floor: compare 1,024 16-byte values with their last reported copies.
void BM_Compare1024Values(benchmark::State& state) {
  struct Value16 {
    uint64_t a, b;
  };
  std::vector<Value16> now(1024, {1, 2}), reported(1024, {1, 2});
  for (auto _ : state) {
    int changed = 0;
    for (size_t i = 0; i < now.size(); ++i) changed += std::memcmp(&now[i], &reported[i], 16) != 0;
    benchmark::DoNotOptimize(changed);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Compare1024Values);

// Start and stop of an engine with 1,024 tags, start and stop reports included.
void BM_IniDriverFreeDriver(benchmark::State& state) {
  TagSet tags(1024, 1000);
  TDeviceParams block = default_block();
  for (auto _ : state) {
    char* message = nullptr;
    IniDriver(1024, tags.pointers.data(), &block, &message);
    free_host_string(message);
    FreeDriver();
  }
}
BENCHMARK(BM_IniDriverFreeDriver)->Unit(benchmark::kMillisecond);

// Checking one address for the host's tag editor, temporary engine included.
void BM_TagEdAddr(benchmark::State& state) {
  TDeviceParams block = default_block();
  for (auto _ : state) {
    char text[] = "di1:0,3.5";
    char* address = text;
    char* message = nullptr;
    TagEdAddr(&block, &address, 0, &message);
    free_host_string(address);
    free_host_string(message);
  }
}
BENCHMARK(BM_TagEdAddr)->Unit(benchmark::kMicrosecond);

// Run-log lines per second.
struct LogProbe : vorel::TBaseDLLObject {
  LogProbe() : TBaseDLLObject(false) {}
  using TBaseDLLObject::AppendLog;
};
void BM_AppendLog(benchmark::State& state) {
  LogProbe engine;
  const std::string line = vorel::NowText() + "：读扫描周期（毫秒）=10\r\n";
  for (auto _ : state) engine.AppendLog(line);
  state.SetItemsProcessed(state.iterations());
  engine.Destroy();
}
BENCHMARK(BM_AppendLog);

// A write request while 299 write chains wait in the queue (the duplicate scan is linear).
void BM_OnDataWrite_Queue299(benchmark::State& state) {
  platform::ManualClock clock(1000);
  platform::ScopedClock use(clock);
  TagSet tags(300);
  for (auto& t : tags.records) std::snprintf(t.TagAddr, sizeof t.TagAddr, "DO1:0,%d.%d", (t.TagID / 16) % 16, t.TagID % 16);
  TDeviceParams block = default_block();
  char* message = nullptr;
  IniDriver(300, tags.pointers.data(), &block, &message);
  free_host_string(message);
  // No poll runs, so the machine never takes a write off the queue.
  TTagValue v{};
  v.ValueType = 1;
  for (int32_t id = 0; id < 299; ++id) {
    v.TagID = id;
    const int32_t on = 1;
    std::memcpy(v.Value, &on, 4);
    OnDataWrite(1, &v, &message);
    free_host_string(message);
  }
  int32_t flip = 0;
  for (auto _ : state) {
    v.TagID = 299;
    flip ^= 1;
    std::memcpy(v.Value, &flip, 4);
    // The first request fills the 300th place; later ones scan the full queue and are refused.
    benchmark::DoNotOptimize(OnDataWrite(1, &v, &message));
    free_host_string(message);
  }
  FreeDriver();
}
BENCHMARK(BM_OnDataWrite_Queue299)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
