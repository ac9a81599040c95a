#include "tools/hostsim/run_time.h"

#include <cstring>

#include "tools/hostsim/console.h"

namespace hostsim {

namespace {

// What the driver says on a thread that has no engine.
constexpr char kNoDevice[] = "通讯设备初始化失败";
constexpr uint16_t kScanTimeWithoutEngine = 1000;

const char* yes_no(HostBool b) { return b ? "true" : "false"; }

bool starts_with(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

StartAnswer start_driver(const DriverExports& driver, ReceivedStrings& strings, TagRecords& tags,
                         vorel::TDeviceParams* block) {
  char* message = nullptr;
  StartAnswer answer;
  answer.result = driver.IniDriver(tags.count(), tags.pointers(), block, &message);
  answer.message = strings.take(message);
  return answer;
}

void print_start(const StartAnswer& answer, int32_t tag_count) {
  print_line(strprintf("[start] IniDriver(%d tags) -> %s, message: ", tag_count, yes_no(answer.result)) +
             shown(answer.message));
}

RoundPlan plan_for(const std::vector<HostTag>& tags) {
  RoundPlan plan;
  plan.value_room = tags.size();
  for (const HostTag& t : tags) plan.read_ids.push_back(t.id);
  // Switch the first digital output on.
  for (const HostTag& t : tags)
    if (starts_with(t.address, "DO") && t.value_type == vorel::kValueDigital) {
      plan.writes.push_back(digital_write(t.id, true));
      break;
    }
  return plan;
}

RoundAnswers run_round(const DriverExports& driver, ReceivedStrings& strings, const RoundPlan& plan) {
  RoundAnswers a;
  char* message = nullptr;
  a.scan_time = driver.DetectScanTime();

  std::vector<vorel::TTagValue> values(plan.value_room);
  a.read_result = driver.OnDataRead(&a.read_count, values.data(), &message);
  a.read_message = strings.take(message);
  // String values the driver reported belong to the host now, like its messages.
  for (int32_t i = 0; i < a.read_count && i < static_cast<int32_t>(values.size()); ++i) {
    if (values[i].ValueType != vorel::kValueString) continue;
    char* text = nullptr;
    std::memcpy(&text, values[i].Value, sizeof text);
    strings.take(text);
  }

  std::vector<vorel::TTagValue> writes = plan.writes;
  a.write_result = driver.OnDataWrite(static_cast<int32_t>(writes.size()), writes.data(), &message);
  a.write_message = strings.take(message);

  std::vector<int32_t> ids = plan.read_ids;
  a.read_tags = driver.ReadTags(static_cast<uint16_t>(ids.size()), ids.data(), 0);
  writes = plan.writes;
  a.write_tags = driver.WriteTags(static_cast<uint16_t>(writes.size()), writes.data(), 0);

  a.status_result = driver.GetDeviceStatus(&message);
  a.status_message = strings.take(message);
  driver.WriteLog(1, &message);
  a.log_message = strings.take(message);
  a.free_result = driver.FreeDriver();
  return a;
}

void print_round(const RoundAnswers& a, std::string_view where) {
  print_line("[run time, " + std::string(where) + "]");
  print_line(strprintf("  DetectScanTime   -> %u ms", a.scan_time));
  print_line(strprintf("  OnDataRead       -> %s, count %d, message: ", yes_no(a.read_result), a.read_count) +
             shown(a.read_message));
  print_line(strprintf("  OnDataWrite      -> %s, message: ", yes_no(a.write_result)) +
             shown(a.write_message));
  print_line(strprintf("  ReadTags         -> %d", a.read_tags));
  print_line(strprintf("  WriteTags        -> %d", a.write_tags));
  print_line(strprintf("  GetDeviceStatus  -> %s, message: ", yes_no(a.status_result)) +
             shown(a.status_message));
  print_line("  WriteLog(on)     -> message: " + shown(a.log_message));
  print_line(strprintf("  FreeDriver       -> %s", yes_no(a.free_result)));
}

void expect_started(const StartAnswer& answer, Checker& checker) {
  // Every built-in tag has a sound address and the card answers, so the start succeeds; all it has
  // to say is the time text that binding the vendor's library puts in front of its complaints.
  checker.expect_equal(answer.result, 1, "IniDriver");
  const std::string text = answer.message.value_or("");
  checker.expect(!text.empty() && text[0] >= '0' && text[0] <= '9' &&
                     text.find_first_not_of("0123456789/-.: ") == std::string::npos,
                 "IniDriver message is the time text alone");
}

void expect_engine(const RoundAnswers& a, const RoundPlan& plan, Checker& checker) {
  checker.expect_equal(a.scan_time, 10, "DetectScanTime of a running engine");
  checker.expect_equal(a.read_result, 1, "OnDataRead result");
  checker.expect(a.read_count >= 0 && a.read_count <= static_cast<int32_t>(plan.value_room),
                 "OnDataRead reports at most one record per tag");
  checker.expect_equal(a.write_result, 1, "OnDataWrite queues the output write");
  checker.expect_equal(a.read_tags, 0, "ReadTags");
  checker.expect_equal(a.status_result, 1, "GetDeviceStatus result");
  checker.expect_equal(a.free_result, 1, "FreeDriver");
}

void expect_no_engine(const RoundAnswers& a, std::string_view where, Checker& checker) {
  const std::string at = " (" + std::string(where) + ")";
  const HostText no_device = std::string(kNoDevice);
  checker.expect_equal(a.scan_time, kScanTimeWithoutEngine, "DetectScanTime" + at);
  checker.expect_equal(a.read_result, 1, "OnDataRead result" + at);
  checker.expect_equal(a.read_count, 0, "OnDataRead count" + at);
  checker.expect_text(a.read_message, no_device, "OnDataRead message" + at);
  checker.expect_equal(a.write_result, 0, "OnDataWrite result" + at);
  checker.expect_text(a.write_message, no_device, "OnDataWrite message" + at);
  checker.expect_equal(a.read_tags, 0, "ReadTags" + at);
  checker.expect_equal(a.write_tags, 1, "WriteTags" + at);
  checker.expect_equal(a.status_result, 1, "GetDeviceStatus result" + at);
  checker.expect_text(a.status_message, no_device, "GetDeviceStatus message" + at);
  checker.expect_text(a.log_message, no_device, "WriteLog message" + at);
  checker.expect_equal(a.free_result, 1, "FreeDriver" + at);
}

}  // namespace hostsim
