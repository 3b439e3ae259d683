// The statement stream: UTF-8 text in, us-ascii bytes out, every other character one "?".

#include "platform/stream/text_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace platform::stream {
namespace {

constexpr const char* kInvalidArgument =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
constexpr const char* kIllegalOperation = "Operation is not allowed in this context.";
constexpr const char* kObjectClosed = "Operation is not allowed when the object is closed.";
constexpr const char* kObjectOpen = "Operation is not allowed when the object is open.";

kv::Error Fail(int64_t number, const char* text, const std::string& detail) {
  return kv::Error(number, std::string(text) + " (" + detail + ")");
}

// Length of the valid UTF-8 sequence at s (strict: no overlongs, no surrogates, nothing above U+10FFFF),
// or 0 when the byte there does not start one; *cp receives the code point.
size_t Utf8Sequence(const unsigned char* s, size_t n, uint32_t* cp) {
  unsigned char b = s[0];
  auto cont = [&](size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  if (b >= 0xC2 && b <= 0xDF && cont(1)) {
    *cp = (b & 0x1Fu) << 6 | (s[1] & 0x3Fu);
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
    if ((b == 0xE0 && s[1] < 0xA0) || (b == 0xED && s[1] > 0x9F)) return 0;
    *cp = (b & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu);
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    if ((b == 0xF0 && s[1] < 0x90) || (b == 0xF4 && s[1] > 0x8F)) return 0;
    *cp = (b & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 | (s[3] & 0x3Fu);
    return 4;
  }
  return 0;
}

// Calls emit(code point) for each character, with '?' standing in for every byte that is not valid UTF-8.
template <typename Emit>
void ForEachCodePoint(std::string_view text, Emit emit) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint32_t cp = 0;
    size_t len = Utf8Sequence(s + i, n - i, &cp);
    if (len == 0) {
      emit(uint32_t{'?'});
      ++i;
    } else {
      emit(cp);
      i += len;
    }
  }
}

bool AllAscii(std::string_view text) {
  // Eight bytes at a time: every statement of a sync passes through here.
  uint64_t high = 0;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    high |= word;
  }
  for (; i < text.size(); ++i) high |= static_cast<unsigned char>(text[i]);
  return (high & 0x8080808080808080ULL) == 0;
}

}  // namespace

void Stream::SetCharset(std::string_view charset) {
  if (!kv::EqualsIgnoreCase(charset, "us-ascii") && !kv::EqualsIgnoreCase(charset, "ascii")) {
    throw Fail(adErrInvalidArgument, kInvalidArgument, "unknown character set \"" + std::string(charset) + "\"");
  }
  RequireStart("Charset");
  charset_ = std::string(charset);
}

void Stream::SetType(StreamTypeEnum type) {
  if (type != adTypeBinary && type != adTypeText) {
    throw Fail(adErrInvalidArgument, kInvalidArgument, "stream type " + std::to_string(type));
  }
  RequireStart("Type");
  type_ = type;
}

void Stream::SetType(int32_t type) {
  SetType(static_cast<StreamTypeEnum>(type));
}

void Stream::Open() {
  if (open_) throw Fail(adErrObjectOpen, kObjectOpen, "the stream is already open");
  open_ = true;
  data_.clear();
  position_ = 0;
}

void Stream::Close() {
  RequireOpen("Close");
  open_ = false;
  std::string().swap(data_);
  position_ = 0;
}

int64_t Stream::Position() const {
  RequireOpen("Position");
  return static_cast<int64_t>(position_);
}

void Stream::SetPosition(int64_t position) {
  RequireOpen("Position");
  if (position < 0 || position > static_cast<int64_t>(data_.size())) {
    throw Fail(adErrInvalidArgument, kInvalidArgument,
               "position " + std::to_string(position) + " outside 0 to " + std::to_string(data_.size()));
  }
  position_ = static_cast<size_t>(position);
}

int64_t Stream::Size() const {
  RequireOpen("Size");
  return static_cast<int64_t>(data_.size());
}

void Stream::SetEOS() {
  RequireOpen("SetEOS");
  data_.resize(position_);
}

void Stream::Reserve(size_t bytes) {
  data_.reserve(bytes);
}

void Stream::WriteText(std::string_view text) {
  RequireOpen("WriteText");
  RequireType(adTypeText, "WriteText");
  // Statements are mostly plain ASCII: those go straight in, which keeps millions of small writes cheap.
  if (AllAscii(text)) {
    Put(text);
    return;
  }
  scratch_.clear();
  ForEachCodePoint(text, [this](uint32_t cp) { scratch_ += cp < 0x80 ? static_cast<char>(cp) : '?'; });
  Put(scratch_);
  if (scratch_.capacity() > (1u << 20)) std::string().swap(scratch_);
}

void Stream::Write(const std::vector<uint8_t>& bytes) {
  Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void Stream::Write(std::string_view bytes) {
  RequireOpen("Write");
  RequireType(adTypeBinary, "Write");
  Put(bytes);
}

std::vector<uint8_t> Stream::Read(int64_t count) {
  RequireOpen("Read");
  RequireType(adTypeBinary, "Read");
  std::string_view bytes = TakeBytes(count, "Read");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string Stream::ReadString(int64_t count) {
  RequireOpen("Read");
  RequireType(adTypeBinary, "Read");
  return std::string(TakeBytes(count, "Read"));
}

std::string Stream::TakeString() {
  RequireOpen("Read");
  RequireType(adTypeBinary, "Read");
  std::string bytes = position_ == 0 ? std::move(data_) : data_.substr(position_);
  data_.clear();
  position_ = 0;
  return bytes;
}

std::string Stream::ReadText(int64_t count) {
  RequireOpen("ReadText");
  RequireType(adTypeText, "ReadText");
  if (count < 0 && count != adReadAll) {
    throw Fail(adErrInvalidArgument, kInvalidArgument, "ReadText count " + std::to_string(count));
  }
  const size_t available = data_.size() - position_;
  const size_t n = count == adReadAll ? available : std::min(available, static_cast<size_t>(count));
  std::string out(data_, position_, n);
  // Bytes a binary write put in that are not ASCII are no characters of the stream's set.
  for (char& c : out) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  position_ += n;
  return out;
}

void Stream::RequireOpen(const char* operation) const {
  if (!open_) throw Fail(adErrObjectClosed, kObjectClosed, std::string(operation) + " on a closed stream");
}

void Stream::RequireType(StreamTypeEnum type, const char* operation) const {
  if (type_ != type) {
    throw Fail(adErrIllegalOperation, kIllegalOperation,
               std::string(operation) + " needs a " + (type == adTypeText ? "text" : "binary") +
                   " stream; this one is " + (type_ == adTypeText ? "text" : "binary"));
  }
}

void Stream::RequireStart(const char* property) const {
  if (open_ && position_ != 0) {
    throw Fail(adErrIllegalOperation, kIllegalOperation,
               std::string(property) + " can change only at position 0; the position is " + std::to_string(position_));
  }
}

void Stream::Put(std::string_view bytes) {
  if (position_ == data_.size()) {
    data_.append(bytes);
  } else {
    size_t overlap = std::min(bytes.size(), data_.size() - position_);
    data_.replace(position_, overlap, bytes);
  }
  position_ += bytes.size();
}

std::string_view Stream::TakeBytes(int64_t count, const char* operation) {
  if (count < 0 && count != adReadAll) {
    throw Fail(adErrInvalidArgument, kInvalidArgument, std::string(operation) + " count " + std::to_string(count));
  }
  size_t available = data_.size() - position_;
  size_t n = count == adReadAll ? available : std::min(available, static_cast<size_t>(count));
  std::string_view bytes(data_.data() + position_, n);
  position_ += n;
  return bytes;
}

}  // namespace platform::stream
