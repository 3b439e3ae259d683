#pragma once

// The statement stream: a stream object shaped after the platform's ADO stream, as far as the system uses it.
// Text goes in through WriteText as UTF-8 and is stored as bytes of the stream's character set at once, so a
// later switch to binary and Read hands back exactly what the service receives. The service takes statements
// and status reports as US-ASCII, the one character set the stream knows: every code point above 127 becomes
// one "?" (never a look-alike ASCII letter), and each byte that is not valid UTF-8 becomes one "?" as well.
//
// Misuse fails like the platform did, with kv::Error carrying ADO's error number and its text followed by what
// exactly was wrong: reading bytes from a text stream, writing text to a binary one, changing the type or the
// character set away from position 0, using a closed stream, opening an open one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::stream {

enum StreamTypeEnum : int32_t { adTypeBinary = 1, adTypeText = 2 };
enum ObjectStateEnum : int32_t { adStateClosed = 0, adStateOpen = 1 };
inline constexpr int64_t adReadAll = -1;

// ADO's error numbers, as the system's error traps see them.
inline constexpr int64_t adErrInvalidArgument = 3001;
inline constexpr int64_t adErrIllegalOperation = 3219;
inline constexpr int64_t adErrObjectClosed = 3704;
inline constexpr int64_t adErrObjectOpen = 3705;

class Stream {
 public:
  Stream() = default;

  // "us-ascii" (also "ascii"), compared without letter case; any other name raises adErrInvalidArgument.
  // Settable while closed, or while open at position 0.
  const std::string& Charset() const { return charset_; }
  void SetCharset(std::string_view charset);

  // Settable while closed, or while open at position 0.
  StreamTypeEnum Type() const { return type_; }
  void SetType(StreamTypeEnum type);
  void SetType(int32_t type);

  ObjectStateEnum State() const { return open_ ? adStateOpen : adStateClosed; }
  // Opens empty (the platform's Open with no source). Raises when already open.
  void Open();
  // Drops the content. Raises when not open.
  void Close();

  // Byte offset; 0 to Size().
  int64_t Position() const;
  void SetPosition(int64_t position);
  int64_t Size() const;
  // Cuts the stream at the current position.
  void SetEOS();
  // Makes room for this many bytes in all, so that content of a size known beforehand is not grown by doubling
  // (and never holds its old and its new block at once). Changes nothing the stream holds.
  void Reserve(size_t bytes);

  // Text type only. Writes at the position (appending at the end, overwriting before it) and moves past what
  // was written.
  void WriteText(std::string_view text);
  // Binary type only.
  void Write(const std::vector<uint8_t>& bytes);
  void Write(std::string_view bytes);

  // Binary type only: the bytes from the position, all of them (adReadAll) or at most count; moves past them.
  std::vector<uint8_t> Read(int64_t count = adReadAll);
  // The same bytes as a string, for callers that post them as a body.
  std::string ReadString(int64_t count = adReadAll);
  // Binary type only: every byte from the position handed over, leaving the stream open, empty and at 0. From
  // position 0 nothing is copied, so a caller done with a long stream never holds its bytes twice.
  std::string TakeString();
  // Text type only: the characters from the position as UTF-8, all or at most count characters.
  std::string ReadText(int64_t count = adReadAll);

 private:
  void RequireOpen(const char* operation) const;
  void RequireType(StreamTypeEnum type, const char* operation) const;
  void RequireStart(const char* property) const;
  void Put(std::string_view bytes);
  std::string_view TakeBytes(int64_t count, const char* operation);

  std::string charset_ = "us-ascii";
  StreamTypeEnum type_ = adTypeText;
  bool open_ = false;
  std::string data_;
  size_t position_ = 0;
  std::string scratch_;  // converted text of the write in progress, kept to reuse its capacity
};

}  // namespace platform::stream
