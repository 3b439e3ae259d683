#pragma once

// The interface an out-of-process object offers its client, apart so servers and clients need nothing else.

#include <string>

namespace platform::com {

// An object a client can create in another process and call: the one operation of the QuickBooks event
// callback interface. platform/qb names it IQBEventCallback. The server's object is created by its class
// factory (its constructor is the class's Initialize) and destroyed when the client releases it (Terminate).
// Throwing kv::Error from inform returns that number and description to the client as the call's failure.
class IEventCallback {
 public:
  virtual ~IEventCallback() = default;
  virtual void inform(const std::string& eventXML) = 0;
};

}  // namespace platform::com
