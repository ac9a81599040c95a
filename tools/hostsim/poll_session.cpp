#include "tools/hostsim/poll_session.h"

#include <map>

#include "platform/platform.h"
#include "tools/hostsim/console.h"
#include "tools/hostsim/console_input.h"

namespace hostsim {

namespace {

// Late by more than this many polls (a stalled terminal, a debugger), the host drops the missed
// polls instead of running them back to back.
constexpr uint32_t kCatchUpPolls = 5;

constexpr char kConsoleHelp[] =
    "commands: <tag> <value> writes a value (on/off, a number or a text); status asks GetDeviceStatus; "
    "quit stops the driver";

class Session {
 public:
  Session(const DriverExports& driver, ReceivedStrings& strings, const std::vector<HostTag>& tags,
          WriteScript& script, SessionObserver& observer)
      : driver_(driver), strings_(strings), tags_(tags), script_(script), observer_(observer) {
    for (const HostTag& t : tags) by_id_.emplace(t.id, &t);
  }

  bool start(ParameterBlock& block, SessionSummary& summary) {
    TagRecords records(tags_);
    const StartAnswer answer = start_driver(driver_, strings_, records, block.get());
    print_start(answer, records.count());
    observer_.started(answer);
    if (!answer.result) return false;
    event_ = platform::create_host_event();
    const HostBool ex = driver_.IniDriverEx(event_);
    print_line(strprintf("[start] IniDriverEx(event 0x%X) -> %s", event_, ex ? "true" : "false"));
    summary.scan_time = driver_.DetectScanTime();
    print_line(strprintf("[start] DetectScanTime -> %u ms", summary.scan_time));
    return true;
  }

  void run(const SessionSettings& settings, SessionSummary& summary) {
    if (settings.console) {
      console_.start();
      print_line(kConsoleHelp);
    }
    print_line("  elapsed   stamp                      id  tag           value      status");
    const uint32_t scan = summary.scan_time ? summary.scan_time : 1;
    const uint32_t duration = settings.seconds * 1000;
    start_tick_ = platform::system_clock().ticks();
    // Like the host's poll timer, the first poll comes one scan period after the start.
    uint32_t next_poll = start_tick_ + scan;
    while (true) {
      const uint32_t now = platform::system_clock().ticks();
      const auto ahead = static_cast<int32_t>(next_poll - now);
      if (ahead > 0) {
        platform::sleep_ms(static_cast<uint32_t>(ahead));
      } else if (static_cast<uint32_t>(-ahead) > kCatchUpPolls * scan) {
        next_poll = now;
      }
      next_poll += scan;
      if (elapsed() >= duration || !take_commands(summary)) break;
      for (const ScriptedWrite* w : script_.due(elapsed())) write(*w, summary);
      poll(summary);
    }
    summary.elapsed_ms = elapsed();
  }

  void stop() {
    const HostBool freed = driver_.FreeDriver();
    print_line(strprintf("[stop] FreeDriver -> %s", freed ? "true" : "false"));
    platform::close_host_event(event_);
  }

 private:
  uint32_t elapsed() const { return platform::system_clock().ticks() - start_tick_; }

  std::string when() const { return strprintf("[%7.3f]", elapsed() / 1000.0); }

  void poll(SessionSummary& summary) {
    std::vector<vorel::TTagValue> values(tags_.size());
    int32_t count = 0;
    char* message = nullptr;
    driver_.OnDataRead(&count, values.data(), &message);
    const std::optional<std::string> text = strings_.take(message);
    if (text) print_line(when() + " OnDataRead message: " + gbk_to_utf8(*text));
    if (count < 0 || static_cast<size_t>(count) > values.size()) {
      print_error(strprintf("hostsim: OnDataRead reported %d records for %u tags", count,
                            static_cast<unsigned>(values.size())));
      count = count < 0 ? 0 : static_cast<int32_t>(values.size());
    }
    for (int32_t i = 0; i < count; ++i) {
      const ReportedValue value = take_record(values[i], strings_);
      const auto found = by_id_.find(value.tag_id);
      const HostTag* tag = found == by_id_.end() ? nullptr : found->second;
      print_line(when() + "  " + stamp_text(value.stamp) + strprintf(" %4d  ", value.tag_id) +
                 padded(tag ? tag->name : std::string("?"), 13) + " " + padded_utf8(shown_value(value), 10) +
                 " " + status_text(value.status));
      observer_.reported(summary.polls, tag, value);
      ++summary.values;
    }
    if (platform::wait_host_event(event_, 0)) {
      print_line(when() + " the driver signalled the host event: communication keeps failing");
      observer_.event_signalled(summary.polls);
      ++summary.events;
    }
    ++summary.polls;
  }

  void write(const ScriptedWrite& w, SessionSummary& summary) {
    vorel::TTagValue record = write_record(w.tag_id, w.value);
    char* message = nullptr;
    const bool accepted = driver_.OnDataWrite(1, &record, &message) != 0;
    const std::optional<std::string> text = strings_.take(message);
    print_line(when() + " write " + gbk_to_utf8(w.tag_name) + " = " + gbk_to_utf8(value_text(w.value)) +
               " -> " + (accepted ? "accepted" : "refused") +
               (text ? ", message: " + gbk_to_utf8(*text) : ""));
    observer_.wrote(summary.polls, w, accepted);
    ++summary.writes;
    summary.accepted += accepted;
  }

  // Runs the commands typed since the last poll; false when one of them was quit.
  bool take_commands(SessionSummary& summary) {
    while (std::optional<std::string> line = console_.next_line()) {
      const size_t first = line->find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      const std::string command = line->substr(first, line->find_last_not_of(" \t") + 1 - first);
      if (command == "quit" || command == "q") return false;
      if (command == "help") {
        print_line(kConsoleHelp);
      } else if (command == "status") {
        char* message = nullptr;
        driver_.GetDeviceStatus(&message);
        print_line(when() + " GetDeviceStatus: " + shown(strings_.take(message)));
      } else {
        std::string error;
        if (std::optional<ScriptedWrite> w = parse_write_command(command, tags_, error))
          write(*w, summary);
        else
          print_line(when() + " " + error + " (help lists the commands)");
      }
    }
    return true;
  }

  static std::string padded_utf8(const std::string& text, size_t columns) {
    return text.size() >= columns ? text : text + std::string(columns - text.size(), ' ');
  }

  const DriverExports& driver_;
  ReceivedStrings& strings_;
  const std::vector<HostTag>& tags_;
  WriteScript& script_;
  SessionObserver& observer_;
  std::map<int32_t, const HostTag*> by_id_;
  ConsoleInput console_;
  uint32_t event_ = 0;
  uint32_t start_tick_ = 0;
};

}  // namespace

SessionSummary run_session(const DriverExports& driver, ReceivedStrings& strings,
                           const std::vector<HostTag>& tags, ParameterBlock& block, WriteScript& script,
                           const SessionSettings& settings, SessionObserver& observer) {
  SessionSummary summary;
  Session session(driver, strings, tags, script, observer);
  summary.started = session.start(block, summary);
  if (summary.started) session.run(settings, summary);
  // The host stops the driver whether or not it started: a failed start leaves an engine behind.
  session.stop();
  return summary;
}

}  // namespace hostsim
