// The exported functions. Each works on the engine in the calling thread's slot and answers with
// its fixed result when the thread has none. No exception leaves an export.
#include "interface/exports.h"

#include <span>
#include <string>

#include "interface/host_strings.h"
#include "interface/module.h"
#include "interface/seams.h"
#include "interface/tag_types.h"
#include "support/getfileinfo.h"

using namespace vorel;

namespace {

constexpr char kNoDevice[] = "通讯设备初始化失败";
constexpr char kInvalidTags[] = "无效的标签列表。";
constexpr char kInvalidParams[] = "无效的参数信息。";
constexpr char kNoAdmissionEvent[] = "TLSEvent = 0";
constexpr char kAdmissionBusy[] = "设备不支持并发访问，共享冲突。";
constexpr uint16_t kScanTimeWithoutEngine = 1000;

std::span<const TTagInfo* const> tag_list(TTagInfo** tags, int64_t count) {
  if (!tags || count <= 0) return {};
  return {const_cast<const TTagInfo* const*>(tags), static_cast<size_t>(count)};
}

// No exception leaves an export: a body that throws answers with the export's fixed result.
template <typename Result, typename Body>
Result Guarded(Result fallback, Body&& body) {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void Guarded(Body&& body) {
  try {
    body();
  } catch (...) {
  }
}

// Re-signals the admission event however IniDriver leaves, so that one failed start cannot make
// every later IniDriver in the process wait and fail.
class AdmissionTicket {
 public:
  explicit AdmissionTicket(platform::AutoResetEvent& e) : event_(e) {}
  ~AdmissionTicket() { event_.set(); }
  AdmissionTicket(const AdmissionTicket&) = delete;
  AdmissionTicket& operator=(const AdmissionTicket&) = delete;

 private:
  platform::AutoResetEvent& event_;
};

}  // namespace

namespace vorel {

bool StartThreadEngine(int32_t count, TTagInfo** tags, TDeviceParams* block, std::string& message) {
  message.clear();
  if (!tags) {
    message = kInvalidTags;
    return false;
  }
  if (!block) {
    message = kInvalidParams;
    return false;
  }
  platform::AutoResetEvent* admission = module::AdmissionEvent();
  if (!admission) {
    message = kNoAdmissionEvent;
    return false;
  }
  if (!admission->wait(module::AdmissionWaitMs())) {
    message = kAdmissionBusy;
    return false;
  }
  AdmissionTicket ticket(*admission);
  // The engine this thread had is stopped and destroyed before the new one writes its start
  // report, so that the run log keeps each start report paired with its own stop report.
  module::DestroyCurrentEngine();
  std::unique_ptr<DriverEngine> created = CreateDriverEngine(true);
  if (!created) return false;
  DriverEngine* engine = created.get();
  module::SetCurrentEngine(std::move(created));
  const bool ok = engine->IniDLLObj(*block, tag_list(tags, count));
  message = TakeMessage(*engine);
  return ok;
}

bool CheckTagAddress(const TDeviceParams* block, std::string& address, bool skip_check,
                     std::string& message) {
  message.clear();
  std::unique_ptr<DriverEngine> engine = CreateDriverEngine(false);
  if (!engine || !block) {
    message = kNoDevice;
    return false;
  }
  if (skip_check) return true;
  const bool result = engine->CheckTagAddr(*block, address);
  message = TakeMessage(*engine);
  return result;
}

}  // namespace vorel

VOREL_EXPORT int32_t VOREL_STDCALL GetPDBLen() { return kParamBlockSize; }

VOREL_EXPORT void VOREL_STDCALL FullPDB(TDeviceParams* block) { vorel::FullPDB(block); }

VOREL_EXPORT int32_t VOREL_STDCALL DLLEdDev(void* window, TDeviceParams* block) {
  return Guarded<int32_t>(2, [&]() -> int32_t {
    ReportDriverFileInfoFailure();
    if (!block) return 2;
    return RunConfigurationWizard(window, *block);
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL DLLTestDev(TDeviceParams* block, uint8_t interactive) {
  if (!block) return 0;
  const bool result = Guarded(false, [&]() -> bool {
    ReportDriverFileInfoFailure();
    TDeviceParams copy{};
    CopyPDB(*block, copy);
    return RunTestDialog(copy, interactive != 0);
  });
  // The dialog starts its engine through IniDriver on this thread; it must not outlive the test.
  Guarded([] { module::DestroyCurrentEngine(); });
  return result ? 1 : 0;
}

VOREL_EXPORT HostBool VOREL_STDCALL TagEdAddr(TDeviceParams* block, char** address, uint8_t skip_check,
                                              char** message) {
  return Guarded<HostBool>(0, [&]() -> HostBool {
    ReportDriverFileInfoFailure();
    std::string text = address ? FromHostString(*address) : std::string();
    std::string reply;
    const bool result = vorel::CheckTagAddress(block, text, skip_check != 0, reply);
    PutHostString(message, reply);
    PutHostString(address, text);
    return result ? 1 : 0;
  });
}

VOREL_EXPORT void VOREL_STDCALL GetTagAddrList(uint32_t, int32_t* count, TTagAddrItem* items) {
  DescribeTagAddresses(count, items);
}

VOREL_EXPORT int32_t VOREL_STDCALL GetTags(uint16_t* count, TTagTypeInfo* items) {
  DescribeTagTypes(count, items);
  return 0;
}

VOREL_EXPORT HostBool VOREL_STDCALL IniDriver(int32_t count, TTagInfo** tags, TDeviceParams* block,
                                              char** message) {
  return Guarded<HostBool>(0, [&]() -> HostBool {
    if (message) *message = nullptr;
    ReportDriverFileInfoFailure();
    std::string reply;
    const bool ok = vorel::StartThreadEngine(count, tags, block, reply);
    PutHostString(message, reply);
    return ok ? 1 : 0;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL IniDriverEx(uint32_t event) {
  Guarded([&] {
    if (DriverEngine* engine = module::CurrentEngine()) engine->SetHostEvent(event);
  });
  return 1;
}

VOREL_EXPORT int32_t VOREL_STDCALL AddTags(uint16_t count, TTagInfo** tags, int32_t* results) {
  return Guarded<int32_t>(1, [&]() -> int32_t {
    DriverEngine* engine = module::CurrentEngine();
    if (!tags || !engine) return 1;
    return engine->AddTagLists(tag_list(tags, count), results);
  });
}

VOREL_EXPORT uint16_t VOREL_STDCALL DetectScanTime() {
  return Guarded(kScanTimeWithoutEngine, []() -> uint16_t {
    if (DriverEngine* engine = module::CurrentEngine())
      return static_cast<uint16_t>(engine->ScanTime() & 0xFFFF);
    return kScanTimeWithoutEngine;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL OnDataRead(int32_t* count, TTagValue* values, char** message) {
  Guarded([&] {
    if (count) *count = 0;
    DriverEngine* engine = module::CurrentEngine();
    std::string reply;
    if (!engine || !values) {
      reply = kNoDevice;
    } else {
      engine->ReadExecute();
      reply = TakeMessage(*engine);
      const int32_t written = engine->ReportTags(values);
      if (count) *count = written;
    }
    PutHostString(message, reply);
  });
  return 1;
}

VOREL_EXPORT HostBool VOREL_STDCALL OnDataWrite(int32_t count, TTagValue* values, char** message) {
  bool result = false;
  Guarded([&] {
    DriverEngine* engine = module::CurrentEngine();
    std::string reply;
    if (!engine || count == 0 || !values) {
      reply = kNoDevice;
    } else {
      for (int32_t i = 0; i < count; ++i)
        if (std::optional<bool> written = engine->WriteRecord(values[i])) result = *written;
      reply = TakeMessage(*engine);
    }
    PutHostString(message, reply);
  });
  return result ? 1 : 0;
}

VOREL_EXPORT int32_t VOREL_STDCALL ReadTags(uint16_t count, int32_t* ids, uint32_t) {
  if (!ids || count == 0) return 1;
  Guarded([&] {
    if (DriverEngine* engine = module::CurrentEngine())
      for (uint16_t i = 0; i < count; ++i) engine->ReadExecuteEx(ids[i]);
  });
  return 0;
}

VOREL_EXPORT int32_t VOREL_STDCALL WriteTags(uint16_t count, TTagValue* values, uint32_t) {
  if (!values || count == 0) return 1;
  return Guarded<int32_t>(1, [&]() -> int32_t {
    DriverEngine* engine = module::CurrentEngine();
    if (!engine) return 1;
    int32_t result = 0;
    for (uint16_t i = 0; i < count; ++i) {
      std::optional<bool> written = engine->WriteRecord(values[i]);
      if (written && !*written) result = 1;
    }
    return result;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL GetDeviceStatus(char** message) {
  Guarded([&] {
    DriverEngine* engine = module::CurrentEngine();
    PutHostString(message, engine ? TakeMessage(*engine) : std::string(kNoDevice));
  });
  return 1;
}

VOREL_EXPORT void VOREL_STDCALL WriteLog(uint8_t enable, char** message) {
  Guarded([&] {
    DriverEngine* engine = module::CurrentEngine();
    if (!engine) {
      PutHostString(message, kNoDevice);
      return;
    }
    if (engine->sErrEvent().empty()) {
      if (message) *message = nullptr;
      return;
    }
    engine->WriteEnLog(enable != 0);
    PutHostString(message, TakeMessage(*engine));
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL FreeDriver() {
  Guarded([] {
    if (DriverEngine* engine = module::CurrentEngine()) engine->Stop();
  });
  return 1;
}
