#include "ui/services.h"

#include "ui/backend.h"
#include "ui/headless/headless.h"
#ifdef _WIN32
#include "ui/win32/win32_backend.h"
#endif

namespace ui {

namespace {

Backend* g_backend = nullptr;

}  // namespace

Backend& current_backend() {
  if (g_backend) return *g_backend;
#ifdef _WIN32
  return win32::backend();
#else
  // Never destroyed: forms of a host thread may still be torn down while the process ends.
  static headless::Backend* const fallback = new headless::Backend();
  return *fallback;
#endif
}

void set_backend(Backend* backend) { g_backend = backend; }

Application& app() {
  static Application* const app = new Application();
  return *app;
}

ScreenSize Application::Screen() const { return current_backend().Screen(); }

int MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return current_backend().MessageBox(text, caption, flags);
}

void show_information(std::string_view text) { MessageBox(text, "信息", kMbOk | kMbIconInformation); }

void show_error(std::string_view text) { MessageBox(text, "错误", kMbOk | kMbIconError); }

void show_confirmation(std::string_view text) { MessageBox(text, "确认", kMbOk | kMbIconQuestion); }

bool SaveDialog::Execute() { return current_backend().execute_save_dialog(*this); }

bool PrintDialog::Execute() { return current_backend().execute_print_dialog(); }

TextPrinter::TextPrinter() = default;
TextPrinter::~TextPrinter() = default;

void TextPrinter::begin(std::string_view title, const Font& font) {
  job_ = current_backend().start_print_job(title, font);
  if (!job_) throw IoError("打印机不可用");
}

void TextPrinter::write_line(std::string_view line) {
  if (!job_) throw IoError("打印作业未开始");
  job_->write_line(line);
}

void TextPrinter::end() {
  if (!job_) throw IoError("打印作业未开始");
  job_->end();
  job_.reset();
}

}  // namespace ui
