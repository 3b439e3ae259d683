#pragma once

// The conversation between the default processor or session manager (this library) and the QuickBooks stand-in
// program, which runs as "qb-standin serve" with a connected socket as its standard input and output.
//
// Each message is one message of the system's framing (platform/os/message_frames.h): a list of byte strings
// ("fields"). The client sends the operation name and its arguments; the stand-in answers every message with
// exactly one reply, in order:
//   "ok", result fields...          the call succeeded
//   "error", number, description    the call raised kv::Error(number, description); number in decimal
// Operations and their results:
//   OpenConnection appID appName              -> ok
//   BeginSession fileName openMode            -> ok ticket
//   GetCurrentCompanyFileName ticket          -> ok path
//   QBXMLVersionsForSession ticket            -> ok "list" version...  |  ok "none"
//   ProcessRequest ticket request             -> ok response
//   EndSession ticket                         -> ok
//   CloseConnection                           -> ok (the stand-in then ends)
//   GetVersion                                -> ok major minor releaseLevel releaseNumber
//   DoSubscriptionRequests requestXml         -> ok responseXml (subscription_xml.h)
// Responses can be hundreds of megabytes; the framing sends them from their pieces and reads them straight into
// their final string.

#include "platform/os/message_frames.h"

namespace platform::qb::wire {

using Message = os::Message;
using FieldPieces = os::FieldPieces;
using WireError = os::FrameError;
using WireTimeout = os::FrameTimeout;
using Deadline = os::Deadline;

// Sends one message; throws WireError when the peer is gone, WireTimeout when it takes no bytes until the deadline.
// Never raises SIGPIPE on a socket.
inline void Send(int fd, const std::vector<std::string_view>& fields, Deadline deadline = std::nullopt) {
  os::SendMessage(fd, fields, deadline);
}
inline void SendPieces(int fd, const std::vector<FieldPieces>& fields) {
  os::SendPieces(fd, fields);
}

// Reads one message; nothing when the stream ends cleanly before a message starts. Throws WireError on a stream
// that ends inside a message or announces an impossible size, WireTimeout when the message is not whole by the
// deadline.
inline std::optional<Message> Receive(int fd, Deadline deadline = std::nullopt) {
  return os::ReceiveMessage(fd, deadline);
}

}  // namespace platform::qb::wire
