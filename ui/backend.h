// The seam between the control models and whatever shows them. One backend serves the process:
// real windows (ui/win32) in the driver as shipped, none (ui/windowless) in the Linux build, a
// scripted test driver in the native suites. The toolkit knows only the windowless one, its last
// resort: the module that builds the product names its default, and a test installs its own.
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
  virtual void write_line(std::string_view line) = 0;  // throws IoError
  virtual void end() = 0;                              // throws IoError
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs the form's modal loop until its ModalResult is nonzero.
  virtual void run_modal(Form& form) = 0;
  // A form is shown or hidden outside a modal loop's start and end.
  virtual void form_visibility_changed(Form& form) = 0;
  virtual void form_changed(Form& form) = 0;  // caption or bounds
  virtual void form_destroyed(Form& form) = 0;
  virtual bool form_active(const Form& form) const = 0;

  virtual void control_changed(Control& control, Aspect aspect) = 0;
  virtual void control_destroyed(Control& control) = 0;
  // Enabled or interval changed; the timer counts from now.
  virtual void timer_changed(Timer& timer) = 0;
  virtual void timer_destroyed(Timer& timer) = 0;

  virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
  virtual bool execute_save_dialog(SaveDialog& dialog) = 0;
  virtual bool execute_print_dialog() = 0;
  // A print job on the printer the last print dialog chose; throws IoError when none can start.
  virtual std::unique_ptr<TextPrinter::Job> start_print_job(std::string_view title, const Font& font) = 0;
  virtual ScreenSize Screen() const = 0;
};

// The process's backend: the one installed, else the default, else the windowless one.
Backend& current_backend();
// Installs a backend (nullptr: back to the default). The caller keeps it alive while installed.
void set_backend(Backend* backend);
// Names where the default backend comes from; the module's entry does so when it is loaded. The
// source is asked on every use and must return the same backend each time.
using BackendSource = Backend& (*)();
void set_default_backend(BackendSource source);

}  // namespace ui
