// Sending a control's recorded service requests again, byte for byte, for the reference that leaves the control out.

#include "bench/replay.h"

#include <curl/curl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kvbench {

std::vector<std::filesystem::path> RecordedFiles(const std::filesystem::path& data_dir) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path received = data_dir / "received";
  if (!std::filesystem::exists(received)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(received)) {
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  }
  // The numbers are zero-padded, so the names sort in order of arrival.
  std::sort(files.begin(), files.end());
  return files;
}

RecordedRequest ReadRecorded(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the recorded request " + file.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t line_end = text.find('\n');
  if (line_end == std::string::npos || text.compare(line_end, 2, "\n\n") != 0) {
    throw std::runtime_error("cannot read the recorded request " + file.string());
  }
  RecordedRequest request;
  const std::string line = text.substr(0, line_end);
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first == std::string::npos || last <= first) throw std::runtime_error("bad request line in " + file.string());
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, last - first - 1);
  request.body = text.substr(line_end + 2);
  return request;
}

struct HttpReplayer::Impl {
  std::string base;  // without the trailing "/"
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string answer;

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    static_cast<Impl*>(self)->answer.append(data, size * count);
    return size * count;
  }
};

HttpReplayer::HttpReplayer(std::string base_url) : impl_(std::make_unique<Impl>()) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (!base_url.empty() && base_url.back() == '/') base_url.pop_back();
  impl_->base = std::move(base_url);
  impl_->easy = curl_easy_init();
  if (impl_->easy == nullptr) throw std::runtime_error("cannot make a libcurl handle");
  // The same headers the controls send with their posts.
  impl_->headers = curl_slist_append(impl_->headers, "Content-Type: text/plain");
  impl_->headers = curl_slist_append(impl_->headers, "Cache-Control: no-cache");
  impl_->headers = curl_slist_append(impl_->headers, "Pragma: no-cache");
  impl_->headers = curl_slist_append(impl_->headers, "Expect:");
  curl_easy_setopt(impl_->easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(impl_->easy, CURLOPT_HTTPHEADER, impl_->headers);
  curl_easy_setopt(impl_->easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
  curl_easy_setopt(impl_->easy, CURLOPT_WRITEDATA, impl_.get());
}

HttpReplayer::~HttpReplayer() {
  curl_easy_cleanup(impl_->easy);
  curl_slist_free_all(impl_->headers);
}

bool HttpReplayer::Send(const RecordedRequest& request) {
  CURL* easy = impl_->easy;
  const std::string url = impl_->base + request.target;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  if (request.method == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  impl_->answer.clear();
  if (curl_easy_perform(easy) != CURLE_OK) return false;
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return status >= 200 && status < 300;
}

}  // namespace kvbench
