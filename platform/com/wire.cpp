#include "platform/com/wire.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform::com::wire {

Writer& Writer::U8(uint8_t value) {
  payload_.push_back(static_cast<char>(value));
  return *this;
}

Writer& Writer::U32(uint32_t value) {
  for (int i = 0; i < 4; ++i) payload_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return *this;
}

Writer& Writer::I64(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) payload_.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
  return *this;
}

Writer& Writer::Text(std::string_view text) {
  U32(static_cast<uint32_t>(text.size()));
  payload_.append(text);
  return *this;
}

std::string Writer::Frame() const {
  Writer frame;
  frame.U32(static_cast<uint32_t>(payload_.size()));
  return frame.payload_ + payload_;
}

std::string_view Reader::Take(size_t count) {
  if (count > rest_.size()) throw ProtocolError{};
  std::string_view taken = rest_.substr(0, count);
  rest_.remove_prefix(count);
  return taken;
}

uint8_t Reader::U8() {
  return static_cast<uint8_t>(Take(1)[0]);
}

uint32_t Reader::U32() {
  const std::string_view b = Take(4);
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(b[i])) << (8 * i);
  return value;
}

int64_t Reader::I64() {
  const std::string_view b = Take(8);
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(static_cast<uint8_t>(b[i])) << (8 * i);
  return static_cast<int64_t>(value);
}

std::string Reader::Text() {
  const uint32_t size = U32();
  return std::string(Take(size));
}

std::optional<std::string> FrameBuffer::Next() {
  if (bytes_.size() < 4) return std::nullopt;
  const uint32_t size = Reader(std::string_view(bytes_).substr(0, 4)).U32();
  if (size > kMaxFrame) throw ProtocolError{};
  if (bytes_.size() - 4 < size) return std::nullopt;
  std::string payload = bytes_.substr(4, size);
  bytes_.erase(0, 4 + static_cast<size_t>(size));
  return payload;
}

std::string OkReply(uint32_t value) {
  return Writer().U8(static_cast<uint8_t>(ReplyKind::kOk)).U32(value).Frame();
}

std::string ErrorReply(int64_t number, std::string_view description) {
  return Writer().U8(static_cast<uint8_t>(ReplyKind::kError)).I64(number).Text(description).Frame();
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
  return true;
}

}  // namespace platform::com::wire
