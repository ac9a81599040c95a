// The engine as the exports see it: host records in, host records and host strings out.
#pragma once

#include <memory>
#include <vector>

#include "engine/DLLBase.h"
#include "interface/driver_engine.h"

namespace vorel {

// What a host tag record says, copied out of the host's memory.
HostTag to_host_tag(const TTagInfo& record);
// The host's VARIANT as the engine's value; kinds the engine does not interpret stay opaque.
TVariant from_host_variant(const TVariantBytes& v);

class EngineAdapter : public DriverEngine {
 public:
  explicit EngineAdapter(std::unique_ptr<TBaseDLLObject> engine);
  ~EngineAdapter() override;

  bool IniDLLObj(const TDeviceParams& block, std::span<const TTagInfo* const> tags) override;
  int32_t AddTagLists(std::span<const TTagInfo* const> tags, int32_t* results) override;
  void set_host_event(uint32_t handle) override;
  int32_t ScanTime() const override;
  void ReadExecute() override;
  int32_t report_tags(TTagValue* values) override;
  std::optional<bool> write_record(const TTagValue& record) override;
  void ReadExecuteEx(int32_t tag_id) override;
  std::string sErrEvent() const override;
  void WriteCommEvent(const std::string& text) override;
  void WriteEnLog(bool enable) override;
  void Stop() override;
  bool CheckTagAddr(const TDeviceParams& block, std::string& address) override;

  TBaseDLLObject& engine() { return *engine_; }

 private:
  std::unique_ptr<TBaseDLLObject> engine_;
  std::vector<HostTag> scratch_;
};

}  // namespace vorel
