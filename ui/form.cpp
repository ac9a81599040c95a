#include <exception>

#include "ui/backend.h"
#include "ui/controls.h"

namespace ui {

namespace {

bool IsAncestor(const Control* ancestor, const Control* c) {
  for (; c; c = c->Parent())
    if (c == ancestor) return true;
  return false;
}

}  // namespace

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() {
  timers_.clear();
  CurrentBackend().FormDestroyed(*this);
}

Timer& Form::AddTimer(std::string name, uint32_t interval_ms, bool enabled) {
  timers_.push_back(std::make_unique<Timer>(*this, std::move(name), interval_ms, enabled));
  Timer& t = *timers_.back();
  if (enabled) NotifyTimer(t);
  return t;
}

Control* Form::Find(std::string_view name) const {
  for (const auto& c : controls_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

Timer* Form::FindTimer(std::string_view name) const {
  for (const auto& t : timers_)
    if (t->Name() == name) return t.get();
  return nullptr;
}

void Form::SetCaption(std::string_view text) {
  caption_.assign(text);
  CurrentBackend().FormChanged(*this);
}

void Form::SetBounds(int left, int top, int width, int height) {
  bounds_ = {left, top, width, height};
  CurrentBackend().FormChanged(*this);
}

void Form::SetSize(int width, int height) { SetBounds(bounds_.left, bounds_.top, width, height); }

void Form::CenterOnScreen() {
  const ScreenSize s = App().Screen();
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
  CurrentBackend().RunModal(*this);
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
  CurrentBackend().FormVisibilityChanged(*this);
}

void Form::Hide() {
  if (!visible_) return;
  visible_ = false;
  CurrentBackend().FormVisibilityChanged(*this);
}

bool Form::Active() const { return visible_ && CurrentBackend().FormActive(*this); }

void Form::FocusControl(Control* c) {
  if (c == focus_) return;
  Control* old = focus_;
  focus_ = c;
  if (c) CurrentBackend().ControlChanged(*c, Aspect::Focus);
  if (old) {
    Fire(old->OnExit);
    // Every sheet the focus leaves hears of it too.
    for (Control* p = old->Parent(); p; p = p->Parent())
      if (p->kind() == Kind::TabSheet && !IsAncestor(p, c)) Fire(p->OnExit);
  }
  if (c) Fire(c->OnEnter);
}

void Form::Fire(const Event& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void Form::NotifyChanged(Control& c, Aspect a) { CurrentBackend().ControlChanged(c, a); }

void Form::NotifyTimer(Timer& t) { CurrentBackend().TimerChanged(t); }

}  // namespace ui
