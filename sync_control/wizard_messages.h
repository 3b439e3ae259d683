#pragma once

// The wizard's summary message, built from plain inputs so tests can check its every wording.

#include <cstdint>
#include <string>
#include <string_view>

namespace brintavel {

inline constexpr std::string_view kHelpMessage =
    "This wizard helps you sync your QB data with the Kalvor.\r\nYou can either select all the entities for sync or "
    "select one by one depending upon the requirement and hit the 'Start Sync' button.";

// What the closing summary of a run is made from.
struct SummaryInput {
  std::string empWord, custWord, projWord, itemWord;
  int32_t failedEmp = 0, failedCust = 0, failedProj = 0, failedClass = 0, failedGL = 0, failedItem = 0, failedTime = 0,
          failedExp = 0, failedVend = 0;
  bool timeWarning = false;
  bool expenseWarning = false;
  bool tasksAdded = false;
  bool projectsAdded = false;
};

std::string BuildSummaryMessage(const SummaryInput& in);
// The note on billable time for the word of what was added.
std::string BillableNote(std::string_view word);

}  // namespace brintavel
