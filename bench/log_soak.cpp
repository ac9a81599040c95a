// What the run log takes on disk over days: the demo device of `make run` (demo/: 35 tags, card 1
// wired back to itself, an output bit walking every 250 ms) with all three log switches on, polled
// every 10 ms for seven simulated days on a clock of its own. On the fourth day the disk is full
// for an hour. At the end of every day it prints the largest file of the log folder, the folder's
// bytes, and the lines written and lost so far. `make log-soak`; `log_soak DAYS` for another span.
//
// Lines written are counted in every file of the folder once, the archives as they appear (the
// driver deletes only the oldest, long after they were counted); lines lost are what the driver's
// own reports of lost lines say.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "interface/exports.h"
#include "platform/posix/test_stores.h"
#include "support/delphi.h"
#include "tools/hostsim/tag_table.h"
#include "tools/hostsim/write_script.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPollMs = 10;
constexpr uint32_t kPollsPerDay = 24 * 3600 * 1000 / kPollMs;
constexpr uint32_t kCountEveryPolls = 1000;  // the folder is looked at every 10 simulated seconds
constexpr int kFullDiskDay = 4;              // from 02:00 to 03:00 of this day

// The host's clock: ticks in milliseconds, and the local time that far after midnight of day one.
class SoakClock : public platform::Clock {
 public:
  uint32_t ticks() override { return static_cast<uint32_t>(ms_); }
  platform::LocalDateTime now() override {
    const uint64_t day_ms = ms_ % (24 * 3600 * 1000ull);
    platform::LocalDateTime t = vorel::add_days({2026, 12, 7}, static_cast<int>(ms_ / (24 * 3600 * 1000ull)));
    t.hour = static_cast<int>(day_ms / 3600000);
    t.minute = static_cast<int>(day_ms / 60000 % 60);
    t.second = static_cast<int>(day_ms / 1000 % 60);
    return t;
  }
  void advance(uint32_t ms) { ms_ += ms; }
  uint64_t elapsed_ms() const { return ms_; }

 private:
  uint64_t ms_ = 0;
};

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Lines lost, as the driver's reports of them in `text` say ("…起共丢失N行记录…").
uint64_t reported_losses(const std::string& text) {
  const std::string before = "起共丢失", after = "行记录";
  uint64_t lost = 0;
  for (size_t at = text.find(before); at != std::string::npos; at = text.find(before, at + 1))
    lost += std::strtoull(text.c_str() + at + before.size(), nullptr, 10);
  return lost;
}

// Every file of the log folder counted once: archives when they are first seen, the current log
// at the end.
class Tally {
 public:
  explicit Tally(fs::path folder) : folder_(std::move(folder)) {}

  void look() {
    if (!fs::exists(folder_)) return;
    for (const auto& f : fs::directory_iterator(folder_)) {
      const std::string name = f.path().filename().string();
      if (name == "Vorel_PCI.Log" || counted_.contains(name)) continue;
      count(f.path());
      counted_[name] = true;
    }
  }
  void finish() {
    look();
    if (fs::exists(folder_ / "Vorel_PCI.Log")) count(folder_ / "Vorel_PCI.Log");
  }
  // Size of the largest file and all files' bytes, as the folder stands.
  std::pair<uint64_t, uint64_t> sizes() const {
    uint64_t largest = 0, total = 0;
    for (const auto& f : fs::directory_iterator(folder_)) {
      largest = std::max<uint64_t>(largest, f.file_size());
      total += f.file_size();
    }
    return {largest, total};
  }
  uint64_t lines = 0, lost = 0;
  size_t files = 0;

 private:
  void count(const fs::path& file) {
    const std::string text = hostsim::read_text_file(file.string()).value_or("");
    lines += count_of(text, "\r\n");
    lost += reported_losses(text);
    ++files;
  }
  fs::path folder_;
  std::map<std::string, bool> counted_;
};

void release(char*& s) {  // no shared memory manager here: host strings come from the process heap
  platform::process_heap_free(s);
  s = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const int days = argc > 1 ? std::atoi(argv[1]) : 7;
  const fs::path run = fs::current_path() / "log_soak";
  fs::remove_all(run);
  fs::create_directories(run);
  fs::current_path(run);  // the run log: .\Debug\Vorel_PCI.Log
  setenv("PCI7505_SIM", "loopback=1", 1);

  std::string error;
  const auto tags =
      hostsim::parse_tag_table(hostsim::read_text_file(DEMO_DIR "/tags.csv").value_or(""), error);
  auto script = tags ? hostsim::WriteScript::parse(
                           hostsim::read_text_file(DEMO_DIR "/writes.txt").value_or(""), *tags, error)
                     : std::nullopt;
  if (!tags || !script) {
    std::fprintf(stderr, "log_soak: the demo project cannot be read: %s\n", error.c_str());
    return 1;
  }
  SoakClock clock;
  platform::set_clock(&clock);
  vorel::InitLogPath();

  vorel::TDeviceParams block{};
  ::FullPDB(&block);
  block.DebugSwitch = block.ErrorLog = block.TraceLog = 1;
  hostsim::TagRecords records(*tags);
  char* message = nullptr;
  if (!::IniDriver(records.count(), records.pointers(), &block, &message)) {
    std::fprintf(stderr, "log_soak: IniDriver failed\n");
    return 1;
  }
  release(message);

  Tally tally(run / "Debug");
  std::vector<vorel::TTagValue> values(tags->size());
  std::printf("day  largest file   folder bytes  files  lines written  lines lost\n");
  for (int day = 1; day <= days; ++day) {
    for (uint32_t poll = 0; poll < kPollsPerDay; ++poll) {
      clock.advance(kPollMs);
      if (day == kFullDiskDay && poll == 2 * 3600 * 100)
        platform::test_stores::set_file_fault("Debug", platform::test_stores::FileFault::kDiskFull);
      if (day == kFullDiskDay && poll == 3 * 3600 * 100)
        platform::test_stores::set_file_fault("Debug", platform::test_stores::FileFault::kNone);
      for (const hostsim::ScriptedWrite* w : script->due(static_cast<uint32_t>(clock.elapsed_ms()))) {
        vorel::TTagValue record = hostsim::write_record(w->tag_id, w->value);
        ::OnDataWrite(1, &record, &message);
        release(message);
      }
      int32_t count = 0;
      ::OnDataRead(&count, values.data(), &message);
      release(message);
      for (int32_t i = 0; i < count; ++i)
        if (values[static_cast<size_t>(i)].ValueType == vorel::kValueString) {
          char* text = nullptr;
          std::memcpy(&text, values[static_cast<size_t>(i)].Value, sizeof text);
          release(text);
        }
      if (poll % kCountEveryPolls == 0) tally.look();
    }
    tally.look();
    const auto [largest, total] = tally.sizes();
    std::printf("%3d %13llu %14llu %6zu %14llu %11llu\n", day, static_cast<unsigned long long>(largest),
                static_cast<unsigned long long>(total), tally.files,
                static_cast<unsigned long long>(tally.lines), static_cast<unsigned long long>(tally.lost));
    std::fflush(stdout);
  }
  ::FreeDriver();
  tally.finish();
  const auto [largest, total] = tally.sizes();
  std::printf("end %13llu %14llu %6zu %14llu %11llu   (current log counted)\n",
              static_cast<unsigned long long>(largest), static_cast<unsigned long long>(total), tally.files,
              static_cast<unsigned long long>(tally.lines), static_cast<unsigned long long>(tally.lost));
  platform::set_clock(nullptr);
  return 0;
}
