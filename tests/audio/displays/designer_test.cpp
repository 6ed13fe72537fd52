#include "audio/displays/designer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <memory>

#include "audio/displays/designer_form.h"
#include "platform/exception.h"

namespace pmx {
namespace {

// A main window with a menu bar above its client area.
struct MainForm : QMainWindow, TForm {
  MainForm() : TForm(static_cast<QWidget&>(*this)) {
    menuBar()->addMenu("File");
    setCentralWidget(new QWidget);
    resize(400, 240);
  }
};

// A source names its sink by an output property.
struct Source : TComponent {
  Source(TComponent* owner, int x, int y) : TComponent(owner) { SetDesignInfo(y << 16 | x); }
  TComponent* Output = nullptr;
};
struct Sink : TComponent {
  Sink(TComponent* owner, int x, int y) : TComponent(owner) { SetDesignInfo(y << 16 | x); }
};

TLinkKind OutputKind(std::string group) {
  return {1,
          ClassOf<Source>("Source"),
          ClassOf<Sink>("Sink"),
          std::move(group),
          "Output",
          [](TComponent* c) { return static_cast<Source*>(c)->Output; },
          nullptr};
}

class DesignerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LinkKinds().clear();
    LinkExclusions().clear();
    DesignerHost() = {};
  }
  MainForm form;
};

TEST_F(DesignerTest, RunTimeHeightAppliesOnlyAboveZeroAfterLoading) {
  for (int height : {-1, 0, 300}) {
    form.resize(400, 240);
    const QSize before = form.size();
    const int client_before = form.ClientHeight();
    TMMDesigner designer(&form);
    designer.BeginLoading();
    designer.SetRuntimeHeight(height);
    EXPECT_EQ(form.size(), before) << "before loading ended, " << height;
    designer.EndLoading();
    EXPECT_FALSE(designer.Hooked());  // nothing of the design-time machinery at run time
    if (height > 0) {
      EXPECT_EQ(form.ClientHeight(), 300);
      EXPECT_EQ(form.height(), before.height() - client_before + 300);  // the menu bar stays
    } else {
      EXPECT_EQ(form.size(), before) << height;
    }
  }
}

TEST_F(DesignerTest, DefaultsAndUpdateReadsFalse) {
  TMMDesigner designer(&form);
  EXPECT_TRUE(designer.Active());
  EXPECT_TRUE(designer.AutoUpdate());
  EXPECT_TRUE(designer.Sound());
  EXPECT_FALSE(designer.ShowButton());
  EXPECT_EQ(designer.Color(), 255u);
  EXPECT_EQ(designer.LineWidth(), 1);
  EXPECT_EQ(designer.Margin(), 6);
  EXPECT_EQ(designer.RuntimeHeight(), -1);
  designer.SetUpdate(true);
  EXPECT_FALSE(designer.Update());
  EXPECT_TRUE(designer.Active());
}

TEST_F(DesignerTest, OnlyOneDesignerPerFormWhenTheHostSaysSo) {
  QWidget* asked = nullptr;
  DesignerHost().HasDesigner = [&](QWidget& window) { return asked = &window, true; };
  try {
    TMMDesigner designer(&form);
    ADD_FAILURE() << "a second designer was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Only one Designer is allowed per Form");
  }
  EXPECT_EQ(asked, &form);
}

TEST(DesignerRoute, RunsRightAroundAboveOrBelowTheTarget) {
  const TRect s{10, 10, 38, 38};  // middle line 23
  // Far enough to the right: straight across, then to the target's middle.
  EXPECT_EQ(LinkRoute(s, {100, 50, 128, 79}, 6),
            (std::vector<QPoint>{{38, 23}, {94, 23}, {94, 64}, {100, 64}}));
  // Left of the source and well below it: right past both, up to above the target.
  EXPECT_EQ(LinkRoute(s, {0, 80, 28, 108}, 6),
            (std::vector<QPoint>{{38, 23}, {44, 23}, {44, 74}, {-6, 74}, {-6, 93}, {0, 93}}));
  // Left of the source and just below it: around below the target.
  EXPECT_EQ(LinkRoute(s, {0, 30, 20, 50}, 6),
            (std::vector<QPoint>{{38, 23}, {44, 23}, {44, 56}, {-6, 56}, {-6, 39}, {0, 39}}));
}

class DesignTime : public DesignerTest {
 protected:
  void SetUp() override {
    LinkKinds().push_back(OutputKind("Audio"));
    source.Output = &linked;
    designer = std::make_unique<TMMDesigner>(&form);
    designer->SetDesignMode(true);
  }
  int MarksOf(TComponent* c) {
    for (int i = 0; i < form.ComponentCount(); ++i) {
      if (form.Components(i) == c) return designer->Marks().at(i);
    }
    return -1;
  }
  QColor PixelAt(QPoint client_point) {
    const QImage shot = form.grab().toImage();
    return shot.pixelColor(form.centralWidget()->mapTo(&form, client_point));
  }
  Source source{&form, 10, 10};
  Sink linked{&form, 100, 10};
  Sink spare{&form, 100, 60};
  std::unique_ptr<TMMDesigner> designer;
};

TEST_F(DesignTime, LinksAndMarksFollowTheKindsGroupsAndExclusions) {
  ASSERT_TRUE(designer->Hooked());
  using Pairs = std::vector<std::pair<TComponent*, TComponent*>>;
  EXPECT_EQ(designer->Links(), (Pairs{{&source, &linked}}));
  EXPECT_EQ(MarksOf(&source), kOutputEnd);
  EXPECT_EQ(MarksOf(&linked), kInputEnd);
  EXPECT_EQ(MarksOf(&spare), kInputEnd);  // could be linked
  EXPECT_EQ(MarksOf(designer.get()), 0);

  LinkExclusions().push_back(
      {1, {}, ClassOf<Sink>("Sink"), "Audio", [&](TComponent*, TComponent* t) {
         return t == &spare;
       }});
  designer->SetUpdate(true);
  EXPECT_EQ(MarksOf(&spare), 0);
  EXPECT_EQ(designer->Links(), (Pairs{{&source, &linked}}));

  designer->SetHiddenGroups({"Audio"});
  designer->SetUpdate(true);
  EXPECT_TRUE(designer->Links().empty());
  EXPECT_EQ(MarksOf(&source), 0);
}

TEST_F(DesignTime, DrawsTheRoutedLineAndMarksOnTheFormUntilInactive) {
  form.show();
  const TRect s = designer->ComponentBox(&source);
  const TRect t = designer->ComponentBox(&linked);
  const std::vector<QPoint> route = LinkRoute(s, t, designer->Margin());
  const QPoint on_line = (route[0] + route[1]) / 2;
  EXPECT_EQ(PixelAt(on_line), QColor(255, 0, 0));
  EXPECT_EQ(PixelAt({t.Left - 3, MiddleLine(t) + 3}), QColor(255, 0, 0));  // the arrow
  EXPECT_EQ(PixelAt({s.Right + 2, MiddleLine(s) - 2}), QColor(0, 0, 128));
  EXPECT_EQ(PixelAt({t.Left - 5, MiddleLine(t) + 2}), QColor(0, 0, 128));

  designer->SetActive(false);
  EXPECT_NE(PixelAt(on_line), QColor(255, 0, 0));
  designer->SetActive(true);
  EXPECT_EQ(PixelAt(on_line), QColor(255, 0, 0));

  // A linked component that goes takes its line with it at the next paint.
  auto far = std::make_unique<Sink>(&form, 200, 10);
  source.Output = far.get();
  designer->SetUpdate(true);
  ASSERT_EQ(designer->Links().size(), 1u);
  far.reset();  // its holder forgets it, as holders do
  source.Output = nullptr;
  EXPECT_NE(PixelAt(on_line), QColor(255, 0, 0));
  EXPECT_TRUE(designer->Links().empty());
}

TEST_F(DesignTime, FoldingAwayTheIconStopsTheDrawingAndUnfoldingShowsEveryComponent) {
  designer->SetDesignInfo(150 << 16 | 10);
  form.show();
  const QPoint on_line(60, MiddleLine(designer->ComponentBox(&source)));
  ASSERT_EQ(PixelAt(on_line), QColor(255, 0, 0));
  designer->ButtonClick(true, {});
  EXPECT_EQ(form.ClientHeight(), 145);  // the icons from the designer's down are hidden
  EXPECT_NE(PixelAt(on_line), QColor(255, 0, 0));
  designer->ButtonClick(true, {});  // the icon is outside: unfold to show every box
  EXPECT_EQ(form.ClientHeight(), 150 + 28 + 5);
  EXPECT_EQ(PixelAt(on_line), QColor(255, 0, 0));
}

TEST_F(DesignTime, OptionsDialogEditsTheDesignerAndAsksForAHeightDrag) {
  std::vector<int> drag_calls;
  DesignerHost().HeightDrag = [&](TMMDesigner& d, int going_on) {
    EXPECT_EQ(&d, designer.get());
    drag_calls.push_back(going_on);
  };
  LinkKinds().push_back(OutputKind("Audio"));  // a group is listed once
  LinkKinds().push_back(OutputKind("Control"));
  designer->ButtonClick(false, QPoint(300, 40));
  TMMDesignerForm* dialog = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* found = dynamic_cast<TMMDesignerForm*>(w); found && found->isVisible())
      dialog = found;
  }
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->x(), 300 - dialog->width());
  ASSERT_EQ(dialog->GroupBox->count(), 2);
  EXPECT_TRUE(dialog->GroupBox->item(0)->isSelected());
  EXPECT_TRUE(dialog->ckbSound->isChecked());

  dialog->ckbSound->click();
  EXPECT_FALSE(designer->Sound());
  dialog->ckbActive->click();
  EXPECT_FALSE(designer->Active());
  EXPECT_FALSE(dialog->btnHeight->isEnabled());
  dialog->ckbActive->click();
  dialog->GroupBox->item(1)->setSelected(false);
  dialog->btnHeight->click();
  EXPECT_EQ(designer->HiddenGroups(), QStringList{"Control"});

  designer->Paint();  // the pending drag is the host's to carry out
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(&form, &deactivate);
  EXPECT_EQ(drag_calls, (std::vector<int>{1, 0}));
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace pmx
