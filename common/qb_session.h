#pragma once

// The QuickBooks session core that both controls reach QuickBooks through: the application's identity, the
// qbXML version table, and opening a session on the company file a page names. Each control keeps its own
// ContactQuickBooks with the messages and module state of its own; the steps and their order live here once.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/qb/request_processor.h"

namespace kv::qb {

// Who this system is to QuickBooks; the user grants the company file to this identity.
inline constexpr char kAppID[] = "731-5096-4482630";
inline constexpr char kAppName[] = "Pellucent";

// Both controls show this where QuickBooks is not running or begins no session.
inline constexpr char kFileNotOpenMessage[] =
    "Your Quickbooks file is not open, please open your Quickbooks file and try again.";

// How a control reads the newest version a session speaks. The two controls were taught different tables and
// the service has always received what each sends, so neither is "corrected" to the other:
//   kSyncControl      UK1.0 and UK1.1, and every text the table does not list, read as 1.0 (code 0), so a
//                     sync with such a company file sends the qbXML 1.0 header;
//   kDownloadControl  all nine versions, and an unlisted text whose leading number is above 2 read as 2.0.
enum class VersionReading { kSyncControl, kDownloadControl };

// The version code (1.0 = 0, 1.1 = 1, 2.0 = 2, CA1.0 = 6, CA1.1 = 7, CA2.0 = 8, UK1.0 = 9, UK1.1 = 10,
// UK2.0 = 11) that selects the document header of every request.
int32_t QBXMLVersionCode(std::string_view version, VersionReading reading);

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
  std::string currentFile;  // the company file open in QuickBooks, for kOtherFile's message
  int32_t versionCode = 0;  // set for kOpen only
};

// A new processor in `session` (releasing the old one ends what it had open), its connection, a session on
// the open company file, the company-file check and the version code. A failing platform call throws kv::Error
// with what the session then holds left in `session`, for the caller's error trap.
ContactResult OpenCheckedSession(Session& session, std::string_view qbFilePath, VersionReading reading);

// End the session and close the connection on the way out; what fails there is QuickBooks' to clean up.
void EndSessionQuietly(Session& session);
void CloseConnectionQuietly(Session& session);

}  // namespace kv::qb
