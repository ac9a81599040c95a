// The device's parameter block as the host keeps it with its project: a file of exactly the size
// the driver asks for, made from the driver's defaults the first time.
#pragma once

#include <optional>
#include <string>

#include "tools/hostsim/configuration.h"
#include "tools/hostsim/driver_api.h"

namespace hostsim {

// Reads the block from `path`. When the file does not exist, fills a block with FullPDB and writes
// it there first. nullopt, after saying why, when the file has another size than GetPDBLen or
// cannot be read or written: a block the driver would misread is never handed to it.
std::optional<ParameterBlock> load_parameter_file(const DriverExports& driver, const std::string& path);

// Writes the block back to `path`, as many bytes as GetPDBLen reports. False, after saying why,
// when the file cannot be written.
bool save_parameter_file(const DriverExports& driver, const ParameterBlock& block, const std::string& path);

}  // namespace hostsim
