// Stand-in for the SCADA host: loads the shared memory manager and the driver by name, and calls
// the driver's exports in the host's order with the host's records.
//
//   hostsim [--dll PATH] [--borlndmm PATH] [--check]
//
// Both libraries are taken from the directory of this program unless a path is given. With
// --check every key answer is verified and any mismatch makes the exit code non-zero.
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tools/hostsim/checker.h"
#include "tools/hostsim/configuration.h"
#include "tools/hostsim/console.h"
#include "tools/hostsim/driver_api.h"
#include "tools/hostsim/host_tags.h"
#include "tools/hostsim/run_time.h"

namespace {

using namespace hostsim;

enum ExitCode : int { kOk = 0, kFailed = 1, kNotLoaded = 2, kBadOptions = 3 };

struct Options {
  std::string driver_path;
  std::string manager_path;
  bool check = false;
};

std::string program_directory() {
  const std::string self = platform::own_module_path();
  const size_t cut = self.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : self.substr(0, cut + 1);
}

std::optional<Options> parse_options(int argc, char** argv) {
  Options o;
  const std::string dir = program_directory();
#if defined(_WIN32)
  o.driver_path = dir + "Vorel_PCI.dll";
  o.manager_path = dir + "borlndmm.dll";
#else
  o.driver_path = dir + "libVorel_PCI.so";
  o.manager_path = dir + "libborlndmm.so";
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--check") {
      o.check = true;
    } else if ((arg == "--dll" || arg == "--borlndmm") && i + 1 < argc) {
      (arg == "--dll" ? o.driver_path : o.manager_path) = argv[++i];
    } else {
      print_error("hostsim: unknown or incomplete option '" + std::string(arg) + "'");
      print_error("usage: hostsim [--dll PATH] [--borlndmm PATH] [--check]");
      return std::nullopt;
    }
  }
  return o;
}

bool report_load(std::string_view what, const std::string& path, const LoadProblems& problems) {
  if (!problems.library_missing.empty()) {
    print_error("hostsim: cannot load " + std::string(what) + " " + gbk_to_utf8(path));
    return false;
  }
  for (const std::string& name : problems.unresolved)
    print_error("hostsim: " + std::string(what) + " " + gbk_to_utf8(path) + " lacks the export " + name);
  if (!problems.ok()) return false;
  print_line(std::string(what) + ": " + gbk_to_utf8(path));
  return true;
}

// Every block the driver handed over must have come from the manager and gone back to it.
bool settle_memory(const MemoryManager& manager, const ReceivedStrings& strings, int32_t blocks_before,
                   Checker& checker) {
  const int32_t live = manager.live_blocks();
  const int32_t handed_out = manager.total_blocks() - blocks_before;
  print_line(strprintf("[memory manager] host strings received %d, manager blocks handed out %d, live %d",
                       strings.received(), handed_out, live));
  checker.expect_equal(handed_out, strings.received(), "every host string comes from the manager");
  checker.expect_equal(strings.free_failures(), 0, "SysFreeMem failures");
  if (live != 0) print_error(strprintf("hostsim: %d host string block(s) still live", live));
  return live == 0;
}

int run(const Options& options) {
  Checker checker(options.check);
  MemoryManager manager;
  if (!report_load("memory manager", options.manager_path,
                   load_memory_manager(options.manager_path, manager)))
    return kNotLoaded;
  DriverExports driver;
  if (!report_load("driver", options.driver_path, load_driver(options.driver_path, driver)))
    return kNotLoaded;
  const int32_t blocks_before = manager.total_blocks();
  ReceivedStrings strings(manager);

  show_driver_version(options.driver_path, checker);
  show_tag_types(driver, checker);
  ParameterBlock block = default_parameter_block(driver, checker);

  const std::vector<HostTag> tags = builtin_tags();
  TagRecords records(tags);
  const StartAnswer started = start_driver(driver, strings, records, block.get());
  print_start(started, records.count());
  expect_started(started, checker);

  const RoundPlan plan = plan_for(tags);
  const RoundAnswers on_main = run_round(driver, strings, plan);
  print_round(on_main, "main thread");
  expect_engine(on_main, plan, checker);

  // Engines belong to threads: a thread that never called IniDriver answers for itself.
  RoundAnswers on_second;
  std::thread second([&] { on_second = run_round(driver, strings, plan); });
  second.join();
  print_round(on_second, "second thread");
  expect_no_engine(on_second, "second thread", checker);

  const bool memory_ok = settle_memory(manager, strings, blocks_before, checker);
  if (checker.enabled())
    print_line(checker.failures() == 0 ? "check: all answers as expected"
                                       : strprintf("check: %d mismatch(es)", checker.failures()));
  return memory_ok && checker.failures() == 0 ? kOk : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parse_options(argc, argv);
  if (!options) return kBadOptions;
  return run(*options);
}
