#include "interface/engine_adapter.h"

#include <cstring>

#include "interface/host_strings.h"
#include "platform/platform.h"

namespace vorel {

namespace {

// Longest BSTR taken from a host variant; an initial value is a short text.
constexpr uint32_t kMaxBstrBytes = 1u << 16;

template <class T>
T read_value(const TVariantBytes& v) {
  T out;
  std::memcpy(&out, v.value, sizeof out);
  return out;
}

std::string text_field(const char* field, size_t size) {
  const void* zero = std::memchr(field, 0, size);
  return std::string(field, zero ? static_cast<const char*>(zero) - field : size);
}

std::string bstr_to_gbk(const char16_t* text) {
  if (!text) return {};
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  bytes = std::min(bytes, kMaxBstrBytes);
  return platform::utf16_to_gbk(std::u16string_view(text, bytes / 2));
}

}  // namespace

TVariant from_host_variant(const TVariantBytes& v) {
  switch (v.vt) {
    case kVtEmpty: return TVariant();
    case kVtI1: return TVariant::Int(read_value<int8_t>(v));
    case kVtUI1: return TVariant::Int(read_value<uint8_t>(v));
    case kVtI2: return TVariant::Int(read_value<int16_t>(v));
    case kVtUI2: return TVariant::Int(read_value<uint16_t>(v));
    case kVtI4: return TVariant::Int(read_value<int32_t>(v));
    case kVtUI4: {
      const uint32_t u = read_value<uint32_t>(v);
      return u <= 0x7FFFFFFFu ? TVariant::Int(static_cast<int32_t>(u)) : TVariant::Double(u);
    }
    case kVtI8: return TVariant::Double(static_cast<double>(read_value<int64_t>(v)));
    case kVtUI8: return TVariant::Double(static_cast<double>(read_value<uint64_t>(v)));
    case kVtR4: return TVariant::Double(read_value<float>(v));
    case kVtR8:
    case kVtDate: return TVariant::Double(read_value<double>(v));
    case kVtCy: return TVariant::Double(static_cast<double>(read_value<int64_t>(v)) / 10000.0);
    case kVtBool: return TVariant::Bool(read_value<int16_t>(v) != 0);
    case kVtBstr: return TVariant::String(bstr_to_gbk(read_value<const char16_t*>(v)));
    case kVtHostString: {
      const char* text = read_value<const char*>(v);
      return TVariant::String(text ? std::string(text) : std::string());
    }
    default: {
      std::array<uint8_t, 8> bytes;
      std::memcpy(bytes.data(), v.value, 8);
      return TVariant::Opaque(v.vt, bytes);
    }
  }
}

HostTag to_host_tag(const TTagInfo& record) {
  HostTag tag;
  tag.TagID = record.TagID;
  tag.Name = text_field(record.TagName, sizeof record.TagName);
  tag.Address = text_field(record.TagAddr, sizeof record.TagAddr);
  tag.ValueType = record.ValueType;
  tag.ScanPeriod = record.ScanPeriod;
  TVariantBytes init;
  std::memcpy(&init, &record.InitValue, sizeof init);
  tag.InitValue = from_host_variant(init);
  return tag;
}

EngineAdapter::EngineAdapter(std::unique_ptr<TBaseDLLObject> engine) : engine_(std::move(engine)) {}

EngineAdapter::~EngineAdapter() { engine_->Destroy(); }

namespace {
// A null entry in the host's array becomes a record the engine refuses on its own.
void collect(std::span<const TTagInfo* const> tags, std::vector<HostTag>& out) {
  out.clear();
  for (const TTagInfo* t : tags) {
    if (t) {
      out.push_back(to_host_tag(*t));
    } else {
      HostTag missing;
      missing.TagID = -1;
      out.push_back(std::move(missing));
    }
  }
}
}  // namespace

bool EngineAdapter::IniDLLObj(const TDeviceParams& block, std::span<const TTagInfo* const> tags) {
  collect(tags, scratch_);
  return engine_->IniDLLObj(&block, scratch_);
}

int32_t EngineAdapter::AddTagLists(std::span<const TTagInfo* const> tags, int32_t* results) {
  collect(tags, scratch_);
  return engine_->AddTagLists(scratch_, results);
}

void EngineAdapter::set_host_event(uint32_t handle) { engine_->set_host_event(handle); }
int32_t EngineAdapter::ScanTime() const { return engine_->ScanTime(); }
void EngineAdapter::ReadExecute() { engine_->ReadExecute(); }

int32_t EngineAdapter::report_tags(TTagValue* values) {
  platform::Clock& clock = platform::clock();
  double stamp = 0;
  bool stamped = false;
  int32_t count = 0;
  return engine_->report_due_tags(clock.ticks(), [&](TDLLTag& tag) {
    if (!stamped) {  // the date-time is read once per poll, and only when something is reported
      stamp = platform::to_ole_date(clock.now());
      stamped = true;
    }
    TTagValue r{};
    r.TagID = tag.TagID;
    r.Stamp = stamp;
    r.TagStatus = tag.TagStatus;
    r.ValueType = tag.ValueType;
    try {
      if (tag.ValueType == 0) {
        const double d = tag.Value.as_double();
        std::memcpy(r.Value, &d, sizeof d);
      } else if (tag.ValueType == 1) {
        const uint16_t flag = tag.Value.as_bool() ? 0xFFFF : 0;
        std::memcpy(r.Value, &flag, sizeof flag);
      } else {
        char* text = new_host_string(tag.Value.as_string());
        std::memcpy(r.Value, &text, sizeof text);
      }
    } catch (...) {
      // A value that does not convert to the tag's type is reported as zero / off / empty.
    }
    std::memcpy(&values[count++], &r, sizeof r);
  });
}

std::optional<bool> EngineAdapter::write_record(const TTagValue& record) {
  const int32_t id = record.TagID;
  const TDLLTag* tag = engine_->find_tag(id);
  if (!tag || tag->ValueType != record.ValueType) return std::nullopt;
  TVariant value;
  if (record.ValueType == 0) {
    double d;
    std::memcpy(&d, record.Value, sizeof d);
    value = TVariant::Double(d);
  } else if (record.ValueType == 1) {
    int32_t i;
    std::memcpy(&i, record.Value, sizeof i);
    value = TVariant::Bool(i != 0);
  } else {
    const char* text;
    std::memcpy(&text, record.Value, sizeof text);
    value = TVariant::String(from_host_string(text));
  }
  return engine_->WriteExecute(id, value);
}

void EngineAdapter::ReadExecuteEx(int32_t) { engine_->ReadExecuteEx(); }
std::string EngineAdapter::sErrEvent() const { return engine_->sErrEvent(); }
void EngineAdapter::WriteCommEvent(const std::string& text) { engine_->WriteCommEvent(text); }
void EngineAdapter::WriteEnLog(bool enable) { engine_->WriteEnLog(enable); }
void EngineAdapter::Stop() { engine_->Stop(); }

bool EngineAdapter::CheckTagAddr(const TDeviceParams& block, std::string& address) {
  return engine_->CheckTagAddr(&block, address);
}

}  // namespace vorel
