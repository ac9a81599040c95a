// What the host and every Windows installation demand of Vorel_PCI.dll as a file: the export
// table, the libraries and functions it imports, the oldest Windows its headers allow, its
// thread-local storage and its version resource. The native suite reads the file from
// disk, the Wine suite the image the loader mapped; both hold it to these facts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/pe_image.h"

namespace driver_file {

// The host's functions, exported under these undecorated names and under no other.
inline constexpr std::array<std::string_view, 18> kExportNames = {
    "GetPDBLen",   "FullPDB",   "DLLEdDev",    "DLLTestDev",      "TagEdAddr",      "GetTagAddrList",
    "GetTags",     "IniDriver", "IniDriverEx", "AddTags",         "DetectScanTime", "OnDataRead",
    "OnDataWrite", "ReadTags",  "WriteTags",   "GetDeviceStatus", "WriteLog",       "FreeDriver",
};

// Libraries every Windows installation from XP SP3 on has. Anything else (a compiler run-time, the
// memory manager, the card vendor's library, the API sets of Windows 7) would have to be
// installed next to the host or be loaded at run time. Case does not matter.
bool is_windows_system_library(std::string_view name);

// The oldest Windows the driver loads on: XP SP3 (NT 5.1).
inline constexpr pe::SystemVersion kOldestWindows{5, 1};

// The first Windows version whose `library` exports `function`, from the project's table of
// system functions; nullopt when the table does not list it. Case of the library does not matter.
std::optional<pe::SystemVersion> first_windows_with(std::string_view library, std::string_view function);

// "Windows XP (NT 5.1)"
std::string windows_name(pe::SystemVersion version);

// The C run time's own thread-local storage: its 4-byte start marker, and the two callbacks it
// registers (which XP never runs for a DLL loaded at run time; the run time copes without them).
inline constexpr uint32_t kRunTimeTlsTemplate = 4;
inline constexpr uint32_t kRunTimeTlsCallbacks = 2;

// The string table of the version resource: Simplified Chinese, code page 936.
inline constexpr char kStringTable[] = "080403A8";
inline constexpr uint16_t kLanguage = 0x0804;
inline constexpr uint16_t kCodePage = 936;
inline constexpr uint32_t kFileVersionMost = 0x00040000u, kFileVersionLeast = 0x00000004u;  // 4.0.0.4

// The strings the driver's texts rely on, code page 936. An empty text: empty or absent.
struct VersionString {
  const char* key;
  const char* text;
};
inline constexpr VersionString kVersionStrings[] = {
    {"FileDescription", "支持VorelPCI-7505板卡"},
    {"FileVersion", "4.0.0.4"},
    {"OriginalFilename", "Vorel_PCI.dll"},
    {"ProductName", "VorelPCI系列板卡驱动程序(板卡)"},
    {"ProductVersion", "1.0.4.1"},
    {"DeviceName", "VorelPCI系列板卡"},
    {"DevTypeName", "板卡"},
    {"DevIDName", "板卡号"},
    {"ChnName", "板卡基址"},
    {"CompanyName", ""},
    {"LegalCopyright", ""},
    {"LegalTrademarks", ""},
    {"Comments", ""},
};

// Everything in `image` that differs from the driver as the host needs it, one line each (texts in
// UTF-8); empty when nothing does.
std::vector<std::string> problems(const pe::LoadedImage& image);

}  // namespace driver_file
