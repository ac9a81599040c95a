// Run log and statistics of the engine: the pending event text and device message, the detailed
// logging switch, and the start and stop reports.
#include <string>

#include "engine/DLLBase.h"
#include "engine/run_log.h"
#include "support/XSysInfo.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"

namespace vorel {

namespace {

constexpr std::string_view kProcessorKey = "hardware\\description\\system\\centralprocessor\\0";
constexpr uint32_t kMegabyte = 1048576;
constexpr std::string_view kCrLf = "\r\n";

// The host program's version line. Its two slots (the host's file description after "启动" and
// its file version after "文件版本") stay empty: the driver keeps no version record of the host.
constexpr std::string_view kHostVersionLine = "：启动[文件版本]  ...";

std::string decimal(uint64_t value) { return std::to_string(value); }
std::string decimal(int64_t value) { return std::to_string(value); }

// numerator / divisor as the report shows it: 0 when nothing was counted.
double ratio(double numerator, double divisor) { return divisor != 0 ? numerator / divisor : 0; }

// Percentage of failures: the product is taken modulo 2^32, as the 32-bit counters give it.
int64_t fail_rate(uint32_t fails, uint32_t count) {
  if (count == 0) return 0;
  const uint32_t product = fails * 100u;
  return RoundHalfEven(static_cast<double>(product) / count);
}

}  // namespace

// ---------------------------------------------------------------- log file and switches

void TBaseDLLObject::RotateLog() {
  try {
    rotate_run_log(platform::clock().now());
  } catch (...) {
  }
}

void TBaseDLLObject::AppendLog(std::string_view text) { append_run_log(text); }

void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  try {
    sErrEvent_ = text;
  } catch (...) {
    log_exception("WriteCommEvent");
  }
}

void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  try {
    DevMsg_ = text;
  } catch (...) {
    log_exception("WriteDevMsg");
  }
}

// Detailed logging is refused to an engine whose start report did not get written.
void TBaseDLLObject::WriteEnLog(bool value) { EnLog_ = value && StartReportOK; }

// ---------------------------------------------------------------- reports
// Each part of a report is composed first and appended in one piece: a report then costs a few
// file opens instead of two per tag, and another thread's line cannot land inside it.

namespace {

class Report {
 public:
  Report() : time_(now_text()) {}
  void line(std::string_view text) {
    out_ += time_;
    out_ += text;
    out_ += kCrLf;
  }
  void raw(std::string_view text) { out_ += text; }
  const std::string& text() const { return out_; }
  const std::string& time() const { return time_; }

 private:
  std::string time_;
  std::string out_;
};

void memory_lines(Report& r) {
  const TMemoryInfo memory;
  r.line("：已使用内存 = " + decimal(uint64_t{memory.MemoryLoad}) + " %");
  r.line("：总物理内存 = " + decimal(uint64_t{memory.TotalPhysical / kMegabyte}) + " MB");
  r.line("：可用物理内存 = " + decimal(uint64_t{memory.AvailablePhysical / kMegabyte}) + " MB");
  r.line("：总虚拟内存 = " + decimal(uint64_t{memory.TotalVirtual / kMegabyte}) + " MB");
  r.line("：可用虚拟内存 = " + decimal(uint64_t{memory.AvailableVirtual / kMegabyte}) + " MB");
}

}  // namespace

void TBaseDLLObject::write_start_report() {
  Report r;
  if (platform::machine_registry_key_exists(kProcessorKey)) {
    const std::string name =
        platform::read_machine_registry(kProcessorKey, "ProcessorNameString").value_or("");
    if (!name.empty()) {
      r.line("：[" + name + "]");
    } else {
      r.line("：[" + platform::read_machine_registry(kProcessorKey, "VendorIdentifier").value_or("") +
             platform::read_machine_registry(kProcessorKey, "Identifier").value_or("") + "]");
    }
  }
  const TOperatingSystemInfo os;
  r.line("：[" + os.Platform + "] ");
  memory_lines(r);
  r.line(kHostVersionLine);
  const auto info = driver_file_info();
  r.line("：启动驱动程序" + info->DeviceName() + "  ...");
  r.line("：驱动程序版本" + info->FileVersion() + "  ...");
  AppendLog(r.text());
}

void TBaseDLLObject::write_tag_statistics() {
  const uint32_t run_time = StopTick - StartTick;
  Report r;
  for (const auto& held : TagList) {
    const TDLLTag& tag = *held;
    // The period goes through single precision before it is rounded, as the report always had it.
    const float period =
        tag.ReadCount ? static_cast<float>(static_cast<long double>(run_time) / tag.ReadCount) : 0.0f;
    r.raw(r.time() + "：标签" + tag.Name + "，地址=" + tag.Address +
          "，读扫描周期(毫秒)=" + decimal(RoundHalfEven(static_cast<double>(period))) +
          "，读操作失败率= " + decimal(fail_rate(tag.ReadFails, tag.ReadCount)) + "%");
    if (tag.Writable)
      r.raw("，写操作总次数=" + decimal(uint64_t{tag.WriteCount}) +
            "，写操作失败率= " + decimal(fail_rate(tag.WriteFails, tag.WriteCount)) + "%");
    r.raw(kCrLf);
  }
  if (!r.text().empty()) AppendLog(r.text());
}

void TBaseDLLObject::write_run_time_line() {
  Report r;
  memory_lines(r);
  const uint32_t run_time = StopTick - StartTick;
  r.raw(kCrLf);
  r.line("：本次运行总时间（毫秒）=" + FloatToStr(run_time));
  AppendLog(r.text());
}

void TBaseDLLObject::write_stop_totals() {
  const double write_timeout_rate = ratio(100 * WriteTimeouts, WriteCommTotal);
  const double read_timeout_rate = ratio(100 * ReadTimeouts, ReadCommTotal);
  Report r;
  // A run that never got its read pace (a failed start) has no scan periods to report.
  if (ScanFigures) {
    r.line("：最快扫描周期（毫秒）=" + FloatToStr(FastestScan));
    r.line("：最慢扫描周期（毫秒）=" + FloatToStr(SlowestScan));
    r.line("：平均扫描周期（毫秒）=" + FloatToStr(AverageScan));
  }
  r.line("：读操作失败总次数= " + decimal(uint64_t{ReadFailTotal}));
  r.line("：写操作失败总次数= " + decimal(uint64_t{WriteFailTotal}));
  r.line("：写通讯总次数= " + FloatToStr(WriteCommTotal));
  r.line("：通讯写超时总次数= " + FloatToStr(WriteTimeouts));
  r.line("：通讯写超时率= " + FloatToStr(write_timeout_rate) + "%");
  r.line("：读通讯总次数= " + FloatToStr(ReadCommTotal));
  r.line("：通讯读超时次数= " + FloatToStr(ReadTimeouts));
  r.line("：通讯读超时率= " + FloatToStr(read_timeout_rate) + "%");
  r.line(kHostVersionLine);
  const auto info = driver_file_info();
  r.line("：" + info->DeviceName() + "驱动程序版本" + info->FileVersion() + "退出运行！");
  r.raw(std::string(60, '-'));
  r.raw(kCrLf);
  AppendLog(r.text());
}

}  // namespace vorel
