// The two ways the driver reaches a card's I/O ports on a real machine. Both run every access in
// the fault guard: an in/out instruction the system refuses, or a port component that faults,
// becomes a failed access instead of the end of the host.
#include "card/port_io.h"

#include "platform/platform.h"

#if defined(_WIN32)
#define VOREL_PORT_CALL __stdcall
#else
#define VOREL_PORT_CALL
#endif

namespace vorel {

namespace {

// The component's entry points: Out32(short port, short value), Inp32(short port) -> short.
using Out32Fn = void(VOREL_PORT_CALL*)(short, short);
using Inp32Fn = short(VOREL_PORT_CALL*)(short);

class DirectPortIo : public PortIo {
 public:
  bool write(uint16_t port, uint8_t value) override {
    auto body = [port, value] { platform::direct_port_out(port, value); };
    return platform::call_guarded(body, nullptr);
  }
  std::optional<uint8_t> read(uint16_t port) override {
    uint8_t value = 0;
    auto body = [port, &value] { value = platform::direct_port_in(port); };
    if (!platform::call_guarded(body, nullptr)) return std::nullopt;
    return value;
  }
};

class ComponentPortIo : public PortIo {
 public:
  ComponentPortIo(Out32Fn out, Inp32Fn in) : out_(out), in_(in) {}
  bool write(uint16_t port, uint8_t value) override {
    const Out32Fn out = out_;
    auto body = [out, port, value] { out(static_cast<short>(port), static_cast<short>(value)); };
    return platform::call_guarded(body, nullptr);
  }
  std::optional<uint8_t> read(uint16_t port) override {
    const Inp32Fn in = in_;
    short value = 0;
    auto body = [in, port, &value] { value = in(static_cast<short>(port)); };
    if (!platform::call_guarded(body, nullptr)) return std::nullopt;
    return static_cast<uint8_t>(value & 0xFF);
  }

 private:
  Out32Fn out_;
  Inp32Fn in_;
};

}  // namespace

std::unique_ptr<PortIo> make_direct_port_io() {
  if (!platform::direct_ports_available()) return nullptr;
  return std::make_unique<DirectPortIo>();
}

std::unique_ptr<PortIo> make_component_port_io(void* library) {
  auto out = reinterpret_cast<Out32Fn>(platform::resolve(library, "Out32"));
  auto in = reinterpret_cast<Inp32Fn>(platform::resolve(library, "Inp32"));
  if (!out || !in) return nullptr;
  return std::make_unique<ComponentPortIo>(out, in);
}

}  // namespace vorel
