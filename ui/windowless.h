// The backend of a build without windows (the Linux build of the driver and its stand-in host):
// a modal form closes at once as if by its close box, a box answers its default button, the file
// and print dialogs are cancelled and timers never fire.
#pragma once

#include "ui/backend.h"

namespace ui {

// The button a box answers when nobody chooses: Yes for a Yes/No box, OK otherwise.
int default_answer(unsigned flags);

class WindowlessBackend : public Backend {
 public:
  void run_modal(Form& form) override;
  void form_visibility_changed(Form&) override {}
  void form_changed(Form&) override {}
  void form_destroyed(Form&) override {}
  bool form_active(const Form&) const override { return false; }
  void control_changed(Control&, Aspect) override {}
  void control_destroyed(Control&) override {}
  void timer_changed(Timer&) override {}
  void timer_destroyed(Timer&) override {}
  int MessageBox(std::string_view, std::string_view, unsigned flags) override {
    return default_answer(flags);
  }
  bool execute_save_dialog(SaveDialog&) override { return false; }
  bool execute_print_dialog() override { return false; }
  std::unique_ptr<TextPrinter::Job> start_print_job(std::string_view title, const Font& font) override;
  ScreenSize Screen() const override { return {}; }
};

// The process's windowless backend (created on first use, never destroyed).
Backend& windowless_backend();

}  // namespace ui
