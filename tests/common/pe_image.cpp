#include "tests/common/pe_image.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kFileHeaderSize = 20;
// Inside the PE32 optional header.
constexpr uint32_t kImageBaseOffset = 28;
constexpr uint32_t kOsVersionOffset = 40;  // major, then minor, 16 bits each
constexpr uint32_t kSubsystemVersionOffset = 48;
constexpr uint32_t kSizeOfImageOffset = 56;
constexpr uint32_t kSizeOfHeadersOffset = 60;
constexpr uint32_t kDataDirectoriesOffset = 96;
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kTlsDirectory = 9;
constexpr uint32_t kImportByOrdinal = 0x80000000u;
constexpr uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr uint32_t kResourceSubdirectory = 0x80000000u;
// Far above any driver; a damaged header must not make us allocate gigabytes.
constexpr uint32_t kLargestImage = 64u << 20;

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

struct SectionHeader {
  char name[8];
  uint32_t virtual_size;
  uint32_t virtual_address;
  uint32_t size_of_raw_data;
  uint32_t pointer_to_raw_data;
  uint32_t pointer_to_relocations;
  uint32_t pointer_to_line_numbers;
  uint16_t number_of_relocations;
  uint16_t number_of_line_numbers;
  uint32_t characteristics;
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

struct TlsDirectory {  // addresses, not RVAs: the loader relocates them with the image
  uint32_t start_of_raw_data;
  uint32_t end_of_raw_data;
  uint32_t address_of_index;
  uint32_t address_of_callbacks;
  uint32_t size_of_zero_fill;
  uint32_t characteristics;
};

struct ResourceDirectory {
  uint32_t characteristics;
  uint32_t time_date_stamp;
  uint16_t major_version;
  uint16_t minor_version;
  uint16_t number_of_named_entries;
  uint16_t number_of_id_entries;
};

struct ResourceEntry {
  uint32_t name;    // an id, or (high bit set) the offset of a name
  uint32_t offset;  // from the resource directory: a subdirectory when the high bit is set
};

struct ResourceData {
  uint32_t rva;
  uint32_t size;
  uint32_t code_page;
  uint32_t reserved;
};
#pragma pack(pop)

static_assert(sizeof(FileHeader) == kFileHeaderSize);
static_assert(sizeof(SectionHeader) == 40);
static_assert(sizeof(ExportDirectory) == 40);
static_assert(sizeof(ImportDescriptor) == 20);
static_assert(sizeof(TlsDirectory) == 24);
static_assert(sizeof(ResourceDirectory) == 16);

// Thrown by a read that would leave the image; the reader answers nullopt.
struct OutsideImage {};

// The mapped image, read with memcpy: nothing in it is guaranteed to be aligned.
class Image {
 public:
  Image(const uint8_t* base, size_t size) : base_(base), size_(size) {}

  template <typename T>
  T read(uint64_t rva) const {
    check(rva, sizeof(T));
    T value;
    std::memcpy(&value, base_ + rva, sizeof value);
    return value;
  }

  std::string text(uint32_t rva) const {
    check(rva, 1);
    const void* end = std::memchr(base_ + rva, '\0', size_ - rva);
    if (!end) throw OutsideImage{};
    return std::string(reinterpret_cast<const char*>(base_ + rva),
                       static_cast<const uint8_t*>(end) - base_ - rva);
  }

  std::vector<uint8_t> bytes(uint32_t rva, uint32_t size) const {
    check(rva, size);
    return std::vector<uint8_t>(base_ + rva, base_ + rva + size);
  }

 private:
  void check(uint64_t rva, uint64_t size) const {
    if (rva > size_ || size > size_ - rva) throw OutsideImage{};
  }

  const uint8_t* base_;
  size_t size_;
};

// Where the headers say things are.
struct Headers {
  FileHeader file;
  uint32_t optional_offset = 0;
  uint32_t image_base = 0;
  uint32_t size_of_image = 0;
  uint32_t size_of_headers = 0;
  uint32_t directory_count = 0;
};

// nullopt when the headers describe no 32-bit PE image.
std::optional<Headers> read_headers(const Image& image) {
  if (image.read<uint16_t>(0) != kDosMagic) return std::nullopt;
  const auto pe_offset = image.read<uint32_t>(kLfanewOffset);
  if (image.read<uint32_t>(pe_offset) != kPeSignature) return std::nullopt;
  Headers h;
  h.file = image.read<FileHeader>(uint64_t{pe_offset} + 4);
  h.optional_offset = pe_offset + 4 + kFileHeaderSize;
  if (image.read<uint16_t>(h.optional_offset) != kOptionalMagicPe32) return std::nullopt;
  h.image_base = image.read<uint32_t>(uint64_t{h.optional_offset} + kImageBaseOffset);
  h.size_of_image = image.read<uint32_t>(uint64_t{h.optional_offset} + kSizeOfImageOffset);
  h.size_of_headers = image.read<uint32_t>(uint64_t{h.optional_offset} + kSizeOfHeadersOffset);
  h.directory_count = image.read<uint32_t>(uint64_t{h.optional_offset} + kDataDirectoriesOffset - 4);
  return h;
}

DataDirectory directory(const Image& image, const Headers& h, uint32_t index) {
  if (index >= h.directory_count) return {0, 0};
  return image.read<DataDirectory>(uint64_t{h.optional_offset} + kDataDirectoriesOffset + 8 * index);
}

void read_exports(const Image& image, const DataDirectory& dir, LoadedImage& out) {
  if (dir.rva == 0) return;
  const auto table = image.read<ExportDirectory>(dir.rva);
  out.module_name = image.text(table.name);
  out.function_count = table.number_of_functions;
  for (uint32_t i = 0; i < table.number_of_names; ++i) {
    const auto name_rva = image.read<uint32_t>(table.address_of_names + 4ull * i);
    const auto ordinal = image.read<uint16_t>(table.address_of_name_ordinals + 2ull * i);
    const auto function_rva = image.read<uint32_t>(table.address_of_functions + 4ull * ordinal);
    out.exports.push_back({image.text(name_rva), function_rva});
  }
}

SystemVersion read_version(const Image& image, const Headers& h, uint32_t offset) {
  const uint64_t at = uint64_t{h.optional_offset} + offset;
  return {image.read<uint16_t>(at), image.read<uint16_t>(at + 2)};
}

// The functions of one descriptor: its lookup table, which the loader leaves as it is (the
// address table beside it is overwritten with the bound addresses). Old linkers left the lookup
// table out; the address table then holds the names, in the file.
void read_imported_functions(const Image& image, const ImportDescriptor& descriptor,
                             const std::string& library, LoadedImage& out) {
  const uint32_t table =
      descriptor.original_first_thunk ? descriptor.original_first_thunk : descriptor.first_thunk;
  for (uint64_t at = table;; at += 4) {
    const auto entry = image.read<uint32_t>(at);
    if (entry == 0) break;
    if (entry & kImportByOrdinal)
      out.imported_functions.push_back({library, {}, static_cast<uint16_t>(entry)});
    else
      out.imported_functions.push_back({library, image.text(entry + 2), 0});  // after the 16-bit hint
  }
}

void read_imports(const Image& image, const DataDirectory& dir, LoadedImage& out) {
  if (dir.rva == 0) return;
  for (uint64_t at = dir.rva;; at += sizeof(ImportDescriptor)) {
    const auto descriptor = image.read<ImportDescriptor>(at);
    if (descriptor.name == 0) break;  // the all-zero descriptor ends the list
    out.imports.push_back(image.text(descriptor.name));
    read_imported_functions(image, descriptor, out.imports.back(), out);
  }
}

// `base` is where the image lies: the headers' preferred address for a file, the load address for
// an image the loader mapped (and relocated).
void read_thread_storage(const Image& image, const DataDirectory& dir, uint32_t base, LoadedImage& out) {
  if (dir.rva == 0) return;
  const auto tls = image.read<TlsDirectory>(dir.rva);
  ThreadStorage storage;
  storage.template_size = tls.end_of_raw_data - tls.start_of_raw_data;
  storage.zero_fill = tls.size_of_zero_fill;
  if (tls.address_of_callbacks != 0)
    for (uint64_t at = tls.address_of_callbacks - base; image.read<uint32_t>(at) != 0; at += 4)
      ++storage.callbacks;
  out.thread_storage = storage;
}

// The offset field of an entry of the resource directory at `at`: the one whose id is `id`, or
// the first entry when `id` is nullopt. nullopt when there is no such entry.
std::optional<uint32_t> resource_entry(const Image& image, uint64_t at, std::optional<uint32_t> id) {
  const auto dir = image.read<ResourceDirectory>(at);
  const uint32_t count = dir.number_of_named_entries + dir.number_of_id_entries;
  for (uint32_t i = 0; i < count; ++i) {
    const auto entry = image.read<ResourceEntry>(at + sizeof dir + 8ull * i);
    if (!id || (i >= dir.number_of_named_entries && entry.name == *id)) return entry.offset;
  }
  return std::nullopt;
}

// Type, name, language: the first version resource, as the version functions find it.
void read_version_resource(const Image& image, const DataDirectory& dir, LoadedImage& out) {
  if (dir.rva == 0) return;
  std::optional<uint32_t> offset = resource_entry(image, dir.rva, kVersionResourceType);
  for (int level = 0; level < 2; ++level) {  // the name, then the language
    if (!offset || !(*offset & kResourceSubdirectory)) return;
    offset = resource_entry(image, uint64_t{dir.rva} + (*offset & ~kResourceSubdirectory), std::nullopt);
  }
  if (!offset || (*offset & kResourceSubdirectory)) return;
  const auto data = image.read<ResourceData>(uint64_t{dir.rva} + *offset);
  out.version_resource = image.bytes(data.rva, data.size);
}

// `loaded_at` is the address the loader put the image at; nullopt for a file.
std::optional<LoadedImage> read_image(const Image& image, std::optional<uint32_t> loaded_at) {
  try {
    const std::optional<Headers> h = read_headers(image);
    if (!h || h->directory_count <= kImportDirectory) return std::nullopt;
    LoadedImage out;
    out.machine = h->file.machine;
    out.characteristics = h->file.characteristics;
    out.os_version = read_version(image, *h, kOsVersionOffset);
    out.subsystem_version = read_version(image, *h, kSubsystemVersionOffset);
    read_exports(image, directory(image, *h, kExportDirectory), out);
    read_imports(image, directory(image, *h, kImportDirectory), out);
    read_thread_storage(image, directory(image, *h, kTlsDirectory), loaded_at.value_or(h->image_base), out);
    read_version_resource(image, directory(image, *h, kResourceDirectory), out);
    return out;
  } catch (const OutsideImage&) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<LoadedImage> read_loaded_image(const void* image_base) {
  if (!image_base) return std::nullopt;
  // The loader mapped the headers and then the whole image, so the size the headers give holds.
  const auto* base = static_cast<const uint8_t*>(image_base);
  std::optional<Headers> headers;
  try {
    headers = read_headers(Image(base, kLargestImage));
  } catch (const OutsideImage&) {
  }
  if (!headers) return std::nullopt;
  return read_image(Image(base, headers->size_of_image),
                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image_base)));
}

std::optional<std::vector<uint8_t>> map_image_file(std::span<const uint8_t> file) {
  try {
    const Image raw(file.data(), file.size());
    const std::optional<Headers> h = read_headers(raw);
    if (!h || h->size_of_image > kLargestImage || h->size_of_headers > h->size_of_image ||
        h->size_of_headers > file.size())
      return std::nullopt;
    std::vector<uint8_t> mapped(h->size_of_image, 0);
    std::copy_n(file.begin(), h->size_of_headers, mapped.begin());
    const uint64_t sections = uint64_t{h->optional_offset} + h->file.size_of_optional_header;
    for (uint32_t i = 0; i < h->file.number_of_sections; ++i) {
      const auto s = raw.read<SectionHeader>(sections + sizeof(SectionHeader) * i);
      // The loader copies the raw data up to the section's size in memory and zero-fills the rest.
      const uint32_t size =
          s.virtual_size != 0 && s.virtual_size < s.size_of_raw_data ? s.virtual_size : s.size_of_raw_data;
      const std::vector<uint8_t> data = raw.bytes(s.pointer_to_raw_data, size);
      if (uint64_t{s.virtual_address} + size > mapped.size()) return std::nullopt;
      std::copy(data.begin(), data.end(), mapped.begin() + s.virtual_address);
    }
    return mapped;
  } catch (const OutsideImage&) {
    return std::nullopt;
  }
}

std::optional<LoadedImage> read_image_file(std::span<const uint8_t> file) {
  const std::optional<std::vector<uint8_t>> mapped = map_image_file(file);
  if (!mapped) return std::nullopt;
  return read_image(Image(mapped->data(), mapped->size()), std::nullopt);
}

}  // namespace pe
