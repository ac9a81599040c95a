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
Result guarded(Result fallback, Body&& body) {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void guarded(Body&& body) {
  try {
    body();
  } catch (...) {
  }
}

// The calls where the host first needs the driver's texts (its editor and test calls, IniDriver)
// show, once in the process, that the version record could not be read; then run guarded.
template <typename Result, typename Body>
Result reporting(Result fallback, Body&& body) {
  return guarded<Result>(fallback, [&]() -> Result {
    report_driver_file_info_failure();
    return body();
  });
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

bool start_thread_engine(int32_t count, TTagInfo** tags, TDeviceParams* block, std::string& message) {
  message.clear();
  if (!tags) {
    message = kInvalidTags;
    return false;
  }
  if (!block) {
    message = kInvalidParams;
    return false;
  }
  platform::AutoResetEvent* admission = module::admission_event();
  if (!admission) {
    message = kNoAdmissionEvent;
    return false;
  }
  if (!admission->wait(module::admission_wait_ms())) {
    message = kAdmissionBusy;
    return false;
  }
  AdmissionTicket ticket(*admission);
  // The engine this thread had is stopped and destroyed before the new one writes its start
  // report, so that the run log keeps each start report paired with its own stop report.
  module::destroy_current_engine();
  std::unique_ptr<DriverEngine> created = create_driver_engine(true);
  if (!created) return false;
  DriverEngine* engine = created.get();
  module::set_current_engine(std::move(created));
  const bool ok = engine->IniDLLObj(*block, tag_list(tags, count));
  message = take_message(*engine);
  return ok;
}

bool check_tag_address(const TDeviceParams* block, std::string& address, bool skip_check,
                       std::string& message) {
  std::unique_ptr<DriverEngine> engine = create_driver_engine(false);
  if (!engine || !block) {
    message = kNoDevice;
    return false;
  }
  if (skip_check) return true;
  const bool result = engine->CheckTagAddr(*block, address);
  message = take_message(*engine);
  return result;
}

}  // namespace vorel

VOREL_EXPORT int32_t VOREL_STDCALL GetPDBLen() { return kParamBlockSize; }

VOREL_EXPORT void VOREL_STDCALL FullPDB(TDeviceParams* block) { vorel::FullPDB(block); }

VOREL_EXPORT int32_t VOREL_STDCALL DLLEdDev(void* window, TDeviceParams* block) {
  return reporting<int32_t>(2, [&]() -> int32_t {
    if (!block) return 2;
    return run_configuration_wizard(window, *block);
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL DLLTestDev(TDeviceParams* block, uint8_t interactive) {
  if (!block) return 0;
  const bool result = reporting(false, [&]() -> bool {
    TDeviceParams copy{};
    CopyPDB(*block, copy);
    return run_test_dialog(copy, interactive != 0);
  });
  // The dialog starts its engine through IniDriver on this thread; it must not outlive the test.
  guarded([] { module::destroy_current_engine(); });
  return result ? 1 : 0;
}

VOREL_EXPORT HostBool VOREL_STDCALL TagEdAddr(TDeviceParams* block, char** address, uint8_t skip_check,
                                              char** message) {
  return reporting<HostBool>(0, [&]() -> HostBool {
    std::string text = address ? from_host_string(*address) : std::string();
    std::string reply;
    const bool result = vorel::check_tag_address(block, text, skip_check != 0, reply);
    put_host_string(message, reply);
    put_host_string(address, text);
    return result ? 1 : 0;
  });
}

VOREL_EXPORT void VOREL_STDCALL GetTagAddrList(uint32_t, int32_t* count, TTagAddrItem* items) {
  describe_tag_addresses(count, items);
}

VOREL_EXPORT int32_t VOREL_STDCALL GetTags(uint16_t* count, TTagTypeInfo* items) {
  describe_tag_types(count, items);
  return 0;
}

VOREL_EXPORT HostBool VOREL_STDCALL IniDriver(int32_t count, TTagInfo** tags, TDeviceParams* block,
                                              char** message) {
  return reporting<HostBool>(0, [&]() -> HostBool {
    if (message) *message = nullptr;
    std::string reply;
    const bool ok = vorel::start_thread_engine(count, tags, block, reply);
    put_host_string(message, reply);
    return ok ? 1 : 0;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL IniDriverEx(uint32_t event) {
  guarded([&] {
    if (DriverEngine* engine = module::current_engine()) engine->set_host_event(event);
  });
  return 1;
}

VOREL_EXPORT int32_t VOREL_STDCALL AddTags(uint16_t count, TTagInfo** tags, int32_t* results) {
  return guarded<int32_t>(1, [&]() -> int32_t {
    DriverEngine* engine = module::current_engine();
    if (!tags || !engine) return 1;
    return engine->AddTagLists(tag_list(tags, count), results);
  });
}

VOREL_EXPORT uint16_t VOREL_STDCALL DetectScanTime() {
  return guarded(kScanTimeWithoutEngine, []() -> uint16_t {
    if (DriverEngine* engine = module::current_engine())
      return static_cast<uint16_t>(engine->ScanTime() & 0xFFFF);
    return kScanTimeWithoutEngine;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL OnDataRead(int32_t* count, TTagValue* values, char** message) {
  guarded([&] {
    if (count) *count = 0;
    DriverEngine* engine = module::current_engine();
    std::string reply;
    if (!engine || !values) {
      reply = kNoDevice;
    } else {
      engine->ReadExecute();
      reply = take_message(*engine);
      const int32_t written = engine->report_tags(values);
      if (count) *count = written;
    }
    put_host_string(message, reply);
  });
  return 1;
}

VOREL_EXPORT HostBool VOREL_STDCALL OnDataWrite(int32_t count, TTagValue* values, char** message) {
  bool result = false;
  guarded([&] {
    DriverEngine* engine = module::current_engine();
    std::string reply;
    if (!engine || count == 0 || !values) {
      reply = kNoDevice;
    } else {
      for (int32_t i = 0; i < count; ++i)
        if (std::optional<bool> written = engine->write_record(values[i])) result = *written;
      reply = take_message(*engine);
    }
    put_host_string(message, reply);
  });
  return result ? 1 : 0;
}

VOREL_EXPORT int32_t VOREL_STDCALL ReadTags(uint16_t count, int32_t* ids, uint32_t) {
  if (!ids || count == 0) return 1;
  guarded([&] {
    if (DriverEngine* engine = module::current_engine())
      for (uint16_t i = 0; i < count; ++i) engine->ReadExecuteEx(ids[i]);
  });
  return 0;
}

VOREL_EXPORT int32_t VOREL_STDCALL WriteTags(uint16_t count, TTagValue* values, uint32_t) {
  if (!values || count == 0) return 1;
  return guarded<int32_t>(1, [&]() -> int32_t {
    DriverEngine* engine = module::current_engine();
    if (!engine) return 1;
    int32_t result = 0;
    for (uint16_t i = 0; i < count; ++i) {
      std::optional<bool> written = engine->write_record(values[i]);
      if (written && !*written) result = 1;
    }
    return result;
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL GetDeviceStatus(char** message) {
  guarded([&] {
    DriverEngine* engine = module::current_engine();
    put_host_string(message, engine ? take_message(*engine) : std::string(kNoDevice));
  });
  return 1;
}

VOREL_EXPORT void VOREL_STDCALL WriteLog(uint8_t enable, char** message) {
  guarded([&] {
    DriverEngine* engine = module::current_engine();
    if (!engine) {
      put_host_string(message, kNoDevice);
      return;
    }
    if (engine->sErrEvent().empty()) {
      if (message) *message = nullptr;
      return;
    }
    engine->WriteEnLog(enable != 0);
    put_host_string(message, take_message(*engine));
  });
}

VOREL_EXPORT HostBool VOREL_STDCALL FreeDriver() {
  guarded([] {
    if (DriverEngine* engine = module::current_engine()) engine->Stop();
  });
  return 1;
}
