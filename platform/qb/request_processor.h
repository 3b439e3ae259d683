#pragma once

// The qbXML request processor interface both controls talk to QuickBooks through.

#include <optional>
#include <string>
#include <vector>

namespace platform::qb {

// Open modes of BeginSession.
inline constexpr int kOpenModeSingleUser = 0;
inline constexpr int kOpenModeMultiUser = 1;
inline constexpr int kOpenModeDoNotCare = 2;  // whichever use the file is open in

// The qbXML request processor: the one way the sync and download controls talk to QuickBooks.
// Create one with CreateRequestProcessor() (class_factory.h). Every failing call raises kv::Error with
// QuickBooks' number and description (qb_errors.h); when no company file is open (QuickBooks is not running)
// the description begins with "If QuickBooks is not running".
//
// Releasing (destroying) a processor ends its open session and closes its open connection, as releasing the
// platform's object did; it never throws.
class RequestProcessor {
 public:
  virtual ~RequestProcessor() = default;

  virtual void OpenConnection(const std::string& appID, const std::string& appName) = 0;
  // qbFileName "" means the company file open in QuickBooks. Returns the session ticket.
  virtual std::string BeginSession(const std::string& qbFileName, int openMode) = 0;
  // Full path of the company file open in QuickBooks.
  virtual std::string GetCurrentCompanyFileName(const std::string& ticket) = 0;
  // The qbXML versions the session speaks, oldest first; nothing when QuickBooks gives no list.
  virtual std::optional<std::vector<std::string>> QBXMLVersionsForSession(const std::string& ticket) = 0;
  // A qbXML request message set in, QuickBooks' response text out.
  virtual std::string ProcessRequest(const std::string& ticket, const std::string& request) = 0;
  virtual void EndSession(const std::string& ticket) = 0;
  virtual void CloseConnection() = 0;
};

}  // namespace platform::qb
