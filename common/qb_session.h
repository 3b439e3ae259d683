#pragma once

// The QuickBooks session core that both controls reach QuickBooks through: the application's identity and
// opening a session on the company file a page names (the version read from it is qbxml_version.h's). Each
// control keeps its own ContactQuickBooks with the messages and module state of its own; the steps and their
// order live here once, with the one step in which the two differ named in ContactSteps.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/qbxml_version.h"
#include "platform/qb/request_processor.h"

namespace kv::qb {

// Who this system is to QuickBooks; the user grants the company file to this identity.
inline constexpr char kAppID[] = "731-5096-4482630";
inline constexpr char kAppName[] = "Pellucent";

// Both controls show this where QuickBooks is not running or begins no session.
inline constexpr char kFileNotOpenMessage[] =
    "Your Quickbooks file is not open, please open your Quickbooks file and try again.";

// The wrong-file message of both controls; both paths as they came.
std::string WrongCompanyFileMessage(std::string_view current, std::string_view expected);

// QuickBooks' "not running" answer (its description begins so) becomes kFileNotOpenMessage; any other
// description is shown as it came.
std::string ContactFailureText(const std::string& description);

// A request processor with its connection and session.
struct Session {
  std::unique_ptr<platform::qb::RequestProcessor> objRequestProcessor;
  std::string sTicket;
  bool bConnectionOpen = false;
};

enum class SessionCheck {
  kOpen,       // a session is open on the company file the page names
  kNoSession,  // QuickBooks began no session (an empty ticket, no error)
  kOtherFile,  // QuickBooks has another company file open
};

struct ContactResult {
  SessionCheck check = SessionCheck::kNoSession;
  std::string currentFile;                          // the company file open in QuickBooks, for kOtherFile's message
  QBXMLVersion versionCode = QBXMLVersion::kUS1_0;  // set for kOpen only
};

// What the two controls' ContactQuickBooks do differently; every other step is the same for both.
struct ContactSteps {
  VersionReading reading;
  // The sync marks the connection closed before it opens one, so a failed OpenConnection leaves it marked
  // closed; the download's flag keeps whatever an earlier contact left in it.
  bool clearConnectionFlagFirst;
};
inline constexpr ContactSteps kSyncContact{VersionReading::kSyncControl, true};
inline constexpr ContactSteps kDownloadContact{VersionReading::kDownloadControl, false};

// A new processor in `session` (releasing the old one ends what it had open), its connection, a session on
// the open company file, the company-file check and the version code. A failing platform call throws kv::Error
// with what the session then holds left in `session`, for the caller's error trap.
ContactResult OpenCheckedSession(Session& session, std::string_view qbFilePath, const ContactSteps& steps);

// End the session and close the connection on the way out; what fails there is QuickBooks' to clean up.
void EndSessionQuietly(Session& session);
void CloseConnectionQuietly(Session& session);

}  // namespace kv::qb
