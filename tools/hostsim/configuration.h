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
  // A block the host kept; never shorter than the layout, whatever it was given.
  explicit ParameterBlock(std::vector<uint8_t> stored);
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  vorel::TDeviceParams* get() { return reinterpret_cast<vorel::TDeviceParams*>(bytes_.data()); }
  const vorel::TDeviceParams& params() const {
    return *reinterpret_cast<const vorel::TDeviceParams*>(bytes_.data());
  }

 private:
  std::vector<uint8_t> bytes_;
};

// GetPDBLen, then a fresh block filled by FullPDB; prints the size and the configured cards.
ParameterBlock default_parameter_block(const DriverExports& driver, Checker& checker);

// The configured card entries as "#1 PCI_7505 at 0x220; #2 ..." (UTF-8), and how many there are.
std::string configured_cards(const vorel::TDeviceParams& block, int& count);

// One line naming the driver by its version strings: device name and file version.
void show_driver_identity(const std::string& driver_path);

}  // namespace hostsim
