#pragma once

// The reference's unavoidable work: parsing the QuickBooks response with libxml2, and sending the requests a
// control sent, byte for byte, over one kept-alive connection with nothing around them.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kvbench {

// One request as the service stand-in recorded it (DIR/received/NNNNNN.txt).
struct RecordedRequest {
  std::string method;  // "GET" or "POST"
  std::string target;  // "/brintavel.asp?sitecode=..."
  std::string body;
};

// The recorded request files of a stand-in's data directory, in order of arrival.
std::vector<std::filesystem::path> RecordedFiles(const std::filesystem::path& data_dir);
RecordedRequest ReadRecorded(const std::filesystem::path& file);

// A bare HTTP client on libcurl: one handle, so the connection is kept between requests.
class HttpReplayer {
 public:
  // base_url: "http://127.0.0.1:PORT/"
  explicit HttpReplayer(std::string base_url);
  ~HttpReplayer();
  HttpReplayer(const HttpReplayer&) = delete;
  HttpReplayer& operator=(const HttpReplayer&) = delete;

  // Sends the request as it was recorded; true when the answer came with a 2xx status.
  bool Send(const RecordedRequest& request);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kvbench
