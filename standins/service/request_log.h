#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standins::service {

// The record of every request, in DIR/received/:
//   000001.txt       the request line ("POST /brintavel.asp?sitecode=A HTTP/1.1"), LF, an empty line (LF),
//                    then the body bytes exactly as they arrived
//   000001.headers   the request's headers, "Name: value" LF each
// Numbers follow the order of arrival and go on from the highest number already there. Each file appears whole:
// it is written under a temporary name and renamed.
class RequestLog {
 public:
  explicit RequestLog(std::filesystem::path dir);

  // Returns the number given to the request.
  uint64_t Record(std::string_view request_line, const std::vector<std::pair<std::string, std::string>>& headers,
                  std::string_view body);

 private:
  std::filesystem::path dir_;
  std::atomic<uint64_t> next_;
};

}  // namespace standins::service
