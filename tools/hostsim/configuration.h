// The configuration-time calls of the host: the driver's descriptive strings, the tag types it
// offers to the tag editor, and the device parameter block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostsim/checker.h"
#include "tools/hostsim/driver_api.h"

namespace hostsim {

// Reads the version resource of the driver file and prints its strings and fixed-block version.
void show_driver_version(const std::string& driver_path, Checker& checker);

// GetTags in the host's two steps: the count first, then the records.
void show_tag_types(const DriverExports& driver, Checker& checker);

// The block the host stores for the device: as many bytes as the driver asks for.
class ParameterBlock {
 public:
  explicit ParameterBlock(int32_t reported_size);
  vorel::TDeviceParams* get() { return reinterpret_cast<vorel::TDeviceParams*>(bytes_.data()); }
  const vorel::TDeviceParams& params() const {
    return *reinterpret_cast<const vorel::TDeviceParams*>(bytes_.data());
  }

 private:
  std::vector<uint8_t> bytes_;
};

// GetPDBLen, then a fresh block filled by FullPDB; prints the size and the configured cards.
ParameterBlock default_parameter_block(const DriverExports& driver, Checker& checker);

}  // namespace hostsim
