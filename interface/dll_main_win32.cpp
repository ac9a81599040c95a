// The loader's entry point. Everything here runs under the loader lock: no UI, nothing that waits.
#include <cstdint>

#include "interface/module.h"

namespace {
enum : unsigned long { kProcessDetach = 0, kProcessAttach = 1, kThreadAttach = 2, kThreadDetach = 3 };
}

extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  try {
    switch (reason) {
      case kProcessAttach:
        vorel::module::Load();
        break;
      case kThreadAttach:
        vorel::module::ThreadAttach();
        break;
      case kThreadDetach:
        vorel::module::ThreadDetach();
        break;
      case kProcessDetach:
        vorel::module::Unload();
        break;
      default:
        break;
    }
  } catch (...) {
    return reason == kProcessAttach ? 0 : 1;
  }
  return 1;
}
