// The driver and the stand-in memory manager as the host meets them: both loaded at run time from
// the test's own folder, the manager first, and every export resolved by its undecorated name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "interface/exports.h"
#include "platform/platform.h"

namespace wine_test {

// How many times longer than on a machine of its own a wait may take: VOREL_WINE_TIME_SCALE, which
// the build sets for the emulated i386 machine (1 when unset).
inline uint32_t TimeScale() {
  const char* text = std::getenv("VOREL_WINE_TIME_SCALE");
  const long scale = text ? std::strtol(text, nullptr, 10) : 1;
  return scale >= 1 && scale <= 100 ? static_cast<uint32_t>(scale) : 1;
}

// Literals in these tests are code page 936 bytes, as the driver's texts are: a UTF-8 "通" would
// be three bytes long, the GBK one is CD A8.
static_assert(sizeof("通") == 3 && "通"[0] == '\xCD' && "通"[1] == '\xA8');

// The exports as the host calls them: standard calling convention, arguments right to left.
using GetPDBLenFn = int32_t(__stdcall*)();
using FullPDBFn = void(__stdcall*)(TDeviceParams*);
using DLLEdDevFn = int32_t(__stdcall*)(void*, TDeviceParams*);
using DLLTestDevFn = HostBool(__stdcall*)(TDeviceParams*, uint8_t);
using TagEdAddrFn = HostBool(__stdcall*)(TDeviceParams*, char**, uint8_t, char**);
using GetTagAddrListFn = void(__stdcall*)(uint32_t, int32_t*, TTagAddrItem*);
using GetTagsFn = int32_t(__stdcall*)(uint16_t*, TTagTypeInfo*);
using IniDriverFn = HostBool(__stdcall*)(int32_t, TTagInfo**, TDeviceParams*, char**);
using IniDriverExFn = HostBool(__stdcall*)(uint32_t);
using AddTagsFn = int32_t(__stdcall*)(uint16_t, TTagInfo**, int32_t*);
using DetectScanTimeFn = uint16_t(__stdcall*)();
using OnDataReadFn = HostBool(__stdcall*)(int32_t*, TTagValue*, char**);
using OnDataWriteFn = HostBool(__stdcall*)(int32_t, TTagValue*, char**);
using ReadTagsFn = int32_t(__stdcall*)(uint16_t, int32_t*, uint32_t);
using WriteTagsFn = int32_t(__stdcall*)(uint16_t, TTagValue*, uint32_t);
using GetDeviceStatusFn = HostBool(__stdcall*)(char**);
using WriteLogFn = void(__stdcall*)(uint8_t, char**);
using FreeDriverFn = HostBool(__stdcall*)();

// The driver's own declarations must be exactly what the host calls.
static_assert(std::is_same_v<GetPDBLenFn, decltype(&::GetPDBLen)>);
static_assert(std::is_same_v<FullPDBFn, decltype(&::FullPDB)>);
static_assert(std::is_same_v<DLLEdDevFn, decltype(&::DLLEdDev)>);
static_assert(std::is_same_v<DLLTestDevFn, decltype(&::DLLTestDev)>);
static_assert(std::is_same_v<TagEdAddrFn, decltype(&::TagEdAddr)>);
static_assert(std::is_same_v<GetTagAddrListFn, decltype(&::GetTagAddrList)>);
static_assert(std::is_same_v<GetTagsFn, decltype(&::GetTags)>);
static_assert(std::is_same_v<IniDriverFn, decltype(&::IniDriver)>);
static_assert(std::is_same_v<IniDriverExFn, decltype(&::IniDriverEx)>);
static_assert(std::is_same_v<AddTagsFn, decltype(&::AddTags)>);
static_assert(std::is_same_v<DetectScanTimeFn, decltype(&::DetectScanTime)>);
static_assert(std::is_same_v<OnDataReadFn, decltype(&::OnDataRead)>);
static_assert(std::is_same_v<OnDataWriteFn, decltype(&::OnDataWrite)>);
static_assert(std::is_same_v<ReadTagsFn, decltype(&::ReadTags)>);
static_assert(std::is_same_v<WriteTagsFn, decltype(&::WriteTags)>);
static_assert(std::is_same_v<GetDeviceStatusFn, decltype(&::GetDeviceStatus)>);
static_assert(std::is_same_v<WriteLogFn, decltype(&::WriteLog)>);
static_assert(std::is_same_v<FreeDriverFn, decltype(&::FreeDriver)>);

// The memory manager's entry points take their argument in EAX.
using SysGetMemFn = void*(__attribute__((regparm(3))) *)(int32_t size);
using SysFreeMemFn = int32_t(__attribute__((regparm(3))) *)(void* block);
using SimCounterFn = int32_t (*)();

struct Driver {
  std::string folder;       // the test executable's folder, with a trailing separator
  std::string driver_path;  // full path of the loaded Vorel_PCI.dll
  std::string load_error;   // empty when everything below is bound
  platform::LibraryHandle manager = nullptr;
  platform::LibraryHandle library = nullptr;  // the driver's image base
  // The driver shows a message box at its first IniDriver or TagEdAddr when it cannot read its own
  // version resource; tests that call those refuse to run without it.
  bool version_readable = false;

  SysGetMemFn SysGetMem = nullptr;
  SysFreeMemFn SysFreeMem = nullptr;
  SimCounterFn sim_live_blocks = nullptr;
  SimCounterFn sim_total_blocks = nullptr;

  GetPDBLenFn GetPDBLen = nullptr;
  FullPDBFn FullPDB = nullptr;
  DLLEdDevFn DLLEdDev = nullptr;
  DLLTestDevFn DLLTestDev = nullptr;
  TagEdAddrFn TagEdAddr = nullptr;
  GetTagAddrListFn GetTagAddrList = nullptr;
  GetTagsFn GetTags = nullptr;
  IniDriverFn IniDriver = nullptr;
  IniDriverExFn IniDriverEx = nullptr;
  AddTagsFn AddTags = nullptr;
  DetectScanTimeFn DetectScanTime = nullptr;
  OnDataReadFn OnDataRead = nullptr;
  OnDataWriteFn OnDataWrite = nullptr;
  ReadTagsFn ReadTags = nullptr;
  WriteTagsFn WriteTags = nullptr;
  GetDeviceStatusFn GetDeviceStatus = nullptr;
  WriteLogFn WriteLog = nullptr;
  FreeDriverFn FreeDriver = nullptr;
};

// Loaded once per process and kept until it ends.
const Driver& driver();

// A host string the driver returned, copied out and given back to the manager as the host does;
// nullopt for a null pointer. The pointer is cleared.
std::optional<std::string> take_host_string(char*& text);

// A block from the manager holding `text`, as the host passes its own strings.
char* new_host_string(std::string_view text);

// Runs `body` on a new host thread and waits for it. When the thread ends, the driver's thread
// detach destroys any engine the thread started, so the calling thread keeps its own state.
template <typename Body>
void on_host_thread(Body body) {
  platform::Thread(std::move(body)).join();
}

// The host tag records of one device, as IniDriver and AddTags take them: an array of pointers
// to 136-byte records that stay where they are.
class HostTagList {
 public:
  HostTagList() { records_.reserve(kCapacity); }
  HostTagList(const HostTagList&) = delete;
  HostTagList& operator=(const HostTagList&) = delete;

  // Name and address are cut to their fields. Returns the tag's identifier.
  int32_t add(int32_t id, std::string_view name, std::string_view address, uint8_t value_type,
              uint32_t scan_period);
  int32_t count() const { return static_cast<int32_t>(pointers_.size()); }
  TTagInfo** pointers() { return pointers_.data(); }

 private:
  static constexpr size_t kCapacity = 64;  // no reallocation: the pointers must stay valid
  std::vector<TTagInfo> records_;
  std::vector<TTagInfo*> pointers_;
};

// The default parameter block of the driver itself (card 1, a PCI_7505).
TDeviceParams default_block(const Driver& dll);

// Every test starts and ends with the same number of live manager blocks: each host string the
// driver handed over was freed exactly once by the test.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  int32_t live_blocks() const { return dll.sim_live_blocks(); }

  const Driver& dll = driver();

 private:
  int32_t live_at_start_ = 0;
};

// For tests that call IniDriver or TagEdAddr: they do not run at all when the driver could not read
// its version resource, because its failure message box would stop the unattended run.
class NoMessageBoxTest : public DriverTest {
 protected:
  void SetUp() override;
};

}  // namespace wine_test
