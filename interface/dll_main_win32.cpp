// The loader's entry point. Everything here runs under the loader lock: no UI, nothing that waits.
#include <cstdint>

#include "interface/module.h"
#include "ui/win32/win32_backend.h"

namespace {
enum : unsigned long { kProcessDetach = 0, kProcessAttach = 1, kThreadAttach = 2, kThreadDetach = 3 };
}

extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
  try {
    switch (reason) {
      case kProcessAttach:
        // Only named here: the windows' machinery is made when the first form is.
        ui::set_default_backend(&ui::win32::backend);
        vorel::module::load();
        break;
      case kThreadAttach:
        vorel::module::thread_attach();
        break;
      case kThreadDetach:
        vorel::module::thread_detach();
        break;
      case kProcessDetach:
        vorel::module::unload();
        break;
      default:
        break;
    }
  } catch (...) {
    return reason == kProcessAttach ? 0 : 1;
  }
  return 1;
}
