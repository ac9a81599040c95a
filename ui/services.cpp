#include "ui/services.h"

#include <atomic>

#include "ui/backend.h"
#include "ui/windowless.h"

namespace ui {

namespace {

Backend* g_backend = nullptr;
std::atomic<BackendSource> g_default{nullptr};

}  // namespace

Backend& current_backend() {
  if (g_backend) return *g_backend;
  if (const BackendSource source = g_default.load()) return source();
  // A program that names none (one that links the driver only to time it) shows nothing.
  return windowless_backend();
}

void set_backend(Backend* backend) { g_backend = backend; }

void set_default_backend(BackendSource source) { g_default.store(source); }

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
  job_ = current_backend().start_print_job(title, font);  // throws when no job can start
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
