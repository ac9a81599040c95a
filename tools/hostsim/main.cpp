// Stand-in for the SCADA host: loads the shared memory manager and the driver by name, and calls
// the driver's exports in the host's order with the host's records. Command line: options.h.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tools/hostsim/card_bank.h"
#include "tools/hostsim/checker.h"
#include "tools/hostsim/configuration.h"
#include "tools/hostsim/console.h"
#include "tools/hostsim/demo_check.h"
#include "tools/hostsim/driver_api.h"
#include "tools/hostsim/host_tags.h"
#include "tools/hostsim/options.h"
#include "tools/hostsim/parameter_file.h"
#include "tools/hostsim/poll_session.h"
#include "tools/hostsim/run_time.h"
#include "tools/hostsim/tag_table.h"
#include "tools/hostsim/write_script.h"

namespace {

using namespace hostsim;

enum ExitCode : int { kOk = 0, kFailed = 1, kNotLoaded = 2, kBadOptions = 3, kBadProject = 4 };

// An input still owed this many polls after its write is not yet late when the run ends: one read
// cycle of a card takes a few polls.
constexpr uint64_t kGracePolls = 20;

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

bool load_libraries(const Options& options, MemoryManager& manager, DriverExports& driver) {
  return report_load("memory manager", options.manager_path,
                     load_memory_manager(options.manager_path, manager)) &&
         report_load("driver", options.driver_path, load_driver(options.driver_path, driver));
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

int verdict(const Checker& checker, bool memory_ok) {
  if (checker.enabled())
    print_line(checker.failures() == 0 ? "check: all answers as expected"
                                       : strprintf("check: %d mismatch(es)", checker.failures()));
  return memory_ok && checker.failures() == 0 ? kOk : kFailed;
}

// The configuration-time calls, then one round of run-time calls on two threads.
int run_boundary(const Options& options) {
  Checker checker(options.check);
  MemoryManager manager;
  DriverExports driver;
  if (!load_libraries(options, manager, driver)) return kNotLoaded;
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
  platform::Thread second([&] { on_second = run_round(driver, strings, plan); });
  second.join();
  print_round(on_second, "second thread");
  expect_no_engine(on_second, "second thread", checker);

  return verdict(checker, settle_memory(manager, strings, blocks_before, checker));
}

// The project's files. The tag list is required; the scripted writes and the card wiring are not.
struct Project {
  std::vector<HostTag> tags;
  WriteScript script;
};

std::optional<Project> read_project(const std::string& folder) {
  const std::string tags_file = folder + "/tags.csv";
  const std::string script_file = folder + "/writes.txt";
  const std::string bank_file = folder + "/card_bank.txt";
  std::string error;
  const std::optional<std::string> tag_text = read_text_file(tags_file);
  if (!tag_text) {
    print_error("hostsim: cannot read " + tags_file);
    return std::nullopt;
  }
  Project project;
  std::optional<std::vector<HostTag>> tags = parse_tag_table(*tag_text, error);
  if (!tags) {
    print_error("hostsim: " + tags_file + ", " + error);
    return std::nullopt;
  }
  project.tags = std::move(*tags);
  print_line(strprintf("[project] %s: %d tags", tags_file.c_str(), static_cast<int>(project.tags.size())));
  if (const std::optional<std::string> script_text = read_text_file(script_file)) {
    std::optional<WriteScript> script = WriteScript::parse(*script_text, project.tags, error);
    if (!script) {
      print_error("hostsim: " + script_file + ", " + error);
      return std::nullopt;
    }
    project.script = std::move(*script);
    print_line(
        strprintf("[project] %s: %d scripted writes", script_file.c_str(),
                  static_cast<int>(project.script.size())) +
        (project.script.repeat_ms() ? strprintf(", repeated every %u ms", project.script.repeat_ms()) : ""));
  }
  if (const std::optional<std::string> bank_text = read_text_file(bank_file))
    if (!configure_card_bank(*bank_text, bank_file)) return std::nullopt;
  return project;
}

// The host at run time with a project: start, polls, writes, stop.
int run_project(const Options& options) {
  Checker checker(options.check_demo);
  MemoryManager manager;
  DriverExports driver;
  if (!load_libraries(options, manager, driver)) return kNotLoaded;
  const int32_t blocks_before = manager.total_blocks();
  ReceivedStrings strings(manager);
  show_driver_identity(options.driver_path);

  std::optional<Project> project = read_project(*options.project);
  if (!project) return kBadProject;
  std::optional<ParameterBlock> block = load_parameter_file(driver, options.block_path);
  if (!block) return kBadProject;

  DemoCheck demo(project->tags);
  SessionSettings settings;
  settings.seconds = options.seconds;
  settings.console = options.console;
  const SessionSummary summary =
      run_session(driver, strings, project->tags, *block, project->script, settings, demo);
  print_line(strprintf(
      "[summary] %llu polls in %.1f s, %llu values reported, %d writes (%d accepted), host event "
      "signalled %d time(s)",
      static_cast<unsigned long long>(summary.polls), summary.elapsed_ms / 1000.0,
      static_cast<unsigned long long>(summary.values), summary.writes, summary.accepted, summary.events));
  if (options.check_demo) demo.conclude(summary.polls, kGracePolls, checker);
  const bool memory_ok = settle_memory(manager, strings, blocks_before, checker);
  if (!summary.started) return kFailed;
  return verdict(checker, memory_ok);
}

// What the development environment has when it opens one of a device's dialogs: the two
// libraries and the device's block from its file. kOk, or the exit code that says what is missing.
int open_device(const Options& options, MemoryManager& manager, DriverExports& driver,
                std::optional<ParameterBlock>& block) {
  if (!load_libraries(options, manager, driver)) return kNotLoaded;
  show_driver_identity(options.driver_path);
  block = load_parameter_file(driver, options.block_path);
  return block ? kOk : kBadProject;
}

// The host's development environment opening the device's wizard: the block goes back to its
// file only when the wizard wrote it (a Finish), whatever the result says.
int run_wizard(const Options& options) {
  MemoryManager manager;
  DriverExports driver;
  std::optional<ParameterBlock> block;
  if (const int opened = open_device(options, manager, driver, block); opened != kOk) return opened;
  const std::vector<uint8_t> before = block->bytes();
  void* frame = platform::create_host_frame("Taviran - hostsim", 480, 320);
  const int32_t result = driver.DLLEdDev(frame, block->get());
  platform::destroy_host_frame(frame);
  print_line(strprintf("[wizard] DLLEdDev -> %d (%s)", result, result == 1 ? "changed" : "unchanged"));
  if (block->bytes() != before) {
    if (!save_parameter_file(driver, *block, options.block_path)) return kFailed;
    print_line("[wizard] the block was committed and written to " + gbk_to_utf8(options.block_path));
  } else {
    print_line("[wizard] the block was not committed; " + gbk_to_utf8(options.block_path) +
               " left as it was");
  }
  int count = 0;
  const std::string cards = configured_cards(block->params(), count);
  print_line(strprintf("[wizard] %d card(s): ", count) + cards);
  return result == 1 || result == 2 ? kOk : kFailed;
}

// The development environment's device test: the dialog on the device's block, shown or (unattended)
// as the read test alone. The block is the host's and is never written back.
int run_test_device(const Options& options) {
  MemoryManager manager;
  DriverExports driver;
  std::optional<ParameterBlock> block;
  if (const int opened = open_device(options, manager, driver, block); opened != kOk) return opened;
  int count = 0;
  const std::string cards = configured_cards(block->params(), count);
  print_line(strprintf("[test] %d card(s): ", count) + cards);
  const uint64_t started = platform::monotonic_ns();
  const bool passed = driver.DLLTestDev(block->get(), options.unattended ? 0 : 1) != 0;
  const double ms = static_cast<double>(platform::monotonic_ns() - started) / 1e6;
  print_line(strprintf("[test] DLLTestDev(%s) -> %d (%s) after %.0f ms",
                       options.unattended ? "unattended" : "shown", passed ? 1 : 0,
                       passed ? "a read succeeded" : "no read succeeded", ms));
  return passed ? kOk : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parse_options(argc, argv);
  if (!options) return kBadOptions;
  if (options->wizard) return run_wizard(*options);
  if (options->test_device) return run_test_device(*options);
  return options->project ? run_project(*options) : run_boundary(*options);
}
