#pragma once

// "qb-standin serve", the process platform/qb's request processor talks to.

namespace standins::quickbooks {

// "qb-standin serve": answers the operations of platform/qb's stand-in protocol (platform/qb/standin_wire.h)
// from one client on the given descriptors until the client closes the connection or goes away. A session's
// locks end with the process, so a client that dies never leaves a company file held. Returns the exit status.
int Serve(int in, int out);

}  // namespace standins::quickbooks
