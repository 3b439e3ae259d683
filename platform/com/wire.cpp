// The byte layout of the activation messages: little-endian numbers and length-prefixed texts.

#include "platform/com/wire.h"

namespace platform::com::wire {
namespace {

std::string LittleEndian(uint64_t value, size_t bytes) {
  std::string field(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) field[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return field;
}

}  // namespace

Writer& Writer::U8(uint8_t value) {
  fields_.push_back(LittleEndian(value, 1));
  return *this;
}

Writer& Writer::U32(uint32_t value) {
  fields_.push_back(LittleEndian(value, 4));
  return *this;
}

Writer& Writer::I64(int64_t value) {
  fields_.push_back(LittleEndian(static_cast<uint64_t>(value), 8));
  return *this;
}

Writer& Writer::Text(std::string_view text) {
  fields_.emplace_back(text);
  return *this;
}

std::string Writer::Frame() const {
  return os::EncodeMessage(std::vector<std::string_view>(fields_.begin(), fields_.end()));
}

uint64_t Reader::Number(size_t bytes) {
  if (next_ >= message_.size() || message_[next_].size() != bytes) throw ProtocolError("a malformed message");
  const std::string& field = message_[next_++];
  uint64_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(field[i]);
  return value;
}

uint8_t Reader::U8() {
  return static_cast<uint8_t>(Number(1));
}

uint32_t Reader::U32() {
  return static_cast<uint32_t>(Number(4));
}

int64_t Reader::I64() {
  return static_cast<int64_t>(Number(8));
}

std::string Reader::Text() {
  if (next_ >= message_.size()) throw ProtocolError("a malformed message");
  return message_[next_++];
}

std::string OkReply(uint32_t value) {
  return Writer().U8(static_cast<uint8_t>(ReplyKind::kOk)).U32(value).Frame();
}

std::string ErrorReply(int64_t number, std::string_view description) {
  return Writer().U8(static_cast<uint8_t>(ReplyKind::kError)).I64(number).Text(description).Frame();
}

bool SendAll(int fd, std::string_view bytes) {
  try {
    os::SendEncoded(fd, bytes);
    return true;
  } catch (const os::FrameError&) {
    return false;
  }
}

}  // namespace platform::com::wire
