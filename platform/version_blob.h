// The binary layout of a VS_VERSIONINFO resource, read and written without the OS. The Windows
// layer hands real resources to the system's own functions; the POSIX layer answers from blobs
// registered here, and tests build blobs to exercise the reader.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::version_blob {

struct Contents {
  uint32_t file_version_ms = 0, file_version_ls = 0;
  uint32_t product_version_ms = 0, product_version_ls = 0;
  uint16_t language = 0, code_page = 0;
  std::vector<std::pair<std::u16string, std::u16string>> strings;  // key, value
};

std::vector<uint8_t> encode(const Contents& contents);

struct Value {
  std::span<const uint8_t> bytes;  // text values: UTF-16LE without the terminating zero
  bool is_text = false;
};

// VerQueryValue over a blob: "\" is the fixed block, "\VarFileInfo\Translation" the language
// list, "\StringFileInfo\<table>\<key>" a text. Keys match case-insensitively.
std::optional<Value> query(std::span<const uint8_t> blob, std::u16string_view path);

// Reads the fixed block's file version (VS_FIXEDFILEINFO.dwFileVersionMS/LS).
bool fixed_file_version(std::span<const uint8_t> blob, uint32_t& most, uint32_t& least);

// The fixed block's two words of a four-part version a.b.c.d.
constexpr std::pair<uint32_t, uint32_t> pack_version(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return {(a << 16) | b, (c << 16) | d};
}

// The fixed block's four-part version as text, "major.minor.release.build".
std::string version_text(uint32_t most, uint32_t least);

}  // namespace platform::version_blob

namespace platform {
// POSIX: the version resource that open_version_resource() reports for `path`.
void register_version_resource(std::string path, std::vector<uint8_t> blob);
}  // namespace platform
