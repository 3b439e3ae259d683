#pragma once

// A scripted presenter installed for one test: every message box, text prompt and modal form must be queued
// on it beforehand, and the test fails at the end of the scope on anything that came unscripted, differed
// from its script, or was queued and never used.
//
//   kvtest::ScriptedUi ui;
//   ui.ExpectBox("Please select atleast a single item for syncronization");
//   control.cmdNav[3].Click();
//   EXPECT_EQ(ui.Boxes()[0].buttons, platform::forms::vbInformation);

#include <gtest/gtest.h>

#include "platform/forms/presenter.h"
#include "platform/forms/scripted_presenter.h"

namespace kvtest {

class ScriptedUi : public platform::forms::ScriptedPresenter {
 public:
  ScriptedUi() : scope_(*this) {}
  ~ScriptedUi() override {
    const std::string problems = Problems();
    if (!problems.empty()) ADD_FAILURE() << "The user interface did not go as scripted:\n" << problems;
  }

 private:
  platform::forms::PresenterScope scope_;
};

}  // namespace kvtest
