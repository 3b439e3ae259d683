// How the sync judges the service's answer page and an upload's outcome; kept free of forms so the fuzz target
// and tests can feed it any page.

#include "sync_control/upload_rules.h"

#include "platform/base/text.h"

namespace brintavel {

PageVerdict JudgePage(std::string_view bodyText) {
  PageVerdict verdict;
  const std::string_view trimmed = kv::TrimBlanks(bodyText);
  if (trimmed.size() < 7 || kv::ToUpperAscii(trimmed.substr(0, 7)) != "SUCCESS") return verdict;
  verdict.success = true;
  // Only a capital letter counts; a line break at the end hides the flag.
  if (trimmed.back() == 'T') {
    verdict.tasksAdded = true;
  } else if (trimmed.back() == 'P') {
    verdict.projectsAdded = true;
  }
  return verdict;
}

UploadDecision DecideUploadResult(const FormOutcome& form) {
  UploadDecision decision;
  const std::string_view answer = kv::TrimTrailingLineBreaks(form.sUploadStatus);
  if (form.bUploadStatus) {
    decision.result = kvurSuccess;
  } else if (form.bIsInterrupted) {
    decision.result = kvurProcessInterrupted;
  } else if (answer == "Error") {
    // The form could not read any answer. The run must stop as a failure, never read as a success, and the
    // critical box that follows must say why rather than show the text of some earlier failure.
    decision.result = kvurAspFailed;
    decision.showCouldNotSync = true;
    decision.serverMessage = std::string(kServiceAnsweredError);
    decision.clearUploadStatus = false;
  } else {
    decision.serverMessage = form.sUploadStatus;
    decision.result = answer == kNoDataToUpload ? kvurNoDataToUpload : kvurAspFailed;
  }
  return decision;
}

}  // namespace brintavel
