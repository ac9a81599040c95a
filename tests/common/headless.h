// The backend without windows. A test lines up one script per modal form it expects; when a form
// is shown modally, the next script gets a Driver for it and clicks, types, selects, leaves
// controls and lets virtual time pass (timers fire in due order, never by the wall clock). Message
// boxes and the common dialogs are answered from queues, and everything shown is recorded: form
// captions, message boxes, save dialogs, printed lines.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/backend.h"

namespace ui::headless {

// A script's misuse of a form (a control that is not there, hidden or disabled). Deliberately not
// a std::exception, so that no handler's error box swallows it on its way to the test.
struct ScriptError {
  std::string what;
};

class Backend;

// A script's handle on one modal form.
class Driver {
 public:
  Driver(Backend& backend, Form& form) : backend_(backend), form_(form) {}

  Form& form() const { return form_; }
  Control& control(std::string_view name) const;
  template <class T>
  T& get(std::string_view name) const {
    T* c = dynamic_cast<T*>(&control(name));
    if (!c) throw ScriptError{"control " + std::string(name) + " is of another kind"};
    return *c;
  }

  // Each action needs a control the user can reach (shown and enabled), or throws ScriptError.
  void Click(std::string_view name);
  void DoubleClick(std::string_view name);
  void Type(std::string_view name, std::string_view text);
  // Moves the focus off the named control (to nowhere), firing its OnExit.
  void Leave(std::string_view name);
  void choose(std::string_view name, int index);
  // Types into a grid's cell; the cell must be one the user can edit.
  void type_cell(std::string_view grid, int col, int row, std::string_view text);
  void select_node(std::string_view tree, int index);
  // Moves the selection to a node with the arrow keys, without clicking it.
  void arrow_to_node(std::string_view tree, int index);
  void show_tab(std::string_view pages, std::string_view sheet);
  // The close box.
  void close_box();
  // Lets virtual time pass; due timers fire in order.
  void advance(uint32_t ms);

 private:
  Control& usable(std::string_view name) const;
  Backend& backend_;
  Form& form_;
};

using Script = std::function<void(Driver&)>;

struct ShownMessage {
  std::string text, caption;
  unsigned flags = 0;
  int answer = 0;
};

struct ShownSaveDialog {
  std::string default_ext, filter, proposed;
  bool confirmed = false;
};

struct PrintJob {
  std::string title;
  Font font;
  std::vector<std::string> lines;
  bool ended = false;
};

class Backend : public ui::Backend {
 public:
  Backend() = default;

  // The script for the next form shown modally. A form without a script closes at once by its
  // close box; a form whose script returns while it is still open closes the same way.
  void expect(Script script) { scripts_.push_back(std::move(script)); }
  size_t pending_scripts() const { return scripts_.size(); }

  // Answers for the next message box, save dialog (a file name, or nullopt for cancel) and print
  // dialog. Without one queued: a box answers its first button, the dialogs are cancelled.
  void answer_message_box(int answer) { box_answers_.push_back(answer); }
  void answer_save_dialog(std::optional<std::string> file) { save_answers_.push_back(std::move(file)); }
  void answer_print_dialog(bool confirm) { print_answers_.push_back(confirm); }
  // Makes the next print job fail at its n-th line (0: when it starts).
  void fail_printing_at(int line) { fail_print_at_ = line; }

  const std::vector<ShownMessage>& Messages() const { return messages_; }
  const std::vector<std::string>& shown_forms() const { return shown_forms_; }
  // The forms that went, by name, in order.
  const std::vector<std::string>& destroyed_forms() const { return destroyed_forms_; }
  // Every change of a control a window would have to show, by the control's name, in order.
  const std::vector<std::pair<std::string, Aspect>>& control_changes() const { return control_changes_; }
  void forget_control_changes() { control_changes_.clear(); }
  // Every change of a form's caption or bounds, by the form's name, in order.
  const std::vector<std::string>& form_changes() const { return form_changes_; }
  // Every time a form was shown (true) or hidden (false), by the form's name, in order.
  const std::vector<std::pair<std::string, bool>>& visibility_changes() const { return visibility_changes_; }
  const std::vector<ShownSaveDialog>& save_dialogs() const { return save_dialogs_; }
  const std::vector<PrintJob>& print_jobs() const { return print_jobs_; }
  int print_dialogs_shown() const { return print_dialogs_; }
  // The owner window each modal form was shown over (the application's handle at the time).
  const std::vector<void*>& modal_owners() const { return modal_owners_; }

  uint64_t Now() const { return now_; }
  void advance(uint32_t ms);
  void set_screen(ScreenSize s) { screen_ = s; }

  // ui::Backend
  void run_modal(Form& form) override;
  void form_visibility_changed(Form& form) override {
    visibility_changes_.push_back({form.Name(), form.Visible()});
  }
  void form_changed(Form& form) override { form_changes_.push_back(form.Name()); }
  void form_destroyed(Form& form) override;
  bool form_active(const Form& form) const override;
  void control_changed(Control& c, Aspect a) override { control_changes_.push_back({c.Name(), a}); }
  void control_destroyed(Control&) override {}
  void timer_changed(Timer& timer) override;
  void timer_destroyed(Timer& timer) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  bool execute_save_dialog(SaveDialog& dialog) override;
  bool execute_print_dialog() override;
  std::unique_ptr<TextPrinter::Job> start_print_job(std::string_view title, const Font& font) override;
  ScreenSize Screen() const override { return screen_; }

 private:
  struct Armed {
    Timer* timer;
    uint64_t due;
    uint64_t order;
  };
  class Job;

  std::deque<Script> scripts_;
  std::deque<int> box_answers_;
  std::deque<std::optional<std::string>> save_answers_;
  std::deque<bool> print_answers_;
  int fail_print_at_ = -1;
  std::vector<ShownMessage> messages_;
  std::vector<std::string> shown_forms_;
  std::vector<std::string> destroyed_forms_;
  std::vector<std::pair<std::string, Aspect>> control_changes_;
  std::vector<std::string> form_changes_;
  std::vector<std::pair<std::string, bool>> visibility_changes_;
  std::vector<ShownSaveDialog> save_dialogs_;
  std::vector<PrintJob> print_jobs_;
  std::vector<void*> modal_owners_;
  int print_dialogs_ = 0;
  std::vector<Form*> modal_stack_;
  std::vector<Armed> timers_;
  uint64_t now_ = 0;
  uint64_t order_ = 0;
  ScreenSize screen_;
};

// Installs a headless backend for the lifetime of this object (tests).
class Session {
 public:
  Session() { set_backend(&backend_); }
  ~Session() { set_backend(nullptr); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  Backend* operator->() { return &backend_; }
  const Backend* operator->() const { return &backend_; }
  Backend& backend() { return backend_; }

 private:
  Backend backend_;
};

}  // namespace ui::headless
