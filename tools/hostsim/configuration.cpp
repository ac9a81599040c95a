#include "tools/hostsim/configuration.h"

#include <algorithm>
#include <cstring>

#include "platform/version_blob.h"
#include "tools/hostsim/console.h"
#include "tools/hostsim/host_tags.h"

namespace hostsim {

namespace {

// The keys of the driver's string table that the host shows, its own four included.
constexpr const char* kVersionKeys[] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion",
                                        "DeviceName",      "DevTypeName", "DevIDName",   "ChnName"};

std::string short_string(const uint8_t (&field)[256]) {
  return std::string(reinterpret_cast<const char*>(field + 1), field[0]);
}

// Model names are at most 40 bytes, whatever the length byte claims.
std::string model_name(const vorel::TCardParams& card) {
  const size_t length = std::min<size_t>(card.ModelName[0], vorel::kModelNameMax);
  return std::string(reinterpret_cast<const char*>(card.ModelName + 1), length);
}

void show_version_string(const platform::VersionResource& resource, const std::string& table, const char* key,
                         Checker& checker) {
  const std::optional<std::string> value = resource.query_string("\\StringFileInfo\\" + table + "\\" + key);
  print_line(strprintf("  %-18s", key) + shown(value));
  checker.expect(value.has_value() && !value->empty(), std::string("version string ") + key + " present");
}

}  // namespace

void show_driver_version(const std::string& driver_path, Checker& checker) {
  print_line("[driver version] " + gbk_to_utf8(driver_path));
  std::unique_ptr<platform::VersionResource> resource = platform::open_version_resource(driver_path);
  checker.expect(resource != nullptr, "the driver file has version information");
  if (!resource) {
    print_line("  (no version information)");
    return;
  }
  uint16_t language = 0, code_page = 0;
  const bool translated = resource->translation(language, code_page);
  checker.expect(translated && code_page == 936, "string table in code page 936");
  const std::string table = strprintf("%04X%04X", language, code_page);
  print_line(strprintf("  %-18s%s (language 0x%04X, code page %u)", "Translation", table.c_str(), language,
                       code_page));
  for (const char* key : kVersionKeys) show_version_string(*resource, table, key, checker);

  uint32_t most = 0, least = 0;
  if (!resource->file_version(most, least)) {
    print_line("  fixed block       (missing)");
    checker.expect(false, "fixed version block present");
    return;
  }
  const std::string fixed = platform::version_blob::version_text(most, least);
  print_line("  fixed block       " + fixed);
  const std::optional<std::string> text =
      resource->query_string("\\StringFileInfo\\" + table + "\\FileVersion");
  checker.expect_text(text, fixed, "FileVersion string agrees with the fixed block");
}

void show_tag_types(const DriverExports& driver, Checker& checker) {
  uint16_t count = 0;
  const int32_t first = driver.GetTags(&count, nullptr);
  print_line(strprintf("[tag types] GetTags(null) -> %d, count %u", first, count));
  checker.expect_equal(first, 0, "GetTags result");
  checker.expect_equal(count, 6, "number of tag types");

  // One record more than asked for, filled with a pattern: the driver must copy exactly `count`.
  std::vector<vorel::TTagTypeInfo> types(size_t{count} + 1);
  std::memset(types.data(), 0xA5, types.size() * sizeof(vorel::TTagTypeInfo));
  const uint16_t asked = count;
  const int32_t second = driver.GetTags(&count, types.data());
  checker.expect_equal(second, 0, "GetTags result with records");
  checker.expect_equal(count, asked, "GetTags leaves the count as asked");

  for (size_t i = 0; i < asked; ++i) {
    const vorel::TTagTypeInfo& t = types[i];
    const std::string name = short_string(t.TypeName);
    print_line("  " + padded(name, 11) + padded(short_string(t.TypeDesc), 14) +
               strprintf("%-8s %-10s max %-7g min %g", value_type_name(t.ValueType),
                         t.Writable ? "writable" : "read-only", t.MaxValue, t.MinValue));
    checker.expect(!name.empty(), strprintf("tag type %d has a name", static_cast<int>(i)));
    checker.expect(t.ValueType <= vorel::kValueString && t.Writable <= 1,
                   "tag type " + name + " has a known value type and writable flag");
    checker.expect(t.MaxValue >= t.MinValue, "tag type " + name + " range is not reversed");
    checker.expect_equal(t.trailer564, 0, "tag type " + name + " trailing bytes");
  }
  const auto* beyond = reinterpret_cast<const uint8_t*>(&types[asked]);
  checker.expect(
      std::all_of(beyond, beyond + sizeof(vorel::TTagTypeInfo), [](uint8_t b) { return b == 0xA5; }),
      "GetTags writes nothing past the records asked for");
}

ParameterBlock::ParameterBlock(int32_t reported_size)
    // Never less than the layout the host reads back, whatever the driver reports.
    : bytes_(std::max<size_t>(reported_size > 0 ? static_cast<size_t>(reported_size) : 0,
                              sizeof(vorel::TDeviceParams)),
             0) {}

ParameterBlock::ParameterBlock(std::vector<uint8_t> stored) : bytes_(std::move(stored)) {
  if (bytes_.size() < sizeof(vorel::TDeviceParams)) bytes_.resize(sizeof(vorel::TDeviceParams), 0);
}

std::string configured_cards(const vorel::TDeviceParams& block, int& count) {
  std::string cards;
  count = 0;
  for (int n = 1; n <= vorel::kCardCount; ++n) {
    const vorel::TCardParams& card = *block.card(n);
    if (card.ModelCode == vorel::kModelNoCard) continue;
    ++count;
    cards += strprintf("%s#%d ", count > 1 ? "; " : "", static_cast<int>(card.CardNo)) +
             gbk_to_utf8(model_name(card)) + strprintf(" at 0x%X", static_cast<unsigned>(card.BaseAddress));
  }
  return count ? cards : "none";
}

ParameterBlock default_parameter_block(const DriverExports& driver, Checker& checker) {
  const int32_t size = driver.GetPDBLen();
  print_line(strprintf("[parameter block] GetPDBLen -> %d", size));
  checker.expect_equal(size, static_cast<int64_t>(sizeof(vorel::TDeviceParams)), "GetPDBLen");

  ParameterBlock block(size);
  driver.FullPDB(block.get());
  const vorel::TDeviceParams& p = block.params();
  int configured = 0;
  const std::string cards = configured_cards(p, configured);
  for (int n = 1; n <= vorel::kCardCount; ++n)
    if (p.card(n)->ModelCode != vorel::kModelNoCard)
      checker.expect_equal(p.card(n)->CardNo, n, "card number of a configured entry");
  print_line(strprintf("  FullPDB: %d card(s) configured: ", configured) + cards);
  checker.expect(configured > 0, "the default block configures a card");
  return block;
}

void show_driver_identity(const std::string& driver_path) {
  std::unique_ptr<platform::VersionResource> resource = platform::open_version_resource(driver_path);
  uint16_t language = 0, code_page = 0;
  if (!resource || !resource->translation(language, code_page)) {
    print_line("[driver] " + gbk_to_utf8(driver_path) + " (no version information)");
    return;
  }
  const std::string table = "\\StringFileInfo\\" + strprintf("%04X%04X", language, code_page) + "\\";
  print_line("[driver] " + shown(resource->query_string(table + "DeviceName")) + ", file version " +
             shown(resource->query_string(table + "FileVersion")));
}

}  // namespace hostsim
