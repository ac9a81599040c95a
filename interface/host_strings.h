// Texts handed to the host. The host frees them with its shared memory manager, so they are
// allocated there too; an empty text is a null pointer.
#pragma once

#include <string>
#include <string_view>

namespace vorel {

// A zero-terminated copy from the shared memory manager, or nullptr for an empty text.
char* NewHostString(std::string_view text);

// Stores NewHostString(text) into *out when out is not null.
void PutHostString(char** out, std::string_view text);

// The host's own string: empty for a null pointer.
std::string FromHostString(const char* text);

// True when no shared memory manager was found and the process heap serves host strings instead.
bool HostStringsUseProcessHeap();

// Forgets the resolved manager so the next string resolves it again (tests load stand-ins).
void ResetHostMemoryManager();

}  // namespace vorel
