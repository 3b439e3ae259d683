// The presenters: the scripted one's record and answers, and how boxes are shown.

#include <gtest/gtest.h>

#include <sstream>

#include "platform/forms/form.h"
#include "platform/forms/list_view.h"
#include "platform/forms/presenter.h"
#include "platform/forms/scripted_presenter.h"
#include "platform/forms/terminal_presenter.h"
#include "tests/support/scripted_presenter_scope.h"

namespace platform::forms {
namespace {

TEST(ScriptedPresenterTest, RecordsBoxesAndAnswersFromTheQueue) {
  kvtest::ScriptedUi ui;
  ui.ExpectBox("Sync process cancelled on user request.");
  ui.QueueAnswer(vbNo);
  EXPECT_EQ(MsgBox("Sync process cancelled on user request.", vbCritical), vbOK);
  EXPECT_EQ(MsgBox("Do you want to remove Kalvor menu’s from QuickBooks", vbYesNo + vbInformation, "Corvalink"), vbNo);
  ASSERT_EQ(ui.Boxes().size(), 2u);
  EXPECT_EQ(ui.Boxes()[0].buttons, vbCritical);
  EXPECT_EQ(ui.Boxes()[0].title, "");
  EXPECT_EQ(ui.Boxes()[1].title, "Corvalink");
  EXPECT_EQ(ui.Boxes()[1].answer, vbNo);
}

TEST(ScriptedPresenterTest, ALongPromptIsCutToWhatABoxCanShow) {
  kvtest::ScriptedUi ui;
  // 1,024 characters, each of two bytes, fit; one more does not.
  const std::string fits = [] {
    std::string text;
    for (int i = 0; i < 1024; ++i) text += "\xC3\xA9";
    return text;
  }();
  ui.ExpectBox(fits);
  EXPECT_EQ(MsgBox(fits, vbCritical), vbOK);
  ui.ExpectBoxContaining("The following error");
  MsgBox("The following error occured while executing ASP.\r\n\r\n" + std::string(200 * 1024 * 1024 / 100, 'x'),
         vbCritical);
  ASSERT_EQ(ui.Boxes().size(), 2u);
  const std::string& cut = ui.Boxes()[1].prompt;
  EXPECT_EQ(cut.size(), 1024u);
  EXPECT_TRUE(cut.starts_with("The following error occured while executing ASP.\r\n\r\nxxx"));
  EXPECT_TRUE(cut.ends_with("xxx..."));
}

TEST(ScriptedPresenterTest, WhatNobodyScriptedIsReportedAndAnsweredCautiously) {
  ScriptedPresenter ui;
  PresenterScope scope(ui);
  EXPECT_EQ(MsgBox("surprise"), vbOK);
  EXPECT_EQ(MsgBox("remove?", vbYesNo), vbNo);
  ui.ExpectBox("expected text", vbYes);
  EXPECT_EQ(MsgBox("other text", vbYesNo), vbYes);
  ui.QueueAnswer(vbYes);
  EXPECT_EQ(MsgBox("ok only"), vbOK) << "an answer that is no button of the box is not given";
  EXPECT_EQ(AskText("User name"), std::nullopt);
  ui.QueueText("left over");
  const std::vector<std::string> expected = {
      "unscripted message box \"surprise\"",
      "unscripted message box \"remove?\"",
      "message box \"other text\" came where \"expected text\" was expected",
      "answer 6 is no button of message box \"ok only\"",
      "unscripted text prompt \"User name\"",
  };
  EXPECT_EQ(ui.Unexpected(), expected);
  EXPECT_NE(ui.Problems().find("1 queued text answer(s) never used"), std::string::npos);
  ui.Clear();
  EXPECT_EQ(ui.Problems(), "");
}

TEST(ScriptedPresenterTest, ScopesNestAndRestoreThePreviousPresenter) {
  ScriptedPresenter outer;
  PresenterScope a(outer);
  {
    ScriptedPresenter inner;
    PresenterScope b(inner);
    inner.QueueAnswer(vbOK);
    MsgBox("inner");
    EXPECT_EQ(inner.Boxes().size(), 1u);
  }
  outer.QueueAnswer(vbOK);
  MsgBox("outer");
  EXPECT_EQ(outer.Prompts(), (std::vector<std::string>{"outer"}));
}

TEST(ScriptedPresenterTest, TextAnswersAndRefreshesAreRecorded) {
  kvtest::ScriptedUi ui;
  ui.QueueText("jane");
  ui.QueueText(std::nullopt);
  EXPECT_EQ(AskText("User name"), "jane");
  EXPECT_EQ(AskText("Password", true), std::nullopt);
  EXPECT_EQ(ui.TextPrompts(), (std::vector<std::string>{"User name", "Password"}));
  Form form("frmX");
  Label label(&form, "lblTransfer2");
  label.Refresh();
  label.Refresh();
  EXPECT_EQ(ui.Refreshes(), (std::vector<std::string>{"lblTransfer2", "lblTransfer2"}));
  EXPECT_EQ(label.RefreshCount(), 2);
}

struct Terminal {
  explicit Terminal(std::string input) : in(std::move(input)), presenter(out, in) {}
  std::ostringstream out;
  std::istringstream in;
  TerminalPresenter presenter;
};

TEST(TerminalPresenterTest, PrintsABlockPerBoxWithIconTitleAndLineBreaks) {
  Terminal t("");
  EXPECT_EQ(t.presenter.MessageBox("Quickbooks data synced with Kalvor..\r\n\r\nEmployees - 2\r\n", vbInformation, ""),
            vbOK);
  t.presenter.MessageBox("Cannot find 'C:\\x.qbw'", vbCritical, "");
  t.presenter.MessageBox("done", vbOKOnly, "Corvalink");
  t.presenter.MessageBox("", vbExclamation, "");
  EXPECT_EQ(t.out.str(),
            "[Information]\nQuickbooks data synced with Kalvor..\n\nEmployees - 2\n\n\n"
            "[Critical]\nCannot find 'C:\\x.qbw'\n\n"
            "[Message] Corvalink\ndone\n\n"
            "[Exclamation]\n\n\n");
}

TEST(TerminalPresenterTest, YesNoIsReadFromTheStreamAndEndOfInputMeansNo) {
  Terminal t("maybe\n Y \nno\n");
  EXPECT_EQ(t.presenter.MessageBox("Remove?", vbYesNo + vbQuestion, "Corvalink"), vbYes);
  EXPECT_EQ(t.presenter.MessageBox("Again?", vbYesNo + vbInformation, ""), vbNo);
  EXPECT_EQ(t.presenter.MessageBox("Once more?", vbYesNo, ""), vbNo);
  EXPECT_EQ(t.out.str(),
            "[Question] Corvalink\nRemove?\n\nYes/No? maybe\nPlease answer Yes/No.\nYes/No? Yes\n\n"
            "[Information]\nAgain?\n\nYes/No? No\n\n"
            "[Message]\nOnce more?\n\nYes/No? No (end of input)\n\n");
}

TEST(TerminalPresenterTest, OkCancelAndTheDefaultButton) {
  Terminal t("\nc\n");
  EXPECT_EQ(t.presenter.MessageBox("Continue?", vbOKCancel + vbDefaultButton2, ""), vbCancel) << "Enter: default";
  EXPECT_EQ(t.presenter.MessageBox("Continue?", vbOKCancel, ""), vbCancel);
  EXPECT_EQ(t.presenter.MessageBox("Continue?", vbOKCancel, ""), vbCancel);
}

TEST(TerminalPresenterTest, HiddenTextIsNeverPrinted) {
  Terminal t("jane\ns3cret\n");
  EXPECT_EQ(t.presenter.AskText("User name:", false), "jane");
  EXPECT_EQ(t.presenter.AskText("Password:", true), "s3cret");
  EXPECT_EQ(t.presenter.AskText("More:", false), std::nullopt);
  EXPECT_EQ(t.out.str(), "User name: jane\nPassword: \nMore: \n");
}

class frmResultsLike : public Form {
 public:
  frmResultsLike() : Form("frmResults") {
    SetCaption("Results");
    lblTotal.SetCaption("Total 2");
    OKButton.SetCaption("OK");
    OKButton.OnClick = [this] { Unload(); };
    cmdDetails.SetCaption("&Details");
    cmdDetails.OnClick = [this] { lblTotal.SetCaption("Details shown"); };
  }
  Label lblTotal{this, "lblTotal"};
  CommandButton OKButton{this, "OKButton"};
  CommandButton cmdDetails{this, "cmdDetails"};
};

TEST(TerminalPresenterTest, AModalFormOffersItsButtons) {
  Terminal t("details\n9\n1\n");
  PresenterScope scope(t.presenter);
  frmResultsLike form;
  form.Show(vbModal);
  EXPECT_FALSE(form.Loaded());
  EXPECT_EQ(t.out.str(),
            "== Results ==\nTotal 2\n<OK>\n<Details>\n\n"
            "Press:  1 OK  2 Details\n> details\n\n"
            "== Results ==\nDetails shown\n<OK>\n<Details>\n\n"
            "Press:  1 OK  2 Details\n> 9\nPlease pick one of the numbers.\n"
            "Press:  1 OK  2 Details\n> 1\n");
}

TEST(TerminalPresenterTest, EndOfInputClosesAModalForm) {
  Terminal t("");
  PresenterScope scope(t.presenter);
  frmResultsLike form;
  form.Show(vbModal);
  EXPECT_FALSE(form.Loaded());
}

TEST(TerminalPresenterTest, AHostHandlerPresentsAFormOfItsName) {
  Terminal t("");
  PresenterScope scope(t.presenter);
  std::string seen;
  t.presenter.OnModal("frmResults", [&](Form& form, TerminalPresenter& terminal) {
    seen = form.Caption();
    terminal.Out() << "custom view\n";
    static_cast<frmResultsLike&>(form).OKButton.Click();
  });
  frmResultsLike form;
  form.Show(vbModal);
  EXPECT_EQ(seen, "Results");
  EXPECT_EQ(t.out.str(), "custom view\n");
}

TEST(TerminalPresenterTest, LineEndsOfEveryKindBecomeLineBreaks) {
  EXPECT_EQ(TerminalLines("a\r\nb\rc\nd\n\r"), "a\nb\nc\nd\n\n");
}

TEST(TerminalPresenterTest, ControlCharactersFromAnAnswerCannotDriveTheTerminal) {
  const char raw[] = "\x1b[2J\x1b]0;t\x07\tx\0\x7f|\xc2\x9b|\xc3\xbf";
  EXPECT_EQ(TerminalLines(std::string_view(raw, sizeof raw - 1)), "^[[2J^[]0;t^G\tx^@^?|^?|\xc3\xbf");
}

}  // namespace
}  // namespace platform::forms
