#pragma once

// The stand-in's data directory. Every file is read again on each request, so a test may change them while the
// stand-in runs. File names of pages are matched without regard to letter case, as the service's web server does.
//
//   answers/<page>         the answer to every request of the page (bytes as they are; HTML when it looks like a page)
//   answers/<page>.<N>     a queue: each request takes the lowest N and the file is renamed to <page>.<N>.used;
//                          an empty queue falls back to answers/<page>, then to the normal answer
//   faults/<page>          how to misbehave on the page, one instruction a line ("#" starts a comment):
//                            delay-ms N       wait N ms before answering
//                            drop             close the connection without an answer
//                            status N         answer with HTTP status N (the body is the answer it would give)
//                            redirect URL     answer with a redirect to URL (status 302 unless a status is given)
//                            trickle-ms N     send the answer one byte every N ms
//                            chunked          send the answer in chunks, without a length ahead of it
//   faults/<page>.<N>      a queue of fault files, taken like the answer queue
//   pending-time.txt       answer of kalvordownload.asp when tsorexpense=True
//   pending-expenses.txt   answer of kalvordownload.asp otherwise
//   accounts.txt           sign-in accounts, one a line, fields separated by TAB:
//                            USER <TAB> PASSWORD <TAB> LINE1 <TAB> LINE2 ...
//                          kvrGetQBMenuSpecs.asp answers the lines joined by CR LF (normally five: site code, site id,
//                          company-file path and two more); the site refresh signs in with the site code and site id
//                          as user and password, so list that pair too where wanted
//   page-params.txt        NAME=VALUE lines: <param> tags of the pages that embed a control
//   received/              the record of every request (see request_log.h)

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standins::service {

struct Fault {
  std::chrono::milliseconds delay{0};
  bool drop = false;
  int status = 0;  // 0: the normal status
  std::string redirect;
  std::chrono::milliseconds trickle{0};
  bool chunked = false;
};

class DataDir {
 public:
  explicit DataDir(std::filesystem::path root);

  const std::filesystem::path& Root() const { return root_; }

  // The scripted answer of the page, taking the next queued one when there is one.
  std::optional<std::string> TakeAnswer(std::string_view page);
  Fault TakeFault(std::string_view page);

  // The whole file, or "" when it does not exist.
  std::string ReadFile(std::string_view name) const;
  // The answer lines of an account, when user and password match one exactly.
  std::optional<std::vector<std::string>> AccountLines(std::string_view user, std::string_view password) const;
  std::vector<std::pair<std::string, std::string>> PageParams() const;

 private:
  std::optional<std::string> TakeScripted(std::string_view folder, std::string_view page);

  std::filesystem::path root_;
  std::mutex queue_mutex_;
};

// Parses the lines of a fault file; unknown instructions are ignored.
Fault ParseFault(std::string_view text);

}  // namespace standins::service
