// Reads the export and import tables and the version resource of a 32-bit PE image: one the loader
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

struct LoadedImage {
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  std::string module_name;                // the export directory's own name for the module
  uint32_t function_count = 0;            // entries of the export address table, named or not
  std::vector<Export> exports;            // named exports, in name-table order
  std::vector<std::string> imports;       // DLL names of the import descriptors
  std::vector<uint8_t> version_resource;  // the VS_VERSIONINFO block; empty when there is none
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
