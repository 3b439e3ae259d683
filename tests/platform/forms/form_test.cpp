// Forms: loading, unloading, default instances and modal showing.

#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"
#include "platform/forms/presenter.h"
#include "platform/forms/timer.h"
#include "tests/support/scripted_presenter_scope.h"

namespace platform::forms {
namespace {

using namespace std::chrono_literals;

class frmSample : public Form {
 public:
  frmSample() : Form("frmSample") {
    OnLoad = [this] { ++loads; };
    OnQueryUnload = [this](int& cancel, int mode) {
      modes.push_back(mode);
      if (keep) cancel = 1;
    };
    cmdOK.SetCaption("OK");
    cmdOK.SetDefault(true);
    cmdOK.OnClick = [this] { Unload(); };
    cmdHide.OnClick = [this] { Hide(); };
    Timer1.OnTimer = [this] { ++ticks; };
  }

  CommandButton cmdOK{this, "cmdOK"};
  CommandButton cmdHide{this, "cmdHide"};
  Timer Timer1{this, "Timer1"};
  int loads = 0;
  int ticks = 0;
  bool keep = false;
  std::vector<int> modes;
  std::string state;  // form-level data that a fresh instance does not have
};

class FormTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetDefaultInstances(); }
};

TEST_F(FormTest, LoadRunsTheHandlerOnlyWhenNotLoaded) {
  frmSample form;
  EXPECT_FALSE(form.Loaded());
  form.Load();
  form.Load();
  form.Show();
  EXPECT_EQ(form.loads, 1);
  EXPECT_TRUE(form.Visible());
  EXPECT_TRUE(form.Unload());
  EXPECT_FALSE(form.Loaded());
  EXPECT_FALSE(form.Visible());
  form.Load();
  EXPECT_EQ(form.loads, 2);
}

TEST_F(FormTest, QueryUnloadCanKeepTheForm) {
  frmSample form;
  form.Show();
  form.keep = true;
  EXPECT_FALSE(form.Unload(vbFormControlMenu));
  EXPECT_TRUE(form.Loaded());
  EXPECT_TRUE(form.Visible());
  form.keep = false;
  EXPECT_TRUE(form.Unload());
  EXPECT_EQ(form.modes, (std::vector<int>{vbFormControlMenu, vbFormCode}));
}

TEST_F(FormTest, DefaultInstanceIsFreshAfterUnload) {
  EXPECT_FALSE(HasDefaultInstance<frmSample>());
  frmSample& first = DefaultInstance<frmSample>();
  EXPECT_EQ(&DefaultInstance<frmSample>(), &first);
  first.Load();
  first.state = "used";
  first.Unload();
  EXPECT_FALSE(HasDefaultInstance<frmSample>());
  frmSample& second = DefaultInstance<frmSample>();
  EXPECT_EQ(second.state, "");
  EXPECT_FALSE(second.Loaded());
  second.Load();
  EXPECT_EQ(second.loads, 1);
}

TEST_F(FormTest, ADefaultInstanceUnloadingItselfSurvivesItsOwnHandler) {
  kvtest::ScriptedUi ui;
  frmSample* replaced = nullptr;
  ui.QueueModal([&](Form& form) {
    auto& sample = static_cast<frmSample&>(form);
    // The handler unloads the form and, still inside the click, something asks for the default instance.
    sample.cmdOK.OnClick = [&] {
      sample.Unload();
      replaced = &DefaultInstance<frmSample>();
      sample.state = "still usable";
    };
    sample.cmdOK.Click();
  });
  DefaultInstance<frmSample>().Show(vbModal);
  ASSERT_NE(replaced, nullptr);
  EXPECT_FALSE(replaced->Loaded());
  EXPECT_EQ(ui.ModalForms(), (std::vector<std::string>{"frmSample"}));
}

TEST_F(FormTest, ModalShowWaitsUntilAScriptedClickUnloadsTheForm) {
  kvtest::ScriptedUi ui;
  frmSample form;
  bool seen_shown = false;
  ui.QueueModal([&](Form& f) {
    seen_shown = f.Visible() && f.Loaded() && static_cast<frmSample&>(f).ShownModally();
    static_cast<frmSample&>(f).cmdOK.Click();
  });
  form.Show(vbModal);
  EXPECT_TRUE(seen_shown);
  EXPECT_FALSE(form.Loaded());
  EXPECT_FALSE(form.ShownModally());
}

TEST_F(FormTest, ModalShowOfAVisibleFormIsRefused) {
  kvtest::ScriptedUi ui;
  frmSample form;
  form.Show();
  try {
    form.Show(vbModal);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrFormAlreadyShown);
  }
}

TEST_F(FormTest, AModalFormNobodyScriptedFailsTheScriptAndDoesNotHang) {
  ScriptedPresenter ui;
  PresenterScope scope(ui);
  frmSample form;
  form.Show(vbModal);
  EXPECT_FALSE(form.Visible());
  ASSERT_EQ(ui.Unexpected().size(), 1u);
  EXPECT_EQ(ui.Unexpected()[0], "unscripted modal form frmSample");
}

TEST_F(FormTest, AScriptedActionThatLeavesTheFormShownIsReported) {
  ScriptedPresenter ui;
  PresenterScope scope(ui);
  frmSample form;
  ui.QueueModal([](Form&) {});
  form.Show(vbModal);
  EXPECT_FALSE(form.Visible());
  EXPECT_NE(ui.Problems().find("still shown"), std::string::npos);
}

TEST_F(FormTest, TimerTicksThroughTheLoopOnlyWhileTheFormIsLoaded) {
  frmSample form;
  form.Timer1.SetInterval(20);
  EXPECT_FALSE(form.Timer1.Running()) << "a form's timer waits for the form to load";
  form.Load();
  EXPECT_TRUE(form.Timer1.Running());
  EventLoop& loop = EventLoop::Current();
  loop.WaitWhile([&] { return form.ticks < 3; });
  form.Timer1.SetEnabled(false);
  EXPECT_FALSE(form.Timer1.Running());
  const int ticks = form.ticks;
  loop.WaitOnce(60);
  EXPECT_EQ(form.ticks, ticks);
  form.Timer1.SetEnabled(true);
  form.Timer1.SetInterval(0);
  EXPECT_FALSE(form.Timer1.Running());
  form.Timer1.SetInterval(20);
  EXPECT_TRUE(form.Timer1.Running());
  form.Unload();
  EXPECT_FALSE(form.Timer1.Running());
  EXPECT_TRUE(form.Timer1.Enabled());
}

TEST_F(FormTest, ATickThatPumpsEventsIsNotReentered) {
  Timer timer(nullptr, "Timer1");
  int depth = 0;
  int max_depth = 0;
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    max_depth = std::max(max_depth, ++depth);
    EventLoop::Current().WaitOnce(30);  // longer than the interval
    --depth;
  };
  timer.SetInterval(5);
  EventLoop::Current().WaitWhile([&] { return ticks < 3; });
  timer.SetEnabled(false);
  EXPECT_EQ(max_depth, 1);
}

TEST_F(FormTest, ScreenKeepsTheMousePointer) {
  Screen().MousePointer = vbHourglass;
  EXPECT_EQ(Screen().MousePointer, 11);
  Screen().MousePointer = vbDefault;
}

}  // namespace
}  // namespace platform::forms
