#pragma once

// The pipe protocol between an activating client and its server process. Every request and reply is one message
// of the system's framing (platform/os/message_frames.h); each value below is one field of it. A request starts
// with its kind; the server answers every request with exactly one reply, in order.
//   Create:  kind 1, text ProgID            -> Ok(object id) or Error
//   Inform:  kind 2, u32 object id, text    -> Ok(0) or Error
//   Release: kind 3, u32 object id          -> Ok(0) or Error
//   Ok: kind 0, u32 value;  Error: kind 1, i64 number, text description
// A u8, u32 or i64 field holds exactly 1, 4 or 8 bytes, little-endian; a text field holds its bytes untouched.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/message_frames.h"

namespace platform::com::wire {

enum class RequestKind : uint8_t { kCreate = 1, kInform = 2, kRelease = 3 };
enum class ReplyKind : uint8_t { kOk = 0, kError = 1 };

// A stream that is no sequence of messages, or a message that is not one of the above.
using ProtocolError = os::FrameError;
// Collects received bytes and hands out whole messages.
using FrameBuffer = os::MessageBuffer;

class Writer {
 public:
  Writer& U8(uint8_t value);
  Writer& U32(uint32_t value);
  Writer& I64(int64_t value);
  Writer& Text(std::string_view text);
  // The message, ready to send.
  std::string Frame() const;

 private:
  std::vector<std::string> fields_;
};

// Reads a message's fields in order; a missing field or one of the wrong size throws ProtocolError.
class Reader {
 public:
  explicit Reader(const os::Message& message) : message_(message) {}
  uint8_t U8();
  uint32_t U32();
  int64_t I64();
  std::string Text();
  bool AtEnd() const { return next_ == message_.size(); }

 private:
  uint64_t Number(size_t bytes);
  const os::Message& message_;
  size_t next_ = 0;
};

std::string OkReply(uint32_t value);
std::string ErrorReply(int64_t number, std::string_view description);

// Sends all bytes, waiting for room when the socket is non-blocking; false when the peer is gone.
bool SendAll(int fd, std::string_view bytes);

}  // namespace platform::com::wire
