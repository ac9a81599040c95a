// Reads the headers' system versions, the export and import tables, the thread-local storage
// directory and the version resource of a 32-bit PE image: one the loader
// has already mapped, or a file laid out at its RVAs as the loader would map it. Every read stays
// inside the image: a damaged file gives nullopt, never a read beyond it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pe {

struct Export {
  std::string name;
  uint32_t rva = 0;  // from the export address table, through the name's ordinal
};

// One function the loader binds from another module.
struct Import {
  std::string library;   // as the import descriptor names it
  std::string function;  // empty when imported by ordinal
  uint16_t ordinal = 0;  // only for an import by ordinal
};

// A Windows version as the headers carry it (5.1 is Windows XP).
struct SystemVersion {
  uint16_t major = 0, minor = 0;
  friend auto operator<=>(const SystemVersion&, const SystemVersion&) = default;
};

// The static thread-local storage the loader would set up, and the callbacks it would run.
struct ThreadStorage {
  uint32_t template_size = 0;  // initialised data copied for every thread
  uint32_t zero_fill = 0;      // zeroed bytes after it
  uint32_t callbacks = 0;
};

struct LoadedImage {
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  SystemVersion os_version, subsystem_version;  // the oldest system the headers allow
  std::string module_name;                      // the export directory's own name for the module
  uint32_t function_count = 0;                  // entries of the export address table, named or not
  std::vector<Export> exports;                  // named exports, in name-table order
  std::vector<std::string> imports;             // DLL names of the import descriptors
  std::vector<Import> imported_functions;       // every function of those, descriptor by descriptor
  std::optional<ThreadStorage> thread_storage;  // nullopt when there is no TLS directory
  std::vector<uint8_t> version_resource;        // the VS_VERSIONINFO block; empty when there is none
};

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kCharacteristicDll = 0x2000;

// nullopt when the headers do not describe a 32-bit PE image.
std::optional<LoadedImage> read_loaded_image(const void* image_base);

// The file's headers and sections copied to their RVAs in a buffer of the image's size, the rest
// zero (nothing relocated, no import bound). nullopt when the file is no 32-bit PE image or is
// shorter than its headers say.
std::optional<std::vector<uint8_t>> map_image_file(std::span<const uint8_t> file);

// map_image_file, then the tables of the mapped image.
std::optional<LoadedImage> read_image_file(std::span<const uint8_t> file);

}  // namespace pe
