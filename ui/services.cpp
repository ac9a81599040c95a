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

Backend& CurrentBackend() {
  if (g_backend) return *g_backend;
#ifdef _WIN32
  return win32::Backend();
#else
  // Never destroyed: forms of a host thread may still be torn down while the process ends.
  static headless::Backend* const fallback = new headless::Backend();
  return *fallback;
#endif
}

void SetBackend(Backend* backend) { g_backend = backend; }

Application& App() {
  static Application* const app = new Application();
  return *app;
}

ScreenSize Application::Screen() const { return CurrentBackend().Screen(); }

int MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return CurrentBackend().MessageBox(text, caption, flags);
}

void ShowInformation(std::string_view text) { MessageBox(text, "信息", kMbOk | kMbIconInformation); }

void ShowError(std::string_view text) { MessageBox(text, "错误", kMbOk | kMbIconError); }

void ShowConfirmation(std::string_view text) { MessageBox(text, "确认", kMbOk | kMbIconQuestion); }

bool SaveDialog::Execute() { return CurrentBackend().ExecuteSaveDialog(*this); }

bool PrintDialog::Execute() { return CurrentBackend().ExecutePrintDialog(); }

TextPrinter::TextPrinter() = default;
TextPrinter::~TextPrinter() = default;

void TextPrinter::Begin(std::string_view title, const Font& font) {
  job_ = CurrentBackend().StartPrintJob(title, font);
  if (!job_) throw IoError("打印机不可用");
}

void TextPrinter::WriteLine(std::string_view line) {
  if (!job_) throw IoError("打印作业未开始");
  job_->WriteLine(line);
}

void TextPrinter::End() {
  if (!job_) throw IoError("打印作业未开始");
  job_->End();
  job_.reset();
}

}  // namespace ui
