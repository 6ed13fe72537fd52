#include "audio/displays/wnd_proc_component.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace pmx {
namespace {

constexpr QEvent::Type kProbe = QEvent::User;

// A form that answers the probe event itself, after everyone who hooked it.
struct ProbeForm : QWidget, TForm {
  explicit ProbeForm(std::vector<std::string>& log)
      : TForm(static_cast<QWidget&>(*this)), log(log) {}
  bool event(QEvent* e) override {
    if (e->type() != kProbe) return QWidget::event(e);
    log.push_back("form");
    return true;
  }
  std::vector<std::string>& log;
};

struct ProbeHook : TMMWndProcComponent {
  ProbeHook(TComponent* owner, std::vector<std::string>& log, std::string name)
      : TMMWndProcComponent(owner), log(log), name(std::move(name)) {
    Hook();
  }
  void WndProc(TMessage& message) override {
    if (message.Event->type() == kProbe) log.push_back(name);
    TMMWndProcComponent::WndProc(message);
    if (message.Event->type() == kProbe) answers.push_back(message.Result);
  }
  std::vector<std::string>& log;
  std::string name;
  std::vector<bool> answers;
};

class WndProcChain : public ::testing::Test {
 protected:
  // Who saw one probe event, in order, and what the window answered.
  std::vector<std::string> Probe() {
    log.clear();
    QEvent probe(kProbe);
    answered = QApplication::sendEvent(&form, &probe);
    return log;
  }
  using Log = std::vector<std::string>;
  std::vector<std::string> log;
  ProbeForm form{log};
  bool answered = false;
};

TEST_F(WndProcChain, UnhookingInHookOrderRelinksTheLaterHook) {
  auto first = std::make_unique<ProbeHook>(&form, log, "first");
  auto second = std::make_unique<ProbeHook>(&form, log, "second");
  EXPECT_EQ(Probe(), (Log{"second", "first", "form"}));
  EXPECT_TRUE(answered);
  EXPECT_EQ(first->answers.back(), true);  // the form's own answer came back up the chain

  first.reset();  // second now calls the form directly; the window keeps second's stub
  EXPECT_EQ(Probe(), (Log{"second", "form"}));
  second.reset();
  EXPECT_EQ(Probe(), (Log{"form"}));
  EXPECT_TRUE(answered);
}

TEST_F(WndProcChain, UnhookingTheLastOrAMiddleHookKeepsTheRest) {
  ProbeHook a(&form, log, "a");
  ProbeHook b(&form, log, "b");
  ProbeHook c(&form, log, "c");
  b.Unhook();
  EXPECT_EQ(Probe(), (Log{"c", "a", "form"}));
  c.Unhook();
  EXPECT_EQ(Probe(), (Log{"a", "form"}));
  c.Hook();
  EXPECT_EQ(Probe(), (Log{"c", "a", "form"}));
  EXPECT_FALSE(b.CallPrevWndProc(nullptr));  // unhooked: nobody to ask
  b.Unhook();                                // twice is harmless
  EXPECT_EQ(Probe(), (Log{"c", "a", "form"}));
}

TEST(WndProcComponent, OwnerMustBeAForm) {
  TComponent not_a_form;
  for (TComponent* owner : {&not_a_form, static_cast<TComponent*>(nullptr)}) {
    try {
      TMMWndProcComponent component(owner);
      ADD_FAILURE() << "accepted an owner that is no form";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Owner must be a Form");
    }
  }
}

// The window's layout still follows its size while its events go through the chain.
TEST(WndProcComponent, HookedMainWindowStillLaysOut) {
  struct MainForm : QMainWindow, TForm {
    MainForm() : TForm(static_cast<QWidget&>(*this)) { setCentralWidget(new QWidget); }
  } form;
  TMMWndProcComponent hook(&form);
  hook.Hook();
  form.resize(300, 200);
  form.show();
  form.resize(400, 260);
  QApplication::processEvents();
  EXPECT_EQ(form.centralWidget()->size(), QSize(400, 260));
}

}  // namespace
}  // namespace pmx
