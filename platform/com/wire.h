#pragma once

// The pipe protocol between an activating client and its server process. Every message is one frame: a 32-bit
// little-endian length, then that many payload bytes. A request's payload starts with its kind; the server
// answers every request with exactly one reply, in order.
//   Create:  kind 1, text ProgID            -> Ok(object id) or Error
//   Inform:  kind 2, u32 object id, text    -> Ok(0) or Error
//   Release: kind 3, u32 object id          -> Ok(0) or Error
//   Ok: kind 0, u32 value;  Error: kind 1, i64 number, text description
// A text is a u32 byte count and the bytes, passed through untouched.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::com::wire {

enum class RequestKind : uint8_t { kCreate = 1, kInform = 2, kRelease = 3 };
enum class ReplyKind : uint8_t { kOk = 0, kError = 1 };

// Frames beyond this size are taken for a corrupt stream rather than allocated.
inline constexpr uint32_t kMaxFrame = 256u << 20;

class Writer {
 public:
  Writer& U8(uint8_t value);
  Writer& U32(uint32_t value);
  Writer& I64(int64_t value);
  Writer& Text(std::string_view text);
  // The payload with its length in front, ready to send.
  std::string Frame() const;

 private:
  std::string payload_;
};

// Reads a payload; a read past its end throws ProtocolError.
class Reader {
 public:
  explicit Reader(std::string_view payload) : rest_(payload) {}
  uint8_t U8();
  uint32_t U32();
  int64_t I64();
  std::string Text();
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view Take(size_t count);
  std::string_view rest_;
};

struct ProtocolError {};

// Collects received bytes and hands out complete payloads.
class FrameBuffer {
 public:
  void Append(const char* data, size_t size) { bytes_.append(data, size); }
  // The next complete payload, if one has arrived. Throws ProtocolError on an impossible length.
  std::optional<std::string> Next();

 private:
  std::string bytes_;
};

std::string OkReply(uint32_t value);
std::string ErrorReply(int64_t number, std::string_view description);

// Sends all bytes on a socket, waiting for room when it is non-blocking; false when the peer is gone.
bool SendAll(int fd, std::string_view bytes);

}  // namespace platform::com::wire
