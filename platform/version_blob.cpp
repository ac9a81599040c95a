#include "platform/version_blob.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform::version_blob {
namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;

class Writer {
 public:
  size_t begin_node(std::u16string_view key, uint16_t value_length, uint16_t type) {
    align();
    size_t start = out_.size();
    put16(0);  // wLength, patched by end_node
    put16(value_length);
    put16(type);
    for (char16_t c : key) put16(c);
    put16(0);
    align();
    return start;
  }
  void end_node(size_t start) {
    size_t length = out_.size() - start;
    out_[start] = static_cast<uint8_t>(length & 0xFF);
    out_[start + 1] = static_cast<uint8_t>(length >> 8);
  }
  void put16(uint32_t v) {
    out_.push_back(static_cast<uint8_t>(v & 0xFF));
    out_.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  void put32(uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  }
  void align() {
    while (out_.size() % 4 != 0) out_.push_back(0);
  }
  std::vector<uint8_t> take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

uint16_t read16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

size_t align4(size_t v) { return (v + 3) & ~size_t{3}; }

char16_t fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool same_key(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

struct Node {
  std::u16string key;
  Value value;
  std::span<const uint8_t> children;
  size_t length = 0;  // the node's bytes up to the next node: its length rounded up to 4
};

// Decodes the node at the start of `b`; nullopt when the bytes do not form one.
std::optional<Node> read_node(std::span<const uint8_t> b) {
  if (b.size() < 6) return std::nullopt;
  size_t length = read16(b, 0);
  size_t value_length = read16(b, 2);
  uint16_t type = read16(b, 4);
  if (length > b.size()) return std::nullopt;
  Node node;
  size_t at = 6;
  for (;;) {
    if (at + 2 > length) return std::nullopt;  // also a length shorter than the header
    char16_t c = read16(b, at);
    at += 2;
    if (c == 0) break;
    node.key.push_back(c);
  }
  at = align4(at);
  size_t value_bytes = type == 1 ? value_length * 2 : value_length;
  if (at + value_bytes > length) value_bytes = at <= length ? length - at : 0;
  node.value.is_text = type == 1;
  std::span<const uint8_t> value = b.subspan(std::min(at, length), value_bytes);
  if (node.value.is_text) {
    // Text values count their terminating zero; hand back the characters only.
    size_t chars = value.size() / 2;
    while (chars > 0 && read16(value, (chars - 1) * 2) == 0) --chars;
    value = value.first(chars * 2);
  }
  node.value.bytes = value;
  size_t children = align4(at + value_bytes);
  node.children = children < length ? b.subspan(children, length - children) : std::span<const uint8_t>{};
  node.length = align4(length);
  return node;
}

std::optional<Node> find_child(std::span<const uint8_t> children, std::u16string_view key) {
  while (!children.empty()) {
    auto node = read_node(children);
    if (!node) return std::nullopt;
    if (same_key(node->key, key)) return node;
    if (node->length >= children.size()) break;
    children = children.subspan(node->length);
  }
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> encode(const Contents& c) {
  Writer w;
  size_t root = w.begin_node(u"VS_VERSION_INFO", kFixedInfoSize, 0);
  const uint32_t fixed[13] = {kFixedSignature, 0x00010000, c.file_version_ms, c.file_version_ls,
                              c.product_version_ms, c.product_version_ls, 0x3F, 0, 0x40004, 2, 0, 0,
                              0};
  for (uint32_t v : fixed) w.put32(v);

  size_t sfi = w.begin_node(u"StringFileInfo", 0, 1);
  char table_name[sizeof "040904E4"];
  std::snprintf(table_name, sizeof table_name, "%04X%04X", c.language, c.code_page);
  std::u16string table(table_name, table_name + 8);
  size_t tbl = w.begin_node(table, 0, 1);
  for (const auto& [key, value] : c.strings) {
    size_t s = w.begin_node(key, static_cast<uint16_t>(value.size() + 1), 1);
    for (char16_t ch : value) w.put16(ch);
    w.put16(0);
    w.end_node(s);
  }
  w.end_node(tbl);
  w.end_node(sfi);

  size_t vfi = w.begin_node(u"VarFileInfo", 0, 1);
  size_t tr = w.begin_node(u"Translation", 4, 0);
  w.put16(c.language);
  w.put16(c.code_page);
  w.end_node(tr);
  w.end_node(vfi);
  w.end_node(root);
  return w.take();
}

std::optional<Value> query(std::span<const uint8_t> blob, std::u16string_view path) {
  auto node = read_node(blob);
  if (!node) return std::nullopt;
  while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  while (!path.empty()) {
    size_t sep = path.find(u'\\');
    std::u16string_view part = path.substr(0, sep);
    path = sep == std::u16string_view::npos ? std::u16string_view{} : path.substr(sep + 1);
    if (part.empty()) continue;
    node = find_child(node->children, part);
    if (!node) return std::nullopt;
  }
  return node->value;
}

bool fixed_file_version(std::span<const uint8_t> blob, uint32_t& most, uint32_t& least) {
  auto fixed = query(blob, u"\\");
  if (!fixed || fixed->bytes.size() < kFixedInfoSize) return false;
  auto at = [&](size_t i) {
    uint32_t v;
    std::memcpy(&v, fixed->bytes.data() + i * 4, 4);
    return v;
  };
  if (at(0) != kFixedSignature) return false;
  most = at(2);
  least = at(3);
  return true;
}

std::string version_text(uint32_t most, uint32_t least) {
  return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." +
         std::to_string(least >> 16) + "." + std::to_string(least & 0xFFFF);
}

}  // namespace platform::version_blob
