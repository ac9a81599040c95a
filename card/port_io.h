// Byte access to the card's I/O ports. The card code never executes port instructions itself:
// it goes through one of these, chosen at start-up (the processor's own in/out instructions on
// the 9x family, the NT port-access component where it is installed, the register bus in tests).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace vorel {

class PortIo {
 public:
  virtual ~PortIo() = default;
  // False when the port could not be written (no port access on this system, a faulting component).
  virtual bool write(uint16_t port, uint8_t value) = 0;
  // nullopt when the port could not be read.
  virtual std::optional<uint8_t> read(uint16_t port) = 0;
};

// The processor's own in/out instructions; nullptr where the system does not allow them.
std::unique_ptr<PortIo> make_direct_port_io();

// Out32/Inp32 of a loaded port-access component; nullptr when either entry is missing. The
// library stays owned by the caller and must outlive the access.
std::unique_ptr<PortIo> make_component_port_io(void* library);

}  // namespace vorel
