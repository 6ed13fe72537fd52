#include "audio/displays/wnd_proc_component.h"

#include <QEvent>
#include <algorithm>
#include <vector>

#include "platform/exception.h"

namespace pmx {
namespace {

// The form's own event handling: what the window did before anyone hooked it.
class TFormProc : public TWndProc {
 public:
  explicit TFormProc(QObject& window) : window_(window) {}
  bool Call(QEvent* event) override { return window_.event(event); }

 private:
  QObject& window_;
};

// Holds a window's current procedure and routes the window's events through it.
// Lives as a child of the window; it lets Qt deliver events itself while the
// window has its own procedure back.
class TWindowProcedure : public QObject {
 public:
  explicit TWindowProcedure(QWidget& window) : QObject(&window), own_(window) {
    window.installEventFilter(this);
  }

  static TWindowProcedure& Of(QWidget& window) {
    for (QObject* child : window.children()) {
      if (auto* found = dynamic_cast<TWindowProcedure*>(child)) return *found;
    }
    return *new TWindowProcedure(window);
  }

  TWndProc* Current() { return current_ ? current_ : &own_; }
  void SetCurrent(TWndProc* proc) { current_ = proc == &own_ ? nullptr : proc; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != parent() || !current_) return false;
    current_->Call(event);
    return true;  // the chain ended in the window's own handling already
  }

 private:
  TFormProc own_;
  TWndProc* current_ = nullptr;
};

// The hooked components of every window, in hook order; exists while one is hooked.
std::unique_ptr<std::vector<TMMWndProcComponent*>>& HookList() {
  static std::unique_ptr<std::vector<TMMWndProcComponent*>> list;
  return list;
}

}  // namespace

class TMMWndProcComponent::TStub : public TWndProc {
 public:
  explicit TStub(TMMWndProcComponent& component) : component_(component) {}
  bool Call(QEvent* event) override {
    TMessage message{event, false};
    component_.WndProc(message);
    return message.Result;
  }

 private:
  TMMWndProcComponent& component_;
};

TMMWndProcComponent::TMMWndProcComponent(TComponent* owner)
    : TMMNonVisualComponent(owner), form_(dynamic_cast<TForm*>(owner)) {
  if (!form_) throw Exception("Owner must be a Form");
}

TMMWndProcComponent::~TMMWndProcComponent() { Unhook(); }

void TMMWndProcComponent::Hook() {
  if (hooked_ || !form_) return;
  handle_ = &form_->Window();
  TWindowProcedure& procedure = TWindowProcedure::Of(*handle_);
  stub_ = std::make_unique<TStub>(*this);
  prev_wnd_proc_ = procedure.Current();
  procedure.SetCurrent(stub_.get());
  if (!HookList()) HookList() = std::make_unique<std::vector<TMMWndProcComponent*>>();
  HookList()->push_back(this);
  hooked_ = true;
}

void TMMWndProcComponent::Unhook() {
  if (!hooked_) return;
  hooked_ = false;
  auto& list = *HookList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  // A component that hooked later calls on our stub: it calls on our predecessor
  // from now on and the window keeps its procedure.
  auto later = std::find_if(list.begin(), list.end(), [this](TMMWndProcComponent* other) {
    return other->prev_wnd_proc_ == stub_.get();
  });
  if (later != list.end()) {
    (*later)->prev_wnd_proc_ = prev_wnd_proc_;
  } else if (handle_) {
    TWindowProcedure::Of(*handle_).SetCurrent(prev_wnd_proc_);
  }
  stub_.reset();
  prev_wnd_proc_ = nullptr;
  handle_ = nullptr;
  if (list.empty()) HookList().reset();
}

void TMMWndProcComponent::WndProc(TMessage& message) {
  message.Result = CallPrevWndProc(message.Event);
}

bool TMMWndProcComponent::CallPrevWndProc(QEvent* event) {
  return hooked_ ? prev_wnd_proc_->Call(event) : false;
}

}  // namespace pmx
