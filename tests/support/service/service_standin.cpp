// A service stand-in process of its own for one test: started on a free port, its records and answers read
// and scripted through its data folder.

#include "tests/support/service/service_standin.h"

#include <poll.h>
#include <unistd.h>

#include <curl/curl.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/base/text.h"
#include "platform/os/atomic_file.h"
#include "platform/os/process.h"

namespace kv::test {
namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

fs::path MakeTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kv-standin-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  return pattern;
}

// Reads the stand-in's first line of output.
std::string ReadFirstLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("kalvor-standin printed no address in time");
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("kalvor-standin ended before printing its address");
    line.append(buffer, static_cast<size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

uint64_t HighestQueued(const fs::path& dir, const std::string& page) {
  uint64_t highest = 0;
  std::error_code ec;
  const std::string prefix = kv::ToLowerAscii(page) + ".";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = kv::ToLowerAscii(it->path().filename().string());
    if (!name.starts_with(prefix)) continue;
    name = name.substr(prefix.size());
    if (name.ends_with(".used")) name.resize(name.size() - 5);
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    highest = std::max<uint64_t>(highest, std::stoull(name));
  }
  return highest;
}

}  // namespace

fs::path BuildProgram(const std::string& name) {
  if (const char* bin = std::getenv("KV_BUILD_BIN"); bin != nullptr && *bin != '\0') return fs::path(bin) / name;
  return fs::path(KV_DEFAULT_BUILD_BIN) / name;
}

std::string TestCertificate() {
  return std::string(KV_TEST_SUPPORT_DIR) + "/test_cert.pem";
}
std::string TestCertificateKey() {
  return std::string(KV_TEST_SUPPORT_DIR) + "/test_key.pem";
}

std::string ReceivedRequest::Page() const {
  std::string path = target.substr(0, target.find('?'));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// libcurl's decoding: "+" stays "+", and a "%" without two hex digits after it stays as it is.
std::string Unescaped(std::string_view text) {
  if (text.empty()) return {};  // a length of 0 would have libcurl measure the text up to its NUL
  int length = 0;
  char* decoded = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
  if (decoded == nullptr) throw std::runtime_error("cannot decode the query text " + std::string(text));
  std::string result(decoded, static_cast<size_t>(length));
  curl_free(decoded);
  return result;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ReceivedRequest::Query() const {
  const size_t mark = target.find('?');
  if (mark == std::string::npos) return {};
  std::string_view query = std::string_view(target).substr(mark + 1);
  query = query.substr(0, query.find('#'));
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!query.empty()) {
    const std::string_view item = query.substr(0, query.find('&'));
    const size_t eq = item.find('=');
    pairs.emplace_back(Unescaped(item.substr(0, eq)),
                       eq == std::string_view::npos ? "" : Unescaped(item.substr(eq + 1)));
    query.remove_prefix(std::min(item.size() + 1, query.size()));
  }
  return pairs;
}

std::string ReceivedRequest::QueryValue(std::string_view key) const {
  for (const auto& [name, value] : Query()) {
    if (name == key) return value;
  }
  return {};
}

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (kv::EqualsIgnoreCase(key, name)) return value;
  }
  return {};
}

ServiceStandinProcess::ServiceStandinProcess(std::vector<std::string> extra_args)
    : data_dir_(MakeTempDir()), extra_args_(std::move(extra_args)) {
  Start();
}

void ServiceStandinProcess::Restart() {
  Stop();
  Start();
}

void ServiceStandinProcess::Start() {
  platform::os::Launch launch;
  launch.argv = {BuildProgram("kalvor-standin").string(), "--data", data_dir_.string(), "--port", "0"};
  launch.argv.insert(launch.argv.end(), extra_args_.begin(), extra_args_.end());
  launch.out = platform::os::Redirect::Pipe();
  // A test that dies must not leave its stand-in behind.
  launch.end_with_parent = true;
  try {
    process_ = platform::os::Process::Start(launch);
    base_url_ = ReadFirstLine(process_.StdoutFd(), kEventWait);
    const size_t colon = base_url_.rfind(':');
    port_ = std::atoi(base_url_.c_str() + colon + 1);
  } catch (...) {
    Stop();
    fs::remove_all(data_dir_);
    throw;
  }
}

ServiceStandinProcess::~ServiceStandinProcess() {
  Stop();
  std::error_code ec;
  if (std::getenv("KV_KEEP_TEST_DATA") == nullptr) fs::remove_all(data_dir_, ec);
}

void ServiceStandinProcess::Stop() {
  if (process_.Running()) process_.Stop(SIGTERM, std::chrono::seconds(5));
  process_ = platform::os::Process();
}

void ServiceStandinProcess::WriteFile(const std::string& relative, std::string_view content) const {
  const fs::path path = data_dir_ / relative;
  fs::create_directories(path.parent_path());
  platform::os::ReplaceFileAtomically(path, content, 0644, platform::os::Flush::kNone);
}

void ServiceStandinProcess::RemoveFile(const std::string& relative) const {
  std::error_code ec;
  fs::remove(data_dir_ / relative, ec);
}

void ServiceStandinProcess::SetAnswer(const std::string& page, std::string_view text) const {
  WriteFile("answers/" + page, text);
}

void ServiceStandinProcess::QueueAnswers(const std::string& page, const std::vector<std::string>& texts) const {
  fs::create_directories(data_dir_ / "answers");
  uint64_t number = HighestQueued(data_dir_ / "answers", page);
  for (const std::string& text : texts) WriteFile("answers/" + page + "." + std::to_string(++number), text);
}

void ServiceStandinProcess::SetFault(const std::string& page, std::string_view instructions) const {
  WriteFile("faults/" + page, instructions);
}

void ServiceStandinProcess::ClearFault(const std::string& page) const {
  RemoveFile("faults/" + page);
}

std::vector<ReceivedRequest> ServiceStandinProcess::Received() const {
  std::vector<ReceivedRequest> requests;
  std::error_code ec;
  for (fs::directory_iterator it(data_dir_ / "received", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.ends_with(".txt") || name.starts_with(".")) continue;
    const std::string text = ReadWhole(it->path());
    ReceivedRequest request;
    request.number = std::stoull(name.substr(0, name.size() - 4));
    const size_t end_of_line = text.find('\n');
    const std::vector<std::string> parts = kv::Split(text.substr(0, end_of_line), " ");
    if (parts.size() == 3) {
      request.method = parts[0];
      request.target = parts[1];
      request.version = parts[2];
    }
    if (end_of_line != std::string::npos && end_of_line + 2 <= text.size()) request.body = text.substr(end_of_line + 2);
    const std::string headers = ReadWhole(it->path().parent_path() / (name.substr(0, name.size() - 4) + ".headers"));
    for (const std::string& line : kv::Split(headers, "\n")) {
      const size_t colon = line.find(": ");
      if (colon != std::string::npos) request.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    requests.push_back(std::move(request));
  }
  std::sort(requests.begin(), requests.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  return requests;
}

size_t ServiceStandinProcess::ReceivedCount() const {
  size_t count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(data_dir_ / "received", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(".txt") && !name.starts_with(".")) ++count;
  }
  return count;
}

bool ServiceStandinProcess::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (ReceivedCount() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace kv::test
