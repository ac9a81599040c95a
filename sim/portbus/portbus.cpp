// Stand-in for the NT port-access component (inpout32.dll): Out32 and Inp32 reach an in-memory
// register bus instead of the machine's ports. The portbus_* exports let a test wire devices to
// the bus, preset input lines and samples, read back outputs and the recorded accesses, and make
// one port fault like a component that touches memory it does not own.
#include <cstdint>
#include <ext/concurrence.h>
#include <mutex>

#include "register_bus.h"

#if defined(_WIN32)
#define PORT_CALL __stdcall
#else
#define PORT_CALL
#endif

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The run time's own lock: a stand-in for another vendor's library links nothing of the driver's,
// and the Windows build's run time has no std::mutex.
__gnu_cxx::__mutex g_mutex;
portbus::RegisterBus g_bus;
int g_fault_port = -1;
volatile uintptr_t g_stray_address = 16;  // unmapped on every system we run on

// A component with a stray pointer: the access ends in an access violation. Left out of the
// sanitizers' checks so that the fault reaches the caller's guard as it would on a real machine.
[[gnu::noinline]] __attribute__((no_sanitize("address", "undefined"))) void fault() {
  *reinterpret_cast<volatile int*>(g_stray_address) = 0;
}

uint16_t port_of(int port) { return static_cast<uint16_t>(port); }

}  // namespace

SIM_EXPORT void PORT_CALL Out32(short port, short value) {
  if (port_of(port) == g_fault_port) fault();
  std::lock_guard lock(g_mutex);
  g_bus.write(port_of(port), static_cast<uint8_t>(value));
}

SIM_EXPORT short PORT_CALL Inp32(short port) {
  if (port_of(port) == g_fault_port) fault();
  std::lock_guard lock(g_mutex);
  return static_cast<short>(g_bus.read(port_of(port)));
}

SIM_EXPORT void portbus_reset() {
  std::lock_guard lock(g_mutex);
  g_bus.reset();
  g_fault_port = -1;
}

// An access to this port (0..65535) faults; -1 for none.
SIM_EXPORT void portbus_fault_port(int port) {
  std::lock_guard lock(g_mutex);
  g_fault_port = port;
}

SIM_EXPORT void portbus_set_latch(int port, int value) {
  std::lock_guard lock(g_mutex);
  g_bus.set_latch(port_of(port), static_cast<uint8_t>(value));
}

SIM_EXPORT int portbus_latch(int port) {
  std::lock_guard lock(g_mutex);
  return g_bus.latch(port_of(port));
}

SIM_EXPORT void portbus_attach_adc(int trigger, int status, int ready_bit, int ready_value, int data_low,
                                   int data_high) {
  std::lock_guard lock(g_mutex);
  g_bus.attach_adc(
      {port_of(trigger), port_of(status), ready_bit, ready_value, port_of(data_low), port_of(data_high)});
}

SIM_EXPORT void portbus_push_sample(int word) {
  std::lock_guard lock(g_mutex);
  g_bus.push_sample(static_cast<uint16_t>(word));
}

SIM_EXPORT void portbus_fail_conversions(int count) {
  std::lock_guard lock(g_mutex);
  g_bus.fail_conversions(count);
}

SIM_EXPORT void portbus_attach_dac(int data_low, int data_high, int update, int channels) {
  std::lock_guard lock(g_mutex);
  g_bus.attach_dac({port_of(data_low), port_of(data_high), port_of(update), channels});
}

SIM_EXPORT int portbus_dac_output(int channel) {
  std::lock_guard lock(g_mutex);
  return g_bus.dac_output(channel);
}

SIM_EXPORT int portbus_attach_counters(int control, int data0, int data1, int data2) {
  std::lock_guard lock(g_mutex);
  return g_bus.attach_counters(port_of(control), {port_of(data0), port_of(data1), port_of(data2)});
}

SIM_EXPORT void portbus_set_count(int group, int k, int count) {
  std::lock_guard lock(g_mutex);
  g_bus.set_count(group, k, static_cast<uint16_t>(count));
}

SIM_EXPORT int portbus_loaded_count(int group, int k) {
  std::lock_guard lock(g_mutex);
  return g_bus.loaded_count(group, k);
}

SIM_EXPORT int portbus_counter_mode(int group, int k) {
  std::lock_guard lock(g_mutex);
  return g_bus.mode(group, k);
}

SIM_EXPORT int portbus_access_count() {
  std::lock_guard lock(g_mutex);
  return static_cast<int>(g_bus.log().size());
}

// Access i in order: 1 with its direction (1 = write), port and byte; 0 when there is no such access.
SIM_EXPORT int portbus_access(int i, int* is_write, int* port, int* value) {
  std::lock_guard lock(g_mutex);
  const auto& log = g_bus.log();
  if (i < 0 || i >= static_cast<int>(log.size())) return 0;
  const portbus::Access& a = log[static_cast<size_t>(i)];
  if (is_write) *is_write = a.write ? 1 : 0;
  if (port) *port = a.port;
  if (value) *value = a.value;
  return 1;
}
