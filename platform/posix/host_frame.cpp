// No windows on POSIX: the headless dialogs need no owner.
#include "platform/platform.h"

namespace platform {

void* create_host_frame(std::string_view, int, int) { return nullptr; }

void destroy_host_frame(void*) {}

}  // namespace platform
