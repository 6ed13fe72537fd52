#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "audio/core/objects/objects.h"
#include "audio/core/ui/form.h"

class QEvent;

namespace pmx {

// What a window procedure is handed: the event, and its answer (true when handled).
struct TMessage {
  QEvent* Event = nullptr;
  bool Result = false;
};

// One link of a window's procedure chain: a component's stub, or the form's own
// event handling at the end of the chain.
class TWndProc {
 public:
  virtual ~TWndProc() = default;
  virtual bool Call(QEvent* event) = 0;
};

// Sees every event of the form that owns it before the form does, once hooked.
// Several components may hook one form: each installs its stub as the window's
// procedure and calls on the procedure it replaced, so the chain ends in the form's
// own event handling; they may unhook in any order. GUI thread only, like the
// process-wide list of hooked components.
class TMMWndProcComponent : public TMMNonVisualComponent {
 public:
  // owner must be a TForm, else Exception "Owner must be a Form".
  explicit TMMWndProcComponent(TComponent* owner);
  ~TMMWndProcComponent() override;

  virtual void Hook();
  virtual void Unhook();
  // Passes the event down the chain.
  virtual void WndProc(TMessage& message);
  // The answer of the procedure this component replaced; false while not hooked.
  virtual bool CallPrevWndProc(QEvent* event);

  bool Hooked() const { return hooked_; }
  TForm* Form() const { return form_; }

 private:
  class TStub;

  TWndProc* prev_wnd_proc_ = nullptr;
  std::unique_ptr<TStub> stub_;
  QPointer<QWidget> handle_;
  TForm* form_;
  bool hooked_ = false;
};

}  // namespace pmx
