#include "tests/wine/pe_image.h"

#include <cstring>

namespace pe {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kDataDirectoriesOffset = 96;  // inside the PE32 optional header
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;

#pragma pack(push, 1)
struct FileHeader {
  uint16_t machine;
  uint16_t number_of_sections;
  uint32_t time_date_stamp;
  uint32_t pointer_to_symbol_table;
  uint32_t number_of_symbols;
  uint16_t size_of_optional_header;
  uint16_t characteristics;
};

struct DataDirectory {
  uint32_t rva;
  uint32_t size;
};

struct ExportDirectory {
  uint32_t characteristics;
  uint32_t time_date_stamp;
  uint16_t major_version;
  uint16_t minor_version;
  uint32_t name;
  uint32_t ordinal_base;
  uint32_t number_of_functions;
  uint32_t number_of_names;
  uint32_t address_of_functions;
  uint32_t address_of_names;
  uint32_t address_of_name_ordinals;
};

struct ImportDescriptor {
  uint32_t original_first_thunk;
  uint32_t time_date_stamp;
  uint32_t forwarder_chain;
  uint32_t name;
  uint32_t first_thunk;
};
#pragma pack(pop)

static_assert(sizeof(FileHeader) == kFileHeaderSize);
static_assert(sizeof(ExportDirectory) == 40);
static_assert(sizeof(ImportDescriptor) == 20);

// The mapped image, read with memcpy: nothing in it is guaranteed to be aligned.
class Image {
 public:
  explicit Image(const void* base) : base_(static_cast<const uint8_t*>(base)) {}

  template <typename T>
  T read(uint32_t rva) const {
    T value;
    std::memcpy(&value, base_ + rva, sizeof value);
    return value;
  }

  std::string text(uint32_t rva) const { return reinterpret_cast<const char*>(base_ + rva); }

 private:
  const uint8_t* base_;
};

void read_exports(const Image& image, const DataDirectory& dir, LoadedImage& out) {
  if (dir.rva == 0) return;
  const auto table = image.read<ExportDirectory>(dir.rva);
  out.module_name = image.text(table.name);
  out.function_count = table.number_of_functions;
  for (uint32_t i = 0; i < table.number_of_names; ++i) {
    const auto name_rva = image.read<uint32_t>(table.address_of_names + 4 * i);
    const auto ordinal = image.read<uint16_t>(table.address_of_name_ordinals + 2 * i);
    const auto function_rva = image.read<uint32_t>(table.address_of_functions + 4u * ordinal);
    out.exports.push_back({image.text(name_rva), function_rva});
  }
}

void read_imports(const Image& image, const DataDirectory& dir, LoadedImage& out) {
  if (dir.rva == 0) return;
  for (uint32_t at = dir.rva;; at += sizeof(ImportDescriptor)) {
    const auto descriptor = image.read<ImportDescriptor>(at);
    if (descriptor.name == 0) break;  // the all-zero descriptor ends the list
    out.imports.push_back(image.text(descriptor.name));
  }
}

}  // namespace

std::optional<LoadedImage> read_loaded_image(const void* image_base) {
  if (!image_base) return std::nullopt;
  const Image image(image_base);
  if (image.read<uint16_t>(0) != kDosMagic) return std::nullopt;
  const auto pe_offset = image.read<uint32_t>(kLfanewOffset);
  if (image.read<uint32_t>(pe_offset) != kPeSignature) return std::nullopt;

  const auto header = image.read<FileHeader>(pe_offset + 4);
  const uint32_t optional_offset = pe_offset + 4 + kFileHeaderSize;
  if (image.read<uint16_t>(optional_offset) != kOptionalMagicPe32) return std::nullopt;
  const auto directory_count = image.read<uint32_t>(optional_offset + kDataDirectoriesOffset - 4);
  if (directory_count <= kImportDirectory) return std::nullopt;

  LoadedImage out;
  out.machine = header.machine;
  out.characteristics = header.characteristics;
  const uint32_t directories = optional_offset + kDataDirectoriesOffset;
  read_exports(image, image.read<DataDirectory>(directories + 8 * kExportDirectory), out);
  read_imports(image, image.read<DataDirectory>(directories + 8 * kImportDirectory), out);
  return out;
}

}  // namespace pe
