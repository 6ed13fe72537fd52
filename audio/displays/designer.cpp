#include "audio/displays/designer.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <algorithm>

#include "audio/core/ui/gui_utils.h"
#include "audio/displays/designer_form.h"
#include "platform/exception.h"

namespace pmx {
namespace {

constexpr int kIconSize = 28;
constexpr int kMarkSize = 5;
constexpr int kErrorSound = 16;

// What all designers of the process share. GUI thread only.
struct TDesignerState {
  TMMDesignerForm* options = nullptr;  // the options dialog while it is shown
  TMMDesigner* dragging = nullptr;     // the designer whose height drag is pending
  QPoint drag_start;
  bool repaint_all = false;  // every designer redraws at its next paint
  int paint_count = 0;       // designers that redrew since repaint_all was set
  int paint_limit = 0;       // designers at work
};

TDesignerState& State() {
  static TDesignerState state;
  return state;
}

// A design-time host's progress window stops all drawing while it is up.
bool ProgressFormShown() {
  const auto windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [](const QWidget* w) {
    return w->isVisible() && w->objectName() == "ProgressForm";
  });
}

void CallHeightDrag(TMMDesigner& designer, int going_on) {
  if (DesignerHost().HeightDrag) DesignerHost().HeightDrag(designer, going_on);
}

}  // namespace

TDesignerHost& DesignerHost() {
  static TDesignerHost host;
  return host;
}

TMMDesigner::TMMDesigner(TComponent* owner) : TMMWndProcComponent(owner) {
  if (DesignerHost().HasDesigner && DesignerHost().HasDesigner(Form()->Window())) {
    throw Exception("Only one Designer is allowed per Form");
  }
  StartDesign();
}

TMMDesigner::~TMMDesigner() {
  TDesignerState& state = State();
  if (state.options && &state.options->Designer() == this) state.options->reject();
  if (state.dragging == this) state.dragging = nullptr;
  if (Hooked() && timer_) {
    timer_.reset();
    Unhook();
    if (DesignerHost().UnregisterDesigner) DesignerHost().UnregisterDesigner(*this);
    Erase();
    hidden_groups_.clear();
    enabled_kinds_.clear();
    --state.paint_limit;
  }
}

void TMMDesigner::StartDesign() {
  if (!Designing() || timer_) return;
  timer_ = std::make_unique<QTimer>();
  timer_->setInterval(1000);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { AutoPaint(); });
  timer_->start();
  hidden_groups_.clear();
  enabled_kinds_.clear();
  ++State().paint_limit;
  if (DesignerHost().RegisterDesigner) DesignerHost().RegisterDesigner(*this);
  Hook();
  inside_ = IconInside();
  dirty_ = true;
  Paint();
  dirty_ = true;
}

void TMMDesigner::SetDesignMode(bool value) {
  TMMWndProcComponent::SetDesignMode(value);
  StartDesign();
}

void TMMDesigner::Loaded() {
  TMMWndProcComponent::Loaded();
  if (!Designing() && runtime_height_ > 0) Form()->SetClientHeight(runtime_height_);
}

void TMMDesigner::Notification(TComponent* component, TOperation operation) {
  TMMWndProcComponent::Notification(component, operation);
  if (!links_building_) links_valid_ = false;
}

void TMMDesigner::SetActive(bool value) {
  if (value) {
    // Stored first, so that switching on draws at once rather than at the next tick.
    active_ = true;
    dirty_ = true;
    Paint();
  } else {
    Erase();
    active_ = false;
  }
}

void TMMDesigner::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  RedrawLinks();
}

void TMMDesigner::SetLineWidth(int value) {
  if (value == line_width_) return;
  line_width_ = value;
  RedrawLinks();
}

void TMMDesigner::SetMargin(int value) {
  if (value == margin_) return;
  margin_ = value;
  RedrawLinks();
}

void TMMDesigner::SetUpdate(bool value) {
  if (!value) return;
  SetActive(false);
  SetActive(true);
}

void TMMDesigner::AutoPaint() {
  if (auto_update_) Paint();
}

void TMMDesigner::Beep(int /*type*/) {
  // The desktop has one bell for every kind of message sound.
  if (sound_) QApplication::beep();
}

void TMMDesigner::Paint() {
  if (ProgressFormShown()) return;
  TDesignerState& state = State();
  if (state.repaint_all) dirty_ = true;
  if (Designing() && dirty_ && active_ && inside_) {
    RebuildLinks();
    drawn_ = true;
    Form()->Window().update();
    if (state.dragging) CallHeightDrag(*state.dragging, 1);
    if (++state.paint_count >= state.paint_limit) {
      state.repaint_all = false;
      state.paint_count = 0;
    }
    dirty_ = false;
  } else if (state.repaint_all && active_ && state.dragging) {
    CallHeightDrag(*state.dragging, 1);
    state.repaint_all = false;
  }
}

void TMMDesigner::Erase() {
  drawn_ = false;
  Form()->Window().update();
}

void TMMDesigner::RebuildLinks() {
  links_building_ = true;
  const auto& kinds = LinkKinds();
  if (enabled_kinds_.size() != kinds.size()) {
    enabled_kinds_.clear();
    for (const TLinkKind& kind : kinds) {
      enabled_kinds_.push_back(!hidden_groups_.contains(QString::fromStdString(kind.Group)));
    }
  }
  links_ = BuildLinkMap(*Owner(), enabled_kinds_);
  // Told when a linked component goes, so that no drawing reaches it.
  for (const auto& [source, target] : links_.Pairs) {
    FreeNotification(source);
    FreeNotification(target);
  }
  links_valid_ = true;
  links_building_ = false;
}

TRect TMMDesigner::ComponentBox(TComponent* component) const {
  if (auto* control = dynamic_cast<QWidget*>(component)) {
    const TRect own{0, 0, control->width(), control->height()};
    const QPoint at = ClientToFormPoint(Form()->ClientWidget(), *control, own);
    return {at.x(), at.y(), at.x() + own.Right, at.y() + own.Bottom};
  }
  const auto info = static_cast<uint32_t>(component->DesignInfo());
  const int x = static_cast<int16_t>(info & 0xFFFF);
  const int y = static_cast<int16_t>(info >> 16);
  return {x, y, x + kIconSize, y + kIconSize};
}

bool TMMDesigner::IconInside() const {
  const TRect icon = ComponentBox(const_cast<TMMDesigner*>(this));
  return Form()->ClientRect().contains(icon.Left, icon.Top);
}

bool TMMDesigner::Visible(TComponent* component) const {
  auto* control = dynamic_cast<QWidget*>(component);
  return !control || control->isVisibleTo(&Form()->Window());
}

void TMMDesigner::Draw(QPainter& canvas) {
  if (!links_valid_) RebuildLinks();
  canvas.translate(Form()->ClientWidget().mapTo(&Form()->Window(), QPoint(0, 0)));
  for (int i = 0; i < Owner()->ComponentCount() && i < static_cast<int>(links_.Marks.size()); ++i) {
    DrawMarks(canvas, Owner()->Components(i), links_.Marks[i]);
  }
  QPen pen(ToQColor(color_));
  pen.setWidth(line_width_);
  pen.setStyle(Qt::SolidLine);
  canvas.setPen(pen);
  for (const auto& [source, target] : links_.Pairs) {
    const TRect t = ComponentBox(target);
    const std::vector<QPoint> route = LinkRoute(ComponentBox(source), t, margin_);
    canvas.drawPolyline(route.data(), static_cast<int>(route.size()));
    const int mid = MiddleLine(t);
    canvas.drawLine(t.Left - 2, mid - 1, t.Left - 2, mid + 2);
    canvas.drawLine(t.Left - 3, mid - 2, t.Left - 3, mid + 3);
  }
}

void TMMDesigner::DrawMarks(QPainter& canvas, TComponent* component, int marks) {
  if (marks == 0 || !Visible(component)) return;
  const TRect box = ComponentBox(component);
  const int top = MiddleLine(box) - kMarkSize / 2;
  const QColor navy = ToQColor(clNavy);
  if (marks & kInputEnd) canvas.fillRect(box.Left - kMarkSize, top, kMarkSize, kMarkSize, navy);
  if (marks & kOutputEnd) canvas.fillRect(box.Right, top, kMarkSize, kMarkSize, navy);
}

void TMMDesigner::WndProc(TMessage& message) {
  switch (message.Event->type()) {
    case QEvent::Resize:
      Resized();
      break;
    case QEvent::WindowDeactivate:
      Deactivated();
      break;
    case QEvent::Paint:
      // The links go over what the form painted itself.
      TMMWndProcComponent::WndProc(message);
      if (drawn_ && active_ && inside_) {
        QPainter canvas(&Form()->Window());
        Draw(canvas);
      }
      return;
    default:
      break;
  }
  TMMWndProcComponent::WndProc(message);
}

void TMMDesigner::Resized() {
  const bool inside = IconInside();
  if (inside_ && !inside) {
    inside_ = false;
    Erase();
  } else if (!inside_ && inside) {
    inside_ = true;
    State().repaint_all = true;
    Paint();
  }
}

void TMMDesigner::Deactivated() {
  if (State().dragging) {
    EndHeightDrag();
    Beep(kErrorSound);
  } else {
    State().repaint_all = true;
  }
}

void TMMDesigner::EndHeightDrag() {
  TDesignerState& state = State();
  TMMDesigner* dragging = std::exchange(state.dragging, nullptr);
  state.repaint_all = false;
  CallHeightDrag(*dragging, 0);
}

void TMMDesigner::StartHeightDrag(int client_y) {
  TDesignerState& state = State();
  state.drag_start = QPoint(0, client_y);
  state.dragging = this;
  state.repaint_all = true;
}

void TMMDesigner::SetHiddenGroups(QStringList groups) {
  hidden_groups_ = std::move(groups);
  enabled_kinds_.clear();
}

void TMMDesigner::ButtonClick(bool left, QPoint at) {
  if (!left || !active_) {
    if (State().options) return;
    auto* dialog = new TMMDesignerForm(*this);
    State().options = dialog;
    dialog->move(std::max(1, at.x() - dialog->width()), at.y());
    dialog->show();
    return;
  }
  TForm& form = *Form();
  if (!IconInside() || form.ClientHeight() == runtime_height_) {
    int bottom = 0;
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
      bottom = std::max(bottom, ComponentBox(Owner()->Components(i)).Bottom);
    }
    form.SetClientHeight(bottom + 5);
  } else {
    form.SetClientHeight(runtime_height_ == -1 ? ComponentBox(this).Top - 5 : runtime_height_);
  }
}

QPoint TMMDesigner::HeightDragStart() { return State().drag_start; }

void TMMDesigner::OptionsClosed() { State().options = nullptr; }

}  // namespace pmx
