// Shared set-up of the fuzz targets: a scratch folder for the run log and a host block.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "interface/exports.h"

namespace fuzz {

inline void enter_scratch_folder() {
  static const bool done = [] {
    auto path = std::filesystem::temp_directory_path() / ("vorel_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
    return true;
  }();
  (void)done;
}

inline TDeviceParams default_block() {
  TDeviceParams b{};
  ::FullPDB(&b);
  return b;
}

// Host strings come from the process heap here (no shared manager is loaded).
inline void release(char*& text) {
  std::free(text);
  text = nullptr;
}

// Reads a little-endian value from the input, zero past its end.
template <class T>
T take(const uint8_t*& data, size_t& size) {
  T v{};
  const size_t n = size < sizeof v ? size : sizeof v;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

}  // namespace fuzz
