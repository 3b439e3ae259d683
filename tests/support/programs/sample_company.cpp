// A private copy of the sample company and service data for one test, with kvpage's arguments for it.

#include "tests/support/programs/sample_company.h"

#include <stdlib.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace kv::test {

namespace fs = std::filesystem;

namespace {

fs::path SourceDir() {
  const char* source = std::getenv("KV_SOURCE_DIR");
  if (source == nullptr || *source == '\0') {
    throw std::runtime_error("KV_SOURCE_DIR must name the source tree (ctest sets it)");
  }
  return source;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// kvpage's arguments for `control` with its page parameters ("Name=value"), followed by `more`.
std::vector<std::string> KvpageArgs(const std::string& control, std::initializer_list<std::string> params,
                                    const std::vector<std::string>& more) {
  std::vector<std::string> args{"--control", control};
  for (const std::string& param : params) {
    args.push_back("--param");
    args.push_back(param);
  }
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace

SampleCompany::SampleCompany(const std::string& tag) {
  const fs::path source = SourceDir();
  std::string pattern = (fs::temp_directory_path() / (tag + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a directory like " + pattern);
  dir_ = pattern;
  file_ = (dir_ / "Sample Company.QBW").string();
  // The download notes what it adds under the state home: a test keeps it in its own folder, never the user's.
  options_.env = {{"QB_STANDIN_HOME", (dir_ / "qb").string()}, {"XDG_STATE_HOME", (dir_ / "state").string()}};
  try {
    fs::copy_file(source / "samples" / "company.xml", file_);
    const ProgramRun opened = RunProgram("qb-standin", {"open", file_}, options_);
    if (opened.status != 0) throw std::runtime_error("qb-standin open failed: " + opened.out + opened.err);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    throw;
  }
}

SampleCompany::~SampleCompany() {
  try {
    RunProgram("qb-standin", {"close"}, options_);
  } catch (const std::exception&) {
    // The state goes with the directory all the same.
  }
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string SampleCompany::Contents() const {
  return ReadWhole(file_);
}

std::vector<std::string> SampleCompany::SyncArgs(const std::string& service_url,
                                                 const std::vector<std::string>& more) const {
  return KvpageArgs(
      "brintavel",
      {"KVSecureServerURL=" + service_url, "SiteCode=AC01", "SiteKey=K9", "KalvorUser=pat", "QBFilePath=" + file_},
      more);
}

std::vector<std::string> SampleCompany::DownloadArgs(const std::string& service_url,
                                                     const std::vector<std::string>& more) const {
  return KvpageArgs(
      "tessarine",
      {"KVSecureServerURL=" + service_url, "SiteCode=HLC", "SiteKey=K-42", "KalvorUser=dana", "QBFilePath=" + file_},
      more);
}

std::string ReadSourceFile(const std::string& relative) {
  return ReadWhole(SourceDir() / relative);
}

}  // namespace kv::test
