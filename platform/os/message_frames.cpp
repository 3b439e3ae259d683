// The framing of the pipe protocols: length-prefixed messages written and read whole.

#include "platform/os/message_frames.h"

#include <limits.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::os {
namespace {

constexpr size_t kCountBytes = 4;
constexpr size_t kSizeBytes = 8;

void PutLE(char* out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint64_t GetLE(const char* in, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

[[noreturn]] void Fail(const char* what, int error) {
  throw FrameError(std::string(what) + ": " + std::strerror(error));
}

// Polls for the events until the deadline (for ever without one); FrameTimeout when it passes first.
short PollUntil(int fd, short events, const Deadline& deadline, const char* what) {
  pollfd p{fd, events, 0};
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
    }
    const int ready = poll(&p, 1, timeout);
    if (ready > 0) return p.revents;
    if (ready == 0 && timeout >= 0 && std::chrono::steady_clock::now() >= *deadline) {
      throw FrameTimeout(std::string(what) + ": no answer in time");
    }
    if (ready < 0 && errno != EINTR) Fail(what, errno);
  }
}

void WaitForRoom(int fd, const Deadline& deadline) {
  const short revents = PollUntil(fd, POLLOUT, deadline, "cannot send");
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) throw FrameError("cannot send: the peer is gone");
}

// Gathered write of every piece, resuming after partial writes.
void WriteAll(int fd, std::vector<iovec>& iov, const Deadline& deadline) {
  size_t first = 0;
  bool socket = true;
  while (first < iov.size()) {
    if (iov[first].iov_len == 0) {
      ++first;
      continue;
    }
    const size_t count = std::min<size_t>(iov.size() - first, IOV_MAX);
    ssize_t written;
    if (socket) {
      msghdr msg{};
      msg.msg_iov = &iov[first];
      msg.msg_iovlen = count;
      // With a deadline a write takes what fits and the rest waits for room, so no write blocks past it.
      written = sendmsg(fd, &msg, MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0));
      if (written < 0 && errno == ENOTSOCK) {
        socket = false;
        continue;
      }
    } else {
      written = writev(fd, &iov[first], static_cast<int>(count));
    }
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitForRoom(fd, deadline);
        continue;
      }
      Fail("cannot send", errno);
    }
    size_t left = static_cast<size_t>(written);
    while (left > 0 && first < iov.size()) {
      if (left >= iov[first].iov_len) {
        left -= iov[first].iov_len;
        ++first;
      } else {
        iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
        iov[first].iov_len -= left;
        left = 0;
      }
    }
  }
}

// Reads exactly size bytes; false when the stream ended before the first byte and an end is allowed there.
bool ReadExactly(int fd, char* out, size_t size, bool end_allowed, const Deadline& deadline) {
  size_t done = 0;
  while (done < size) {
    if (deadline) PollUntil(fd, POLLIN, deadline, "cannot read");
    const ssize_t got = read(fd, out + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail("cannot read", errno);
    }
    if (got == 0) {
      if (done == 0 && end_allowed) return false;
      throw FrameError("the peer ended the conversation in the middle of a message");
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

void CheckCount(uint64_t count) {
  if (count > kMaxFields) throw FrameError("the peer sent a message of impossible size");
}

void CheckSize(uint64_t size) {
  if (size > kMaxFieldBytes) throw FrameError("the peer sent a message of impossible size");
}

}  // namespace

std::string EncodeMessage(const std::vector<std::string_view>& fields) {
  size_t total = kCountBytes;
  for (std::string_view field : fields) total += kSizeBytes + field.size();
  std::string bytes(total, '\0');
  char* at = bytes.data();
  PutLE(at, fields.size(), kCountBytes);
  at += kCountBytes;
  for (std::string_view field : fields) {
    PutLE(at, field.size(), kSizeBytes);
    at += kSizeBytes;
    if (!field.empty()) std::memcpy(at, field.data(), field.size());
    at += field.size();
  }
  return bytes;
}

void SendPieces(int fd, const std::vector<FieldPieces>& fields, Deadline deadline) {
  std::string headers(kCountBytes + kSizeBytes * fields.size(), '\0');
  PutLE(headers.data(), fields.size(), kCountBytes);
  std::vector<iovec> iov;
  size_t piece_count = 1;
  for (const FieldPieces& field : fields) piece_count += 1 + field.size();
  iov.reserve(piece_count);
  iov.push_back({headers.data(), kCountBytes});
  for (size_t i = 0; i < fields.size(); ++i) {
    uint64_t size = 0;
    for (std::string_view piece : fields[i]) size += piece.size();
    char* header = headers.data() + kCountBytes + kSizeBytes * i;
    PutLE(header, size, kSizeBytes);
    iov.push_back({header, kSizeBytes});
    for (std::string_view piece : fields[i]) {
      if (!piece.empty()) iov.push_back({const_cast<char*>(piece.data()), piece.size()});
    }
  }
  WriteAll(fd, iov, deadline);
}

void SendMessage(int fd, const std::vector<std::string_view>& fields, Deadline deadline) {
  std::vector<FieldPieces> pieces;
  pieces.reserve(fields.size());
  for (std::string_view field : fields) pieces.push_back({field});
  SendPieces(fd, pieces, deadline);
}

void SendEncoded(int fd, std::string_view bytes) {
  std::vector<iovec> iov{{const_cast<char*>(bytes.data()), bytes.size()}};
  WriteAll(fd, iov, std::nullopt);
}

std::optional<Message> ReceiveMessage(int fd, Deadline deadline) {
  char count_bytes[kCountBytes];
  if (!ReadExactly(fd, count_bytes, kCountBytes, true, deadline)) return std::nullopt;
  const uint64_t count = GetLE(count_bytes, kCountBytes);
  CheckCount(count);
  Message message;
  message.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    char size_bytes[kSizeBytes];
    ReadExactly(fd, size_bytes, kSizeBytes, false, deadline);
    const uint64_t size = GetLE(size_bytes, kSizeBytes);
    CheckSize(size);
    std::string& field = message.emplace_back();
    field.reserve(static_cast<size_t>(size));
    // Answers reach hundreds of megabytes; huge pages make filling such a buffer several times faster.
    if (size >= (uint64_t{4} << 20)) {
      const uintptr_t begin = (reinterpret_cast<uintptr_t>(field.data()) + 4095) & ~uintptr_t{4095};
      const uintptr_t end = (reinterpret_cast<uintptr_t>(field.data()) + size) & ~uintptr_t{4095};
      if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    field.resize(static_cast<size_t>(size));
    ReadExactly(fd, field.data(), field.size(), false, deadline);
  }
  return message;
}

std::optional<Message> MessageBuffer::Next() {
  // Walks the headers first; fields are copied out only once the whole message is there.
  if (bytes_.size() < kCountBytes) return std::nullopt;
  const uint64_t count = GetLE(bytes_.data(), kCountBytes);
  CheckCount(count);
  size_t at = kCountBytes;
  for (uint64_t i = 0; i < count; ++i) {
    if (bytes_.size() - at < kSizeBytes) return std::nullopt;
    const uint64_t size = GetLE(bytes_.data() + at, kSizeBytes);
    CheckSize(size);
    at += kSizeBytes;
    if (bytes_.size() - at < size) return std::nullopt;
    at += static_cast<size_t>(size);
  }
  Message message;
  message.reserve(static_cast<size_t>(count));
  size_t read_at = kCountBytes;
  for (uint64_t i = 0; i < count; ++i) {
    const size_t size = static_cast<size_t>(GetLE(bytes_.data() + read_at, kSizeBytes));
    read_at += kSizeBytes;
    message.emplace_back(bytes_, read_at, size);
    read_at += size;
  }
  bytes_.erase(0, at);
  return message;
}

}  // namespace platform::os
