// Texts handed to the host. The host frees them with its shared memory manager, so they are
// allocated there too; an empty text is a null pointer.
#pragma once

#include <string>
#include <string_view>

namespace vorel {

// A zero-terminated copy from the shared memory manager, or nullptr for an empty text.
char* new_host_string(std::string_view text);

// Stores new_host_string(text) into *out when out is not null.
void put_host_string(char** out, std::string_view text);

// The host's own string: empty for a null pointer.
std::string from_host_string(const char* text);

// True when no shared memory manager was found and the process heap serves host strings instead.
bool host_strings_use_process_heap();

// Forgets the resolved manager so the next string resolves it again (tests load stand-ins).
void reset_host_memory_manager();

}  // namespace vorel
