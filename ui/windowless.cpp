#include "ui/windowless.h"

namespace ui {

int default_answer(unsigned flags) { return (flags & 0xF) == kMbYesNo ? kIdYes : kIdOk; }

void WindowlessBackend::run_modal(Form& form) { form.Close(); }

std::unique_ptr<TextPrinter::Job> WindowlessBackend::start_print_job(std::string_view, const Font&) {
  throw IoError("打印机不可用");
}

Backend& windowless_backend() {
  // Never destroyed: forms of a host thread may still be torn down while the process ends.
  static WindowlessBackend* const backend = new WindowlessBackend();
  return *backend;
}

}  // namespace ui
