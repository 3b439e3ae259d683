#pragma once

// The framing of every conversation over a pipe or socket between the system's processes. A message is a list of
// byte strings ("fields"): a 32-bit little-endian field count, then for each field a 64-bit little-endian byte
// count and the bytes. What the fields mean is the business of each protocol (platform/qb/standin_wire.h,
// platform/com/wire.h).
//
// Messages can be hundreds of megabytes, so fields are sent from their pieces with gathered writes and, by the
// blocking reader, read straight into their final string. The incremental reader serves event loops and
// readers with a deadline, which collect what arrives and ask for whole messages.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::os {

using Message = std::vector<std::string>;

// A field to send, made of pieces that are sent one after the other.
using FieldPieces = std::vector<std::string_view>;

// The peer is gone, the descriptor failed, or the stream is not a sequence of messages.
struct FrameError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The peer did not take or give the message's bytes before the deadline; the stream is then out of step and
// of no further use.
struct FrameTimeout : FrameError {
  using FrameError::FrameError;
};

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Far above any real message, low enough that a corrupt count cannot make us allocate the machine away.
inline constexpr uint64_t kMaxFields = uint64_t{1} << 24;
inline constexpr uint64_t kMaxFieldBytes = uint64_t{8} << 30;

// The bytes of one message, for protocols that collect or queue them before sending.
std::string EncodeMessage(const std::vector<std::string_view>& fields);

// Send one message. Never raise SIGPIPE on a socket; on a non-blocking descriptor they wait for room.
// Throw FrameError when the peer is gone or the descriptor fails.
// With a deadline, a socket's writes never block past it (FrameTimeout).
void SendMessage(int fd, const std::vector<std::string_view>& fields, Deadline deadline = std::nullopt);
void SendPieces(int fd, const std::vector<FieldPieces>& fields, Deadline deadline = std::nullopt);
// Sends bytes made by EncodeMessage (one or several messages).
void SendEncoded(int fd, std::string_view bytes);

// Reads one message, blocking; nothing when the stream ends cleanly before a message starts. Throws FrameError
// on a stream that ends inside a message or announces an impossible size, FrameTimeout when the whole message has
// not come by the deadline.
std::optional<Message> ReceiveMessage(int fd, Deadline deadline = std::nullopt);

// Collects received bytes and hands out whole messages.
class MessageBuffer {
 public:
  void Append(const char* data, size_t size) { bytes_.append(data, size); }
  // The next whole message, if one has arrived. Throws FrameError on an impossible size.
  std::optional<Message> Next();
  bool Empty() const { return bytes_.empty(); }

 private:
  std::string bytes_;
};

}  // namespace platform::os
