// Load and unload of the shared object. Threads need no attach step: a new thread's slot starts
// empty, and the slot's destructor destroys a thread's engine when the thread ends.
#include <tuple>

#include "interface/module.h"
#include "interface/version_values.h"
#include "platform/platform.h"
#include "platform/version_blob.h"
#include "ui/windowless.h"

namespace {

std::u16string wide(const char* gbk) { return platform::gbk_to_utf16(gbk); }

// The same values the Windows build carries in its version resource.
void publish_version_resource() {
  platform::version_blob::Contents c;
  std::tie(c.file_version_ms, c.file_version_ls) =
      platform::version_blob::pack_version(VOREL_FILEVERSION_BIN);
  std::tie(c.product_version_ms, c.product_version_ls) =
      platform::version_blob::pack_version(VOREL_PRODUCTVERSION_BIN);
  c.language = VOREL_LANGUAGE;
  c.code_page = VOREL_CODEPAGE;
  const std::pair<const char*, const char*> strings[] = {
      {"CompanyName", VOREL_COMPANYNAME},       {"FileDescription", VOREL_FILEDESCRIPTION},
      {"FileVersion", VOREL_FILEVERSION},       {"InternalName", VOREL_INTERNALNAME},
      {"LegalCopyright", VOREL_LEGALCOPYRIGHT}, {"LegalTrademarks", VOREL_LEGALTRADEMARKS},
      {"OriginalFilename", VOREL_ORIGINALFILENAME}, {"ProductName", VOREL_PRODUCTNAME},
      {"ProductVersion", VOREL_PRODUCTVERSION}, {"Comments", VOREL_COMMENTS},
      {"DeviceName", VOREL_DEVICENAME},         {"DevTypeName", VOREL_DEVTYPENAME},
      {"DevIDName", VOREL_DEVIDNAME},           {"ChnName", VOREL_CHNNAME},
  };
  for (const auto& [key, value] : strings) c.strings.emplace_back(wide(key), wide(value));
  platform::register_version_resource(platform::own_module_path(), platform::version_blob::encode(c));
}

__attribute__((constructor)) void on_load() {
  ui::set_default_backend(&ui::windowless_backend);
  publish_version_resource();
  vorel::module::load();
}

__attribute__((destructor)) void on_unload() { vorel::module::unload(); }

}  // namespace
