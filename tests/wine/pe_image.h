// Reads the export and import tables of a module the loader has already mapped. The handle the
// loader returns is the image base, so every RVA is simply an offset from it.
#pragma once

#include <cstdint>
#include <optional>
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
  std::string module_name;           // the export directory's own name for the module
  uint32_t function_count = 0;       // entries of the export address table, named or not
  std::vector<Export> exports;       // named exports, in name-table order
  std::vector<std::string> imports;  // DLL names of the import descriptors
};

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kCharacteristicDll = 0x2000;

// nullopt when the headers do not describe a 32-bit PE image.
std::optional<LoadedImage> read_loaded_image(const void* image_base);

}  // namespace pe
