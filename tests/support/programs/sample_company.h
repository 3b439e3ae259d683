#pragma once

// The sample company (samples/company.xml) copied into a temporary directory of its own and open in the
// QuickBooks stand-in, whose state lives in that directory too, for the end-to-end tests that run kvpage:
//
//   kv::test::SampleCompany company("kv-items");
//   kv::test::RunProgram("kvpage", company.SyncArgs(service.BaseUrl(), {"--select", "items", "--start"}),
//                        company.options());
//
// The directory goes with the object.

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"

namespace kv::test {

class SampleCompany {
 public:
  // `tag` begins the directory's name. Throws std::runtime_error when KV_SOURCE_DIR (set by ctest) is missing or
  // the company cannot be copied or opened.
  explicit SampleCompany(const std::string& tag);
  ~SampleCompany();
  SampleCompany(const SampleCompany&) = delete;
  SampleCompany& operator=(const SampleCompany&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // The company file, with a blank in its name as users' files often have.
  const std::string& file() const { return file_; }
  // QB_STANDIN_HOME names the stand-in's state in dir(); add to env as a test needs.
  ProgramOptions& options() { return options_; }
  const ProgramOptions& options() const { return options_; }

  // What the company file holds now, as the stand-in last saved it.
  std::string Contents() const;

  // kvpage's arguments for the sync control against the service at `service_url` with this company, followed by
  // `more`.
  std::vector<std::string> SyncArgs(const std::string& service_url, const std::vector<std::string>& more = {}) const;
  // The same for the download control.
  std::vector<std::string> DownloadArgs(const std::string& service_url,
                                        const std::vector<std::string>& more = {}) const;
  // The download control's page of another site, or reaching the company file through another path.
  struct DownloadPage {
    std::string site_code = "HLC";
    std::string site_key = "K-42";
    std::string file;  // empty: file()
  };
  std::vector<std::string> DownloadArgs(const DownloadPage& page, const std::string& service_url,
                                        const std::vector<std::string>& more = {}) const;

 private:
  std::filesystem::path dir_;
  std::string file_;
  ProgramOptions options_;
};

// The bytes of a file of the source tree, `relative` to its top (e.g. "samples/service/pending-time.txt"). Throws
// std::runtime_error when KV_SOURCE_DIR is missing or the file cannot be read.
std::string ReadSourceFile(const std::string& relative);

}  // namespace kv::test
