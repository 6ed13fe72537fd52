#pragma once

#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "audio/displays/designer_links.h"
#include "audio/displays/wnd_proc_component.h"

class QPainter;

namespace pmx {

class TMMDesigner;

// What a design-time host plugs in; this program sets none of them. GUI thread only.
struct TDesignerHost {
  // Whether the form of this window has a designer already.
  std::function<bool(QWidget& window)> HasDesigner;
  std::function<void(TMMDesigner&)> RegisterDesigner;
  std::function<void(TMMDesigner&)> UnregisterDesigner;
  // Carries out the height drag of a designer; called with 0 when the drag ends.
  std::function<void(TMMDesigner&, int)> HeightDrag;
};
TDesignerHost& DesignerHost();

// A design-time aid: draws on its form which of the form's components feeds which,
// by the registered link kinds. At run time it only gives the form its run-time
// client height once loaded (when RuntimeHeight is above 0). GUI thread only.
class TMMDesigner : public TMMWndProcComponent {
 public:
  // Exception "Only one Designer is allowed per Form" when the host says the form
  // has one.
  explicit TMMDesigner(TComponent* owner);
  ~TMMDesigner() override;

  bool Active() const { return active_; }
  void SetActive(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  int LineWidth() const { return line_width_; }
  void SetLineWidth(int value);
  int Margin() const { return margin_; }
  void SetMargin(int value);
  bool AutoUpdate() const { return auto_update_; }
  void SetAutoUpdate(bool value) { auto_update_ = value; }
  // Setting True repaints everything; always reads False.
  bool Update() const { return false; }
  void SetUpdate(bool value);
  bool Sound() const { return sound_; }
  void SetSound(bool value) { sound_ = value; }
  bool ShowButton() const { return show_button_; }
  void SetShowButton(bool value) { show_button_ = value; }
  int RuntimeHeight() const { return runtime_height_; }
  void SetRuntimeHeight(int value) { runtime_height_ = value; }

  void SetDesignMode(bool value) override;
  void WndProc(TMessage& message) override;

  // Redraws the links when they changed.
  void Paint();
  // The desktop's bell when Sound.
  void Beep(int type);
  // The designer button's click rules: a left click on an active designer folds or
  // unfolds the form's height; any other click opens the options below at.
  void ButtonClick(bool left, QPoint at);

  // The group names switched off in the options.
  const QStringList& HiddenGroups() const { return hidden_groups_; }
  void SetHiddenGroups(QStringList groups);
  // The options asked for a height drag that starts at this client y.
  void StartHeightDrag(int client_y);
  // Where the pending height drag started, for the host that carries it out.
  static QPoint HeightDragStart();
  // The options dialog is gone.
  static void OptionsClosed();

  // As the last Paint found them.
  const std::vector<int>& Marks() const { return links_.Marks; }
  const std::vector<std::pair<TComponent*, TComponent*>>& Links() const { return links_.Pairs; }
  // A control's rectangle in the form's client coordinates; any other component's
  // design position with 28 x 28.
  TRect ComponentBox(TComponent* component) const;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void StartDesign();
  void AutoPaint();
  void Erase();
  void RebuildLinks();
  void Draw(QPainter& canvas);
  void DrawMarks(QPainter& canvas, TComponent* component, int marks);
  bool IconInside() const;
  bool Visible(TComponent* component) const;
  void Resized();
  void Deactivated();
  void EndHeightDrag();
  void RedrawLinks() {
    dirty_ = true;
    Paint();
  }

  bool auto_update_ = true;
  bool active_ = true;
  bool inside_ = false;
  bool sound_ = true;
  TColor color_ = 255;
  int line_width_ = 1;
  int margin_ = 6;
  std::unique_ptr<QTimer> timer_;  // design time only
  bool dirty_ = false;
  bool drawn_ = false;  // the links show on the form's next paint
  int runtime_height_ = -1;
  bool show_button_ = false;
  QStringList hidden_groups_;
  std::vector<bool> enabled_kinds_;
  TLinkMap links_;
  bool links_valid_ = false;
  bool links_building_ = false;
};

}  // namespace pmx
