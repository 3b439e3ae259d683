#pragma once

// Where the service stand-in records the requests it receives: the interface the server records through, and the
// record in the data directory that the program and the tests that read the directory use.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standins::service {

using RecordedHeaders = std::vector<std::pair<std::string, std::string>>;

// What the server hands every request it receives to, once. Called from the server's worker threads at once.
class RequestRecorder {
 public:
  virtual ~RequestRecorder() = default;
  // Returns the number given to the request.
  virtual uint64_t Record(std::string_view request_line, const RecordedHeaders& headers, std::string_view body) = 0;
};

// The record of every request, in DIR/received/:
//   000001.txt       the request line ("POST /brintavel.asp?sitecode=A HTTP/1.1"), LF, an empty line (LF),
//                    then the body bytes exactly as they arrived
//   000001.headers   the request's headers, "Name: value" LF each
// Numbers follow the order of arrival and go on from the highest number already there. Each file appears whole:
// it is written under a temporary name and renamed.
class RequestLog : public RequestRecorder {
 public:
  explicit RequestLog(std::filesystem::path dir);

  uint64_t Record(std::string_view request_line, const RecordedHeaders& headers, std::string_view body) override;

 private:
  std::filesystem::path dir_;
  std::atomic<uint64_t> next_;
};

}  // namespace standins::service
