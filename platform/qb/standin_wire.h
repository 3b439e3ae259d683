#pragma once

// The conversation between the default processor or session manager (this library) and the QuickBooks stand-in
// program, which runs as "qb-standin serve" with a connected socket as its standard input and output.
//
// A message is a list of byte strings ("fields"): a 32-bit little-endian field count, then for each field a
// 64-bit little-endian byte count and the bytes. The client sends the operation name and its arguments; the
// stand-in answers every message with exactly one reply, in order:
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
// Responses can be hundreds of megabytes, so fields are sent from their pieces with gathered writes and read
// straight into their final string.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::qb::wire {

using Message = std::vector<std::string>;

// A field to send, made of pieces that are sent one after the other.
using FieldPieces = std::vector<std::string_view>;

struct WireError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Sends one message. Throws WireError when the peer is gone or the descriptor fails. Never raises SIGPIPE on a
// socket.
void Send(int fd, const std::vector<std::string_view>& fields);
void SendPieces(int fd, const std::vector<FieldPieces>& fields);

// Reads one message; nothing when the stream ends cleanly before a message starts. Throws WireError on a
// stream that ends inside a message or announces an impossible size.
std::optional<Message> Receive(int fd);

}  // namespace platform::qb::wire
