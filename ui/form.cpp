#include <exception>

#include "ui/backend.h"
#include "ui/controls.h"

namespace ui {

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() {
  timers_.clear();
  current_backend().form_destroyed(*this);
}

Timer& Form::add_timer(std::string name, uint32_t interval_ms, bool enabled) {
  timers_.push_back(std::make_unique<Timer>(*this, std::move(name), interval_ms, enabled));
  Timer& t = *timers_.back();
  if (enabled) notify_timer(t);
  return t;
}

Control* Form::find(std::string_view name) const {
  for (const auto& c : controls_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

void Form::SetCaption(std::string_view text) {
  caption_.assign(text);
  current_backend().form_changed(*this);
}

void Form::SetBounds(int left, int top, int width, int height) {
  bounds_ = {left, top, width, height};
  current_backend().form_changed(*this);
}

void Form::set_size(int width, int height) { SetBounds(bounds_.left, bounds_.top, width, height); }

void Form::center_on_screen() {
  const ScreenSize s = app().Screen();
  // Integer division rounds toward zero, as the pages' own arithmetic did.
  SetBounds((s.width - bounds_.width) / 2, (s.height - bounds_.height) / 2, bounds_.width, bounds_.height);
}

int Form::ShowModal() {
  struct ModalScope {
    Form& f;
    explicit ModalScope(Form& form) : f(form) {
      f.modal_ = true;
      f.modal_result_ = mrNone;
      f.visible_ = true;
    }
    ~ModalScope() {
      f.modal_ = false;
      f.visible_ = false;
    }
  } scope(*this);
  current_backend().run_modal(*this);
  if (OnClose) OnClose(modal_result_);
  return modal_result_;
}

void Form::Close() {
  if (modal_) {
    if (modal_result_ == mrNone) modal_result_ = mrCancel;
    return;
  }
  Hide();
}

void Form::Show() {
  if (visible_) return;
  visible_ = true;
  current_backend().form_visibility_changed(*this);
}

void Form::Hide() {
  if (!visible_) return;
  visible_ = false;
  current_backend().form_visibility_changed(*this);
}

bool Form::Active() const { return visible_ && current_backend().form_active(*this); }

void Form::focus_control(Control* c) {
  if (c == focus_) return;
  Control* old = focus_;
  focus_ = c;
  if (c) current_backend().control_changed(*c, Aspect::Focus);
  if (old) {
    fire(old->OnExit);
    // Every sheet the focus leaves hears of it too.
    for (Control* p = old->Parent(); p; p = p->Parent())
      if (p->kind() == Kind::TabSheet && !(c && c->lies_within(*p))) fire(p->OnExit);
  }
  if (c) fire(c->OnEnter);
}

void Form::fire(const Event& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const std::exception& e) {
    show_error(e.what());
  }
}

void Form::notify_changed(Control& c, Aspect a) { current_backend().control_changed(c, a); }

void Form::notify_timer(Timer& t) { current_backend().timer_changed(t); }

}  // namespace ui
