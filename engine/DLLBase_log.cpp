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

std::string Decimal(uint64_t value) { return std::to_string(value); }
std::string Decimal(int64_t value) { return std::to_string(value); }

// numerator / divisor as the report shows it: 0 when nothing was counted.
double Ratio(double numerator, double divisor) { return divisor != 0 ? numerator / divisor : 0; }

// Percentage of failures: the product is taken modulo 2^32, as the 32-bit counters give it.
int64_t FailRate(uint32_t fails, uint32_t count) {
  if (count == 0) return 0;
  const uint32_t product = fails * 100u;
  return RoundHalfEven(static_cast<double>(product) / count);
}

}  // namespace

// ---------------------------------------------------------------- log file and switches

void TBaseDLLObject::RotateLog() {
  try {
    RotateRunLog(platform::clock().now());
  } catch (...) {
  }
}

void TBaseDLLObject::AppendLog(std::string_view text) { AppendRunLog(text); }

void TBaseDLLObject::WriteCommEvent(const std::string& text) {
  try {
    sErrEvent_ = text;
  } catch (...) {
    LogException("WriteCommEvent");
  }
}

void TBaseDLLObject::WriteDevMsg(const std::string& text) {
  try {
    DevMsg_ = text;
  } catch (...) {
    LogException("WriteDevMsg");
  }
}

// Detailed logging is refused to an engine whose start report did not get written.
void TBaseDLLObject::WriteEnLog(bool value) { EnLog_ = value && StartReportOK; }

// ---------------------------------------------------------------- start report

void TBaseDLLObject::WriteStartReport() {
  if (platform::machine_registry_key_exists(kProcessorKey)) {
    const std::string name =
        platform::read_machine_registry(kProcessorKey, "ProcessorNameString").value_or("");
    if (!name.empty()) {
      LogLine("：[" + name + "]");
    } else {
      LogLine("：[" + platform::read_machine_registry(kProcessorKey, "VendorIdentifier").value_or("") +
              platform::read_machine_registry(kProcessorKey, "Identifier").value_or("") + "]");
    }
  }
  const TOperatingSystemInfo os;
  LogLine("：[" + os.Platform + "] ");
  WriteMemoryLines();
  LogLine(kHostVersionLine);
  const auto info = DriverFileInfo();
  const std::string device = info ? info->DeviceName() : std::string();
  const std::string version = info ? info->FileVersion() : std::string();
  LogLine("：启动驱动程序" + device + "  ...");
  LogLine("：驱动程序版本" + version + "  ...");
}

void TBaseDLLObject::WriteMemoryLines() {
  const TMemoryInfo memory;
  LogLine("：已使用内存 = " + Decimal(uint64_t{memory.MemoryLoad}) + " %");
  LogLine("：总物理内存 = " + Decimal(uint64_t{memory.TotalPhysical / kMegabyte}) + " MB");
  LogLine("：可用物理内存 = " + Decimal(uint64_t{memory.AvailablePhysical / kMegabyte}) + " MB");
  LogLine("：总虚拟内存 = " + Decimal(uint64_t{memory.TotalVirtual / kMegabyte}) + " MB");
  LogLine("：可用虚拟内存 = " + Decimal(uint64_t{memory.AvailableVirtual / kMegabyte}) + " MB");
}

// ---------------------------------------------------------------- stop report

void TBaseDLLObject::WriteTagStatistics() {
  const uint32_t run_time = StopTick - StartTick;
  for (const auto& held : TagList) {
    const TDLLTag& tag = *held;
    // The period goes through single precision before it is rounded, as the report always had it.
    const float period =
        tag.ReadCount ? static_cast<float>(static_cast<long double>(run_time) / tag.ReadCount) : 0.0f;
    AppendLog(NowText() + "：标签" + tag.Name + "，地址=" + tag.Address +
              "，读扫描周期(毫秒)=" + Decimal(RoundHalfEven(static_cast<double>(period))) +
              "，读操作失败率= " + Decimal(FailRate(tag.ReadFails, tag.ReadCount)) + "%");
    if (tag.Writable) {
      AppendLog("，写操作总次数=" + Decimal(uint64_t{tag.WriteCount}) + "，写操作失败率= " +
                Decimal(FailRate(tag.WriteFails, tag.WriteCount)) + "%" + std::string(kCrLf));
    } else {
      AppendLog(kCrLf);
    }
  }
}

void TBaseDLLObject::WriteRunTimeLine() {
  WriteMemoryLines();
  const uint32_t run_time = StopTick - StartTick;
  AppendLog(std::string(kCrLf) + NowText() + "：本次运行总时间（毫秒）=" + FloatToStr(run_time) +
            std::string(kCrLf));
}

void TBaseDLLObject::WriteStopTotals() {
  const double write_timeout_rate = Ratio(100 * WriteTimeouts, WriteCommTotal);
  const double read_timeout_rate = Ratio(100 * ReadTimeouts, ReadCommTotal);
  LogLine("：最快扫描周期（毫秒）=" + FloatToStr(FastestScan));
  LogLine("：最慢扫描周期（毫秒）=" + FloatToStr(SlowestScan));
  LogLine("：平均扫描周期（毫秒）=" + FloatToStr(AverageScan));
  LogLine("：读操作失败总次数= " + Decimal(uint64_t{ReadFailTotal}));
  LogLine("：写操作失败总次数= " + Decimal(uint64_t{WriteFailTotal}));
  LogLine("：写通讯总次数= " + FloatToStr(WriteCommTotal));
  LogLine("：通讯写超时总次数= " + FloatToStr(WriteTimeouts));
  LogLine("：通讯写超时率= " + FloatToStr(write_timeout_rate) + "%");
  LogLine("：读通讯总次数= " + FloatToStr(ReadCommTotal));
  LogLine("：通讯读超时次数= " + FloatToStr(ReadTimeouts));
  LogLine("：通讯读超时率= " + FloatToStr(read_timeout_rate) + "%");
  LogLine(kHostVersionLine);
  const auto info = DriverFileInfo();
  const std::string device = info ? info->DeviceName() : std::string();
  const std::string version = info ? info->FileVersion() : std::string();
  LogLine("：" + device + "驱动程序版本" + version + "退出运行！");
  AppendLog(std::string(60, '-'));
  AppendLog(kCrLf);
}

}  // namespace vorel
