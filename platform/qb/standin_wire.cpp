#include "platform/qb/standin_wire.h"

#include <errno.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

namespace platform::qb::wire {

namespace {

// Far above any real message, low enough that a corrupt count cannot make us allocate the machine away.
constexpr uint32_t kMaxFields = 1u << 24;
constexpr uint64_t kMaxFieldBytes = uint64_t{8} << 30;

void PutU32(char* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
void PutU64(char* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
uint64_t GetLE(const unsigned char* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

// Gathered write of every piece, resuming after partial writes.
void WriteAll(int fd, std::vector<iovec>& iov) {
  size_t first = 0;
  bool socket = true;
  while (first < iov.size()) {
    if (iov[first].iov_len == 0) {
      ++first;
      continue;
    }
    int count = static_cast<int>(std::min<size_t>(iov.size() - first, IOV_MAX));
    ssize_t written;
    if (socket) {
      msghdr msg{};
      msg.msg_iov = &iov[first];
      msg.msg_iovlen = static_cast<size_t>(count);
      written = sendmsg(fd, &msg, MSG_NOSIGNAL);
      if (written < 0 && errno == ENOTSOCK) {
        socket = false;
        continue;
      }
    } else {
      written = writev(fd, &iov[first], count);
    }
    if (written < 0) {
      if (errno == EINTR) continue;
      throw WireError(std::string("cannot send to QuickBooks: ") + std::strerror(errno));
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

// Reads exactly size bytes; false when the stream ended before the first byte and allowEnd is set.
bool ReadExactly(int fd, char* out, size_t size, bool allowEnd) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = read(fd, out + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw WireError(std::string("cannot read from QuickBooks: ") + std::strerror(errno));
    }
    if (got == 0) {
      if (done == 0 && allowEnd) return false;
      throw WireError("QuickBooks ended the conversation in the middle of a message");
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

void SendPieces(int fd, const std::vector<FieldPieces>& fields) {
  std::string headers(4 + 8 * fields.size(), '\0');
  PutU32(headers.data(), static_cast<uint32_t>(fields.size()));
  std::vector<iovec> iov;
  size_t pieceCount = 1;
  for (const FieldPieces& field : fields) pieceCount += 1 + field.size();
  iov.reserve(pieceCount);
  iov.push_back({headers.data(), 4});
  for (size_t i = 0; i < fields.size(); ++i) {
    uint64_t size = 0;
    for (std::string_view piece : fields[i]) size += piece.size();
    char* header = headers.data() + 4 + 8 * i;
    PutU64(header, size);
    iov.push_back({header, 8});
    for (std::string_view piece : fields[i]) {
      if (!piece.empty()) iov.push_back({const_cast<char*>(piece.data()), piece.size()});
    }
  }
  WriteAll(fd, iov);
}

void Send(int fd, const std::vector<std::string_view>& fields) {
  std::vector<FieldPieces> pieces;
  pieces.reserve(fields.size());
  for (std::string_view field : fields) pieces.push_back({field});
  SendPieces(fd, pieces);
}

std::optional<Message> Receive(int fd) {
  unsigned char countBytes[4];
  if (!ReadExactly(fd, reinterpret_cast<char*>(countBytes), 4, true)) return std::nullopt;
  uint64_t count = GetLE(countBytes, 4);
  if (count > kMaxFields) throw WireError("QuickBooks sent a message of impossible size");
  Message message;
  message.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    unsigned char sizeBytes[8];
    ReadExactly(fd, reinterpret_cast<char*>(sizeBytes), 8, false);
    uint64_t size = GetLE(sizeBytes, 8);
    if (size > kMaxFieldBytes) throw WireError("QuickBooks sent a message of impossible size");
    std::string& field = message.emplace_back();
    field.reserve(static_cast<size_t>(size));
    // Answers reach hundreds of megabytes; huge pages make filling such a buffer several times faster.
    if (size >= (uint64_t{4} << 20)) {
      uintptr_t begin = (reinterpret_cast<uintptr_t>(field.data()) + 4095) & ~uintptr_t{4095};
      uintptr_t end = (reinterpret_cast<uintptr_t>(field.data()) + size) & ~uintptr_t{4095};
      if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    field.resize(static_cast<size_t>(size));
    ReadExactly(fd, field.data(), field.size(), false);
  }
  return message;
}

}  // namespace platform::qb::wire
