#pragma once

// How the upload form and the transport read the service's answers. Kept apart from the form and the browser so
// that the rules can be checked on their own.

#include <optional>
#include <string>
#include <string_view>

#include "common/utility_result.h"

namespace brintavel {

// The service's answer to an upload or status request, as the page judge reads it. A success begins with
// "SUCCESS" in any letter case after leading blanks; a last letter "T" or "P" says tasks or projects were added.
struct PageVerdict {
  bool success = false;
  bool tasksAdded = false;
  bool projectsAdded = false;
};
PageVerdict JudgePage(std::string_view bodyText);

// What the form holds after a wait ended.
struct FormOutcome {
  bool bUploadStatus = false;
  bool bIsInterrupted = false;
  std::string sUploadStatus;
};

// How the transport turns that into a result.
struct UploadDecision {
  PLKVUtilityResult result = kvurSuccess;
  // The information box "Could not sync QB's data with Kalvor. Please try later." is due.
  bool showCouldNotSync = false;
  // The new sServerMessage, when it changes.
  std::optional<std::string> serverMessage;
  // Whether the form's success flag is to be cleared (every row except the unreadable answer).
  bool clearUploadStatus = true;
};
UploadDecision DecideUploadResult(const FormOutcome& form);

inline constexpr std::string_view kCouldNotSyncMessage = "Could not sync QB's data with Kalvor. Please try later.";
// What the run's critical box says after the answer "Error".
inline constexpr std::string_view kServiceAnsweredError = "The Kalvor service answered \"Error\".";
// The one answer that means the service found nothing to take; the trailing blank is part of it.
inline constexpr std::string_view kNoDataToUpload = "No data to upload. ";

}  // namespace brintavel
