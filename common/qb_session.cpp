// The steps both controls' ContactQuickBooks share, and the quiet ending of a session and its connection.

#include "common/qb_session.h"

#include <exception>
#include <utility>

#include "common/file_identity.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"

namespace kv::qb {
std::string WrongCompanyFileMessage(std::string_view current, std::string_view expected) {
  std::string message = "Your Current Quickbooks file '";
  message += current;
  message += "' does not match with the QB file you are using with Kalvor '";
  message += expected;
  message += "'. \r\nPlease open the correct Quickbooks file and try again.";
  return message;
}

std::string ContactFailureText(const std::string& description) {
  return description.starts_with(platform::qb::kNotRunningText) ? std::string(kFileNotOpenMessage) : description;
}

ContactResult OpenCheckedSession(Session& session, std::string_view qbFilePath, const ContactSteps& steps) {
  session.sTicket.clear();
  if (steps.clearConnectionFlagFirst) session.bConnectionOpen = false;
  session.objRequestProcessor = platform::qb::CreateRequestProcessor();
  session.objRequestProcessor->OpenConnection(kAppID, kAppName);
  session.bConnectionOpen = true;
  session.sTicket = session.objRequestProcessor->BeginSession("", platform::qb::kOpenModeDoNotCare);
  ContactResult result;
  if (session.sTicket.empty()) return result;

  result.currentFile = session.objRequestProcessor->GetCurrentCompanyFileName(session.sTicket);
  if (!kv::SameFile(result.currentFile, qbFilePath)) {
    result.check = SessionCheck::kOtherFile;
    return result;
  }
  // Only the newest version counts; no list, or an empty one, means the oldest header.
  const auto versions = session.objRequestProcessor->QBXMLVersionsForSession(session.sTicket);
  result.versionCode =
      versions && !versions->empty() ? ReadQBXMLVersion(versions->back(), steps.reading) : QBXMLVersion::kUS1_0;
  result.check = SessionCheck::kOpen;
  return result;
}

void EndSessionQuietly(Session& session) {
  if (session.sTicket.empty() || !session.objRequestProcessor || !session.bConnectionOpen) return;
  try {
    session.objRequestProcessor->EndSession(session.sTicket);
  } catch (const std::exception&) {
  }
  session.sTicket.clear();
}

void CloseConnectionQuietly(Session& session) {
  if (!session.objRequestProcessor || !session.bConnectionOpen) return;
  try {
    session.objRequestProcessor->CloseConnection();
  } catch (const std::exception&) {
  }
  session.bConnectionOpen = false;
  session.objRequestProcessor.reset();
}

}  // namespace kv::qb
