#pragma once

// The QuickBooks conversation of the download control: the request-processor wrapper that sends one request
// over a connection and session of its own, and the routines that end the check session.

#include <string>

namespace tessarine {

class qbXMLRPWrapper {
 public:
  // Opens a connection and a session, sends the request (nothing for an empty one), ends the session and
  // closes the connection. A failure is kept in the error status; the open flags then tell what is still
  // open, so that the caller can end and close it.
  std::string QBXMLRPCall(const std::string& requestXML);
  bool GetErrorStatus() const { return bRPError; }
  const std::string& GetqbXMLMsg() const { return sRPErrorText; }
  // Whether the request was handed to QuickBooks: after that, a failure leaves unknown what QuickBooks did.
  bool Reached() const { return bReached; }

 private:
  bool bRPError = false;
  bool bReached = false;
  std::string sRPErrorText;
};

// End the check session, then close its connection (in that order); errors are ignored, since both run on
// the way out.
void EndQBSession();
void CloseQBConnection();

}  // namespace tessarine
