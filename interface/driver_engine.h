// What the exports need from the engine of a thread. The engine classes stay below the boundary
// and know nothing of host strings or host records beyond these calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "records/pdb.h"
#include "records/tag_records.h"

namespace vorel {

class DriverEngine {
 public:
  virtual ~DriverEngine() = default;

  // Start-up with the host's block and tags (the tags are read during the call only).
  virtual bool IniDLLObj(const TDeviceParams& block, std::span<const TTagInfo* const> tags) = 0;
  // Registers more tags; fills one result slot per tag (0 accepted, 1 rejected); 1 when any failed.
  virtual int32_t AddTagLists(std::span<const TTagInfo* const> tags, int32_t* results) = 0;
  virtual void set_host_event(uint32_t handle) = 0;
  virtual int32_t ScanTime() const = 0;

  // One step of the operation machine.
  virtual void ReadExecute() = 0;
  // Fills one record per tag that is due and changed (or still reporting at start-up, or carrying
  // an event word); returns the number of records written.
  virtual int32_t report_tags(TTagValue* values) = 0;
  // One host value: nullopt when the record names no registered tag or a different value type,
  // otherwise whether the write was accepted.
  virtual std::optional<bool> write_record(const TTagValue& record) = 0;
  virtual void ReadExecuteEx(int32_t tag_id) = 0;

  // Pending event text and its writer.
  virtual std::string sErrEvent() const = 0;
  virtual void WriteCommEvent(const std::string& text) = 0;
  virtual void WriteEnLog(bool enable) = 0;

  virtual void Stop() = 0;
  // Checks an address and rewrites it into its normal form.
  virtual bool CheckTagAddr(const TDeviceParams& block, std::string& address) = 0;
};

// Copies the pending event text and clears it.
inline std::string take_message(DriverEngine& engine) {
  std::string text = engine.sErrEvent();
  engine.WriteCommEvent(std::string());
  return text;
}

}  // namespace vorel
