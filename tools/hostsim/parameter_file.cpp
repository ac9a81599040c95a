#include "tools/hostsim/parameter_file.h"

#include <fstream>
#include <iterator>

#include "tools/hostsim/console.h"
#include "tools/hostsim/tag_table.h"

namespace hostsim {

namespace {

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace

std::optional<ParameterBlock> load_parameter_file(const DriverExports& driver, const std::string& path) {
  const int32_t size = driver.GetPDBLen();
  const std::string shown_path = gbk_to_utf8(path);
  if (size <= 0) {
    print_error(strprintf("hostsim: GetPDBLen answered %d", size));
    return std::nullopt;
  }
  const std::optional<std::string> stored = read_text_file(path);
  if (stored) {
    if (stored->size() != static_cast<size_t>(size)) {
      print_error(strprintf("hostsim: %s holds %u bytes, the driver's block has %d; not used",
                            shown_path.c_str(), static_cast<unsigned>(stored->size()), size));
      return std::nullopt;
    }
    ParameterBlock block(std::vector<uint8_t>(stored->begin(), stored->end()));
    int count = 0;
    const std::string cards = configured_cards(block.params(), count);
    print_line(
        strprintf("[parameter block] %s: %d bytes read, %d card(s): ", shown_path.c_str(), size, count) +
        cards);
    return block;
  }
  ParameterBlock block(size);
  driver.FullPDB(block.get());
  std::vector<uint8_t> bytes = block.bytes();
  bytes.resize(static_cast<size_t>(size));  // exactly what the driver described, as the host stores it
  if (!write_file(path, bytes)) {
    print_error("hostsim: cannot write the parameter block to " + shown_path);
    return std::nullopt;
  }
  int count = 0;
  const std::string cards = configured_cards(block.params(), count);
  print_line(strprintf("[parameter block] %s: created by FullPDB, %d bytes, %d card(s): ", shown_path.c_str(),
                       size, count) +
             cards);
  return block;
}

bool save_parameter_file(const DriverExports& driver, const ParameterBlock& block, const std::string& path) {
  std::vector<uint8_t> bytes = block.bytes();
  bytes.resize(static_cast<size_t>(driver.GetPDBLen()));
  if (write_file(path, bytes)) return true;
  print_error("hostsim: cannot write the parameter block to " + gbk_to_utf8(path));
  return false;
}

}  // namespace hostsim
