// The stand-in shared memory manager, loaded into the test process the way the host loads the
// real one, so the driver's host strings come from it and tests can free and count them.
#pragma once

#include <cstdint>
#include <string>

#include "interface/host_strings.h"
#include "platform/platform.h"

namespace testing_support {

class HostMemory {
 public:
  static HostMemory& instance() {
    static HostMemory m;
    return m;
  }
  int32_t live() const { return live_(); }
  // Frees a host string as the host does; null is allowed.
  void release(char* text) const {
    if (text) free_(text);
  }
  // Frees the string and hands back its text.
  std::string take(char*& text) const {
    std::string s = text ? text : "";
    release(text);
    text = nullptr;
    return s;
  }

 private:
  HostMemory() {
    library_ = platform::load_library(BORLNDMM_PATH);
    free_ = reinterpret_cast<int32_t (*)(void*)>(platform::resolve(library_, "SysFreeMem"));
    live_ = reinterpret_cast<int32_t (*)()>(platform::resolve(library_, "sim_live_blocks"));
    vorel::reset_host_memory_manager();
  }
  platform::LibraryHandle library_ = nullptr;
  int32_t (*free_)(void*) = nullptr;
  int32_t (*live_)() = nullptr;
};

}  // namespace testing_support
