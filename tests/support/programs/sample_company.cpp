#include "tests/support/programs/sample_company.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace kv::test {

namespace fs = std::filesystem;

SampleCompany::SampleCompany(const std::string& tag) {
  const char* source = std::getenv("KV_SOURCE_DIR");
  if (source == nullptr || *source == '\0') {
    throw std::runtime_error("KV_SOURCE_DIR must name the source tree (ctest sets it)");
  }
  std::string pattern = (fs::temp_directory_path() / (tag + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a directory like " + pattern);
  dir_ = pattern;
  file_ = (dir_ / "Sample Company.QBW").string();
  options_.env = {{"QB_STANDIN_HOME", (dir_ / "qb").string()}};
  try {
    fs::copy_file(fs::path(source) / "samples" / "company.xml", file_);
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

std::vector<std::string> SampleCompany::SyncArgs(const std::string& service_url,
                                                 const std::vector<std::string>& more) const {
  std::vector<std::string> args{"--control", "brintavel",      "--param", "KVSecureServerURL=" + service_url,
                                "--param",   "SiteCode=AC01",  "--param", "SiteKey=K9",
                                "--param",   "KalvorUser=pat", "--param", "QBFilePath=" + file_};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace kv::test
