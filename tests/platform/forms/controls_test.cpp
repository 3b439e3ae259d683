// The headless controls: values, clicks, option groups and what a disabled or hidden control ignores.

#include <gtest/gtest.h>

#include <sstream>

#include "platform/base/error.h"
#include "platform/forms/control.h"
#include "platform/forms/control_array.h"
#include "platform/forms/list_view.h"

namespace platform::forms {
namespace {

// A bare surface to place controls on.
class Surface : public Control {
 public:
  Surface() : Control(nullptr, "Surface") {}
  std::string_view Kind() const override { return "Surface"; }
};

TEST(CheckBoxTest, ClickIsRaisedOnlyWhenTheValueChanges) {
  Surface s;
  CheckBox box(&s, "chkDebugMode");
  std::vector<int> seen;
  box.OnClick = [&] { seen.push_back(box.Value()); };
  box.SetValue(vbUnchecked);
  EXPECT_TRUE(seen.empty());
  box.SetValue(vbChecked);
  box.SetValue(vbChecked);
  box.SetValue(vbGrayed);
  box.SetValue(vbUnchecked);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 0}));
}

TEST(CheckBoxTest, GrayedIsNotTickedAndAUserClickTicksIt) {
  Surface s;
  CheckBox box(&s, "chkQBTasks");
  box.SetValue(vbGrayed);
  EXPECT_FALSE(box.Ticked());
  box.Click();
  EXPECT_EQ(box.Value(), vbChecked);
  box.Click();
  EXPECT_EQ(box.Value(), vbUnchecked);
  box.SetEnabled(false);
  box.Click();
  EXPECT_EQ(box.Value(), vbUnchecked);
}

TEST(CheckBoxTest, ValueOutOfRangeIsRefusedAndKeepsTheOldValue) {
  Surface s;
  CheckBox box(&s, "chk");
  box.SetValue(vbChecked);
  try {
    box.SetValue(3);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrInvalidPropertyValue);
    EXPECT_EQ(e.description(), "Invalid property value");
  }
  EXPECT_EQ(box.Value(), vbChecked);
}

TEST(OptionButtonTest, ButtonsOfOneContainerExcludeEachOtherOnly) {
  Surface s;
  Frame debug(&s, "fraDebug");
  OptionButton optStop(&debug, "optStop");
  OptionButton optContinue(&debug, "optContinue");
  OptionButton elsewhere(&s, "optElsewhere");
  int stop_clicks = 0;
  optStop.OnClick = [&] { ++stop_clicks; };
  elsewhere.SetValue(true);
  optContinue.SetValue(true);
  optStop.SetValue(true);
  EXPECT_TRUE(optStop.Value());
  EXPECT_FALSE(optContinue.Value());
  EXPECT_TRUE(elsewhere.Value()) << "another container is another group";
  EXPECT_EQ(stop_clicks, 1);
  optStop.SetValue(true);
  EXPECT_EQ(stop_clicks, 1) << "already selected";
  optContinue.Click();
  EXPECT_FALSE(optStop.Value());
}

TEST(CommandButtonTest, DisabledOrHiddenButtonsIgnoreTheUser) {
  Surface s;
  CommandButton ok(&s, "cmdOK");
  int clicks = 0;
  ok.OnClick = [&] { ++clicks; };
  EXPECT_TRUE(ok.Click());
  ok.SetEnabled(false);
  EXPECT_FALSE(ok.Click());
  ok.SetEnabled(true);
  ok.SetVisible(false);
  EXPECT_FALSE(ok.Click());
  ok.RaiseClick();
  EXPECT_EQ(clicks, 2);
}

TEST(CommandButtonTest, DefaultAndCancelButtonsAreFoundInNestedContainers) {
  Surface s;
  Frame frame(&s, "Frame1");
  CommandButton ok(&frame, "Okey");
  CommandButton cancel(&frame, "cancel");
  ok.SetDefault(true);
  cancel.SetCancel(true);
  EXPECT_EQ(FindDefaultButton(s), &ok);
  EXPECT_EQ(FindCancelButton(s), &cancel);
}

TEST(ControlArrayTest, ElementsReportTheirIndexToTheArrayHandler) {
  Surface s;
  ControlArray<CommandButton> cmdNav(&s, "cmdNav", 4);
  std::vector<int> pressed;
  cmdNav.OnClick = [&](int index) { pressed.push_back(index); };
  cmdNav[3].Click();
  cmdNav[0].Click();
  EXPECT_EQ(pressed, (std::vector<int>{3, 0}));
  EXPECT_EQ(cmdNav[2].Index(), 2);
  EXPECT_EQ(cmdNav[2].Name(), "cmdNav");
  EXPECT_EQ(cmdNav.UBound(), 3);
  EXPECT_EQ(s.Controls().size(), 4u);
  try {
    cmdNav[4];
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), 340);
  }
  cmdNav.Load(7).Click();
  EXPECT_EQ(pressed.back(), 7);
  EXPECT_THROW(cmdNav.Load(7), kv::Error);
}

TEST(TextBoxTest, ChangeMaskAndTypingLimits) {
  Surface s;
  TextBox password(&s, "txtPassword");
  int changes = 0;
  password.OnChange = [&] { ++changes; };
  password.SetPasswordChar("*");
  password.SetMaxLength(5);
  password.SetText("sécret-long");  // code may set more than MaxLength
  password.SetText("sécret-long");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(password.DisplayText(), "***********") << "one mark per character, not per byte";
  EXPECT_TRUE(password.Type("héllo world"));
  EXPECT_EQ(password.Text(), "héllo");
  password.SetLocked(true);
  EXPECT_FALSE(password.Type("other"));
  EXPECT_EQ(password.Text(), "héllo");
  std::ostringstream view;
  password.Describe(view);
  EXPECT_EQ(view.str(), "txtPassword: *****\n");
}

TEST(ProgressBarTest, ValueMustStayWithinTheRange) {
  Surface s;
  ProgressBar bar(&s, "ProgressBar1");
  bar.SetMax(249);
  bar.SetValue(249);
  EXPECT_THROW(bar.SetValue(250), kv::Error);
  EXPECT_THROW(bar.SetValue(-1), kv::Error);
  EXPECT_EQ(bar.Value(), 249);
  // A later run with fewer records lowers Max below the old value; the bar keeps inside its range.
  bar.SetMax(1);
  EXPECT_EQ(bar.Value(), 1);
  try {
    bar.SetMax(0);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrInvalidPropertyValue);
  }
  bar.SetValue(0);
  EXPECT_EQ(bar.Value(), 0);
}

TEST(ListViewTest, ReportRowsWithSubItems) {
  Surface s;
  ListView grid(&s, "ListView1");
  grid.SetView(lvwReport);
  grid.AddColumn("Employee", 1500);
  grid.AddColumn("Customer:Project", 1500);
  grid.AddColumn("Hours", 800);
  ListItem& row = grid.AddItem("Ann Lee");
  row.SetSubItem(2, "7.5");
  grid.AddItem("Bo Chan").SetSubItem(1, "Acme:Roof");
  EXPECT_EQ(grid.ItemCount(), 2);
  EXPECT_EQ(grid.Item(1).SubItem(1), "") << "a sub-item never set reads empty";
  EXPECT_EQ(grid.Item(1).SubItem(2), "7.5");
  EXPECT_EQ(&grid.Item(1), &row) << "rows keep their address";
  EXPECT_THROW(row.SetSubItem(3, "beyond the columns"), kv::Error);
  EXPECT_THROW(row.SubItem(0), kv::Error);
  try {
    grid.Item(3);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrIndexOutOfBounds);
  }
  std::ostringstream view;
  grid.Describe(view);
  EXPECT_EQ(view.str(),
            "Employee     Customer:Pro Hours\n"
            "Ann Lee                   7.5\n"
            "Bo Chan      Acme:Roof\n");
  grid.Clear();
  EXPECT_EQ(grid.ItemCount(), 0);
  EXPECT_EQ(grid.ColumnCount(), 3);
}

TEST(ControlTest, DescribeShowsOnlyVisibleControlsAndStripsAccelerators) {
  Surface s;
  Label title(&s, "Label1");
  title.SetCaption("QB Sync Wizard");
  Frame steps(&s, "frameComm");
  steps.SetCaption("Steps");
  CheckBox contacted(&steps, "chkContactQB");
  contacted.SetCaption("Contacting QuickBooks");
  contacted.SetValue(vbGrayed);
  CommandButton start(&s, "cmdStart");
  start.SetCaption("Start &Sync && go");
  Label hidden(&s, "lblHidden");
  hidden.SetCaption("never shown");
  hidden.SetVisible(false);
  std::ostringstream view;
  s.Describe(view);
  EXPECT_EQ(view.str(),
            "QB Sync Wizard\n"
            "-- Steps --\n"
            "  [-] Contacting QuickBooks\n"
            "<Start Sync & go>\n");
}

TEST(ControlTest, ControlsOutlivingTheirContainerDoNotReachBack) {
  auto frame = std::make_unique<Surface>();
  Label label(frame.get(), "lbl");
  frame.reset();
  EXPECT_EQ(label.Container(), nullptr);
  EXPECT_EQ(&label.Root(), &label);
}

}  // namespace
}  // namespace platform::forms
