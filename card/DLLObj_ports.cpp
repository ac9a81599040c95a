// Port access of the card object: the PortIo in use (in/out instructions on the 9x family, the
// port component on NT), the trace of every access to the run log, and the settling delay.
#include <string>

#include "card/DLLObj.h"
#include "support/delphi.h"

namespace vorel {

namespace {

// A busy wait of count × 30000 turns blocks the host's thread; a damaged row must not hang it.
constexpr int32_t kMaxDelayCount = 1000;
constexpr int32_t kDelayTurns = 30000;

}  // namespace

// ---------------------------------------------------------------- ports

PortIo* TCustomDLLObject::active_port_io() {
  if (port_io_) return port_io_;
  if (!system_port_io_chosen_) {
    // Chosen on the first access, so a card without port registers never loads the component.
    system_port_io_chosen_ = true;
    system_port_io_ = make_direct_port_io();
    if (!system_port_io_) {
      if (!PortLibHandle) PortLibHandle = platform::load_library(platform::kPortComponentName);
      if (PortLibHandle) system_port_io_ = make_component_port_io(PortLibHandle);
    }
  }
  if (!system_port_io_) {
    port_access_failed(PortLibHandle ? std::string("端口访问组件") + platform::kPortComponentName +
                                           "中没有Out32或Inp32，无法读写板卡端口"
                                     : std::string("端口访问组件") + platform::kPortComponentName +
                                           "没有找到，无法读写板卡端口");
  }
  return system_port_io_.get();
}

void TCustomDLLObject::port_access_failed(std::string_view reason) {
  exchange_failed();
  ++port_failures_;
  if (port_failure_logged_) return;
  port_failure_logged_ = true;
  log_line("：" + std::string(reason));
}

void TCustomDLLObject::PortWrite(uint16_t port, uint8_t value) {
  PortIo* io = active_port_io();
  if (!io) return;
  if (!io->write(port, value)) {
    port_access_failed("往端口 " + IntToHex(port, 3) + "H输出失败");
    return;
  }
  if (trace_log_on())
    AppendLog(now_text() + "：往端口 " + IntToHex(port, 3) + "H" + "输出 " + IntToHex(value, 2) + "H" +
              "\r\n\r\n");
}

uint8_t TCustomDLLObject::PortRead(uint16_t port) {
  PortIo* io = active_port_io();
  if (!io) return 0;
  const std::optional<uint8_t> value = io->read(port);
  if (!value) {
    port_access_failed("从端口 " + IntToHex(port, 3) + "H读入失败");
    return 0;
  }
  if (trace_log_on())
    AppendLog(now_text() + "：从端口 " + IntToHex(port, 3) + "H" + "读入 " + IntToHex(*value, 2) + "H" +
              "\r\n");
  return *value;
}

void TCustomDLLObject::PortDelay(int32_t count) {
  if (count <= 0) return;
  const int32_t turns = std::min(count, kMaxDelayCount) * kDelayTurns;
  for (int32_t i = 0; i < turns; ++i) __asm__ __volatile__("");
}

}  // namespace vorel
