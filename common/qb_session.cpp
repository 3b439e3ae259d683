#include "common/qb_session.h"

#include <array>
#include <exception>
#include <utility>

#include "common/file_identity.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"

namespace kv::qb {
int32_t QBXMLVersionCode(std::string_view version, VersionReading reading) {
  static constexpr std::array<std::pair<std::string_view, int32_t>, 9> kCodes = {{
      {"1.0", 0},
      {"1.1", 1},
      {"2.0", 2},
      {"CA1.0", 6},
      {"CA1.1", 7},
      {"CA2.0", 8},
      {"UK1.0", 9},
      {"UK1.1", 10},
      {"UK2.0", 11},
  }};
  const bool sync = reading == VersionReading::kSyncControl;
  for (const auto& [text, code] : kCodes) {
    if (version != text) continue;
    return sync && (code == 9 || code == 10) ? 0 : code;
  }
  if (sync) return 0;
  try {
    return kv::LeadingNumber(version) > 2 ? 2 : 0;
  } catch (const kv::Error&) {
    return 2;  // a number too large for a double is a later version all the same
  }
}

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

ContactResult OpenCheckedSession(Session& session, std::string_view qbFilePath, VersionReading reading) {
  session.sTicket.clear();
  session.bConnectionOpen = false;
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
  result.versionCode = versions && !versions->empty() ? QBXMLVersionCode(versions->back(), reading) : 0;
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
