#pragma once

// The session manager interface the menu agent subscribes its menu through.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/qb/subscription.h"

namespace platform::qb {

// The version of the QuickBooks integration library (GetVersion's four out values).
struct QBVersion {
  int16_t major = 0;
  int16_t minor = 0;
  int16_t releaseLevel = 0;
  int16_t releaseNumber = 0;
};

// The QuickBooks session manager of the integration library, used by the menu agent. Create one with
// CreateSessionManager() (class_factory.h). Failing calls raise kv::Error with QuickBooks' number and
// description (qb_errors.h); when no company file is open, BeginSession raises kErrQBNotRunning and its
// description begins with "If QuickBooks is not running".
//
// Subscription requests need a connection but no session with a company file.
// Releasing (destroying) a session manager ends its open session and closes its open connection; it never
// throws.
class QBSessionManager {
 public:
  virtual ~QBSessionManager() = default;

  virtual void GetVersion(int16_t& major, int16_t& minor, int16_t& releaseLevel, int16_t& releaseNumber) = 0;
  virtual void OpenConnection(const std::string& appID, const std::string& appName) = 0;
  // fileName "" means the company file open in QuickBooks; openMode as in request_processor.h.
  virtual void BeginSession(const std::string& fileName, int openMode) = 0;
  virtual std::string GetCurrentCompanyFileName() = 0;
  virtual void EndSession() = 0;
  virtual void CloseConnection() = 0;
  // A new, empty request set for qbXML version major.minor; nothing when the library gives none.
  virtual std::unique_ptr<SubscriptionMsgSetRequest> CreateSubscriptionMsgSetRequest(int16_t major, int16_t minor) = 0;
  // Sends the set; one response per request, in order. Nothing when QuickBooks gives no response set.
  virtual std::unique_ptr<SubscriptionMsgSetResponse> DoSubscriptionRequests(
      const SubscriptionMsgSetRequest& requests) = 0;
};

}  // namespace platform::qb
