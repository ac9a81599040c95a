// The seam between the control models and whatever shows them. One backend serves the process:
// real windows (ui/win32) in the driver as shipped, a scripted test driver (ui/headless) in tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/controls.h"
#include "ui/services.h"

namespace ui {

class TextPrinter::Job {
 public:
  virtual ~Job() = default;
  virtual void WriteLine(std::string_view line) = 0;  // throws IoError
  virtual void End() = 0;                             // throws IoError
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs the form's modal loop until its ModalResult is nonzero.
  virtual void RunModal(Form& form) = 0;
  // A form is shown or hidden outside a modal loop's start and end.
  virtual void FormVisibilityChanged(Form& form) = 0;
  virtual void FormChanged(Form& form) = 0;  // caption or bounds
  virtual void FormDestroyed(Form& form) = 0;
  virtual bool FormActive(const Form& form) const = 0;

  virtual void ControlChanged(Control& control, Aspect aspect) = 0;
  virtual void ControlDestroyed(Control& control) = 0;
  // Enabled or interval changed; the timer counts from now.
  virtual void TimerChanged(Timer& timer) = 0;
  virtual void TimerDestroyed(Timer& timer) = 0;

  virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
  virtual bool ExecuteSaveDialog(SaveDialog& dialog) = 0;
  virtual bool ExecutePrintDialog() = 0;
  // A print job on the printer the last print dialog chose; throws IoError when none can start.
  virtual std::unique_ptr<TextPrinter::Job> StartPrintJob(std::string_view title, const Font& font) = 0;
  virtual ScreenSize Screen() const = 0;
};

// The process's backend. Without one installed: real windows in the Windows build; elsewhere a
// headless backend with no test driver, on which every modal form closes at once as if by its
// close box and every box answers its default.
Backend& CurrentBackend();
// Installs a backend (nullptr: back to the default). The caller keeps it alive while installed.
void SetBackend(Backend* backend);

}  // namespace ui
