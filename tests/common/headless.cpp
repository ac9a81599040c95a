#include "tests/common/headless.h"

#include <algorithm>

#include "ui/user.h"
#include "ui/windowless.h"

namespace ui::headless {

// ---------------------------------------------------------------- Driver

Control& Driver::control(std::string_view name) const {
  Control* c = form_.find(name);
  if (!c) throw ScriptError{"no control " + std::string(name) + " on " + form_.Name()};
  return *c;
}

Control& Driver::usable(std::string_view name) const {
  Control& c = control(name);
  if (!form_.Visible()) throw ScriptError{form_.Name() + " is hidden"};
  if (!c.usable()) throw ScriptError{std::string(name) + " is hidden or disabled"};
  return c;
}

void Driver::Click(std::string_view name) { user::Click(usable(name)); }

void Driver::DoubleClick(std::string_view name) { user::DoubleClick(usable(name)); }

void Driver::Type(std::string_view name, std::string_view text) {
  Control& c = usable(name);
  if ((c.kind() == Kind::Edit && static_cast<Edit&>(c).ReadOnly) ||
      (c.kind() == Kind::Memo && static_cast<Memo&>(c).ReadOnly))
    throw ScriptError{std::string(name) + " is read-only"};
  if (c.kind() != Kind::Edit && c.kind() != Kind::Memo)
    throw ScriptError{std::string(name) + " takes no text"};
  user::Type(c, text);
}

void Driver::Leave(std::string_view name) {
  Control& c = control(name);
  if (form_.ActiveControl() != &c) throw ScriptError{std::string(name) + " does not have the focus"};
  user::leave_focus(form_);
}

void Driver::type_cell(std::string_view grid, int col, int row, std::string_view text) {
  auto* g = dynamic_cast<StringGrid*>(&usable(grid));
  if (!g) throw ScriptError{std::string(grid) + " is not a grid"};
  if (!g->cell_editable(col, row)) throw ScriptError{std::string(grid) + "'s cell cannot be edited"};
  user::edit_cell(*g, col, row, text);
}

void Driver::choose(std::string_view name, int index) {
  auto* list = dynamic_cast<ListControl*>(&usable(name));
  if (!list) throw ScriptError{std::string(name) + " is not a list"};
  if (index < 0 || index >= list->Count()) throw ScriptError{std::string(name) + " has no such item"};
  user::choose(*list, index);
}

namespace {

TreeView& node_of(Control& c, std::string_view tree, int index) {
  auto* t = dynamic_cast<TreeView*>(&c);
  if (!t) throw ScriptError{std::string(tree) + " is not a tree"};
  if (index < 0 || index >= static_cast<int>(t->Nodes().size()))
    throw ScriptError{std::string(tree) + " has no such node"};
  return *t;
}

}  // namespace

void Driver::select_node(std::string_view tree, int index) {
  user::select_node(node_of(usable(tree), tree, index), index);
}

void Driver::arrow_to_node(std::string_view tree, int index) {
  user::move_selection(node_of(usable(tree), tree, index), index);
}

void Driver::show_tab(std::string_view pages, std::string_view sheet) {
  auto* p = dynamic_cast<PageControl*>(&usable(pages));
  auto* s = dynamic_cast<TabSheet*>(&control(sheet));
  if (!p || !s || s->Parent() != p)
    throw ScriptError{std::string(sheet) + " is not a sheet of " + std::string(pages)};
  if (!s->TabVisible()) throw ScriptError{std::string(sheet) + "'s tab is hidden"};
  user::show_tab(*p, *s);
}

void Driver::close_box() { form_.Close(); }

void Driver::advance(uint32_t ms) { backend_.advance(ms); }

// ---------------------------------------------------------------- modal forms

void Backend::run_modal(Form& form) {
  shown_forms_.push_back(form.Caption());
  modal_owners_.push_back(app().Handle());
  modal_stack_.push_back(&form);
  struct Pop {
    std::vector<Form*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{modal_stack_};
  if (!scripts_.empty()) {
    Script script = std::move(scripts_.front());
    scripts_.pop_front();
    Driver driver(*this, form);
    script(driver);
  }
  if (form.ModalResult() == mrNone) form.Close();
}

void Backend::form_destroyed(Form& form) {
  destroyed_forms_.push_back(form.Name());
  std::erase_if(timers_, [&](const Armed& a) { return &a.timer->owner_form() == &form; });
}

bool Backend::form_active(const Form& form) const {
  for (auto it = modal_stack_.rbegin(); it != modal_stack_.rend(); ++it)
    if ((*it)->Visible()) return *it == &form;
  return false;
}

// ---------------------------------------------------------------- virtual time

void Backend::timer_changed(Timer& timer) {
  std::erase_if(timers_, [&](const Armed& a) { return a.timer == &timer; });
  if (timer.Enabled() && timer.Interval() > 0) timers_.push_back({&timer, now_ + timer.Interval(), order_++});
}

void Backend::timer_destroyed(Timer& timer) {
  std::erase_if(timers_, [&](const Armed& a) { return a.timer == &timer; });
}

void Backend::advance(uint32_t ms) {
  const uint64_t end = now_ + ms;
  for (;;) {
    auto next = std::min_element(timers_.begin(), timers_.end(), [](const Armed& a, const Armed& b) {
      return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    if (next == timers_.end() || next->due > end) break;
    now_ = next->due;
    Timer* t = next->timer;
    // Re-armed before it fires, so that a handler that stops or restarts it has the last word.
    next->due += t->Interval();
    next->order = order_++;
    t->fire();
  }
  now_ = end;
}

// ---------------------------------------------------------------- boxes and dialogs

int Backend::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  int answer;
  if (!box_answers_.empty()) {
    answer = box_answers_.front();
    box_answers_.pop_front();
  } else {
    answer = default_answer(flags);
  }
  messages_.push_back({std::string(text), std::string(caption), flags, answer});
  return answer;
}

bool Backend::execute_save_dialog(SaveDialog& dialog) {
  ShownSaveDialog shown{dialog.DefaultExt, dialog.Filter, dialog.FileName, false};
  std::optional<std::string> answer;
  if (!save_answers_.empty()) {
    answer = std::move(save_answers_.front());
    save_answers_.pop_front();
  }
  if (answer) {
    dialog.FileName = *answer;
    shown.confirmed = true;
  }
  save_dialogs_.push_back(std::move(shown));
  return answer.has_value();
}

bool Backend::execute_print_dialog() {
  ++print_dialogs_;
  if (print_answers_.empty()) return false;
  const bool confirm = print_answers_.front();
  print_answers_.pop_front();
  return confirm;
}

class Backend::Job : public TextPrinter::Job {
 public:
  Job(Backend& b, size_t index, int fail_at) : backend_(b), index_(index), fail_at_(fail_at) {}
  void write_line(std::string_view line) override {
    PrintJob& job = backend_.print_jobs_[index_];
    if (fail_at_ >= 0 && static_cast<int>(job.lines.size()) + 1 >= fail_at_) throw IoError("打印机写入失败");
    job.lines.emplace_back(line);
  }
  void end() override { backend_.print_jobs_[index_].ended = true; }

 private:
  Backend& backend_;
  size_t index_;
  int fail_at_;
};

std::unique_ptr<TextPrinter::Job> Backend::start_print_job(std::string_view title, const Font& font) {
  const int fail_at = fail_print_at_;
  fail_print_at_ = -1;
  if (fail_at == 0) throw IoError("打印机不可用");
  print_jobs_.push_back({std::string(title), font, {}, false});
  return std::make_unique<Job>(*this, print_jobs_.size() - 1, fail_at);
}

}  // namespace ui::headless
