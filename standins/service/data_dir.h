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
//                            answer-lost      do the page's work, then close the connection without the answer
//                          The page does its work (a status report transfers its records) only when it answers:
//                          not with drop, status or redirect, which stand for a request that failed before the
//                          page ran; a delay comes before the work.
//   faults/<page>.<N>      a queue of fault files, taken like the answer queue
//   pending-time.txt       what was approved for transfer; kalvordownload.asp answers it when tsorexpense=True,
//                          without the site's transferred records (transferred.txt below)
//   pending-expenses.txt   the same for expenses, answered otherwise
//   accounts.txt           sign-in accounts, one a line, fields separated by TAB:
//                            USER <TAB> PASSWORD <TAB> LINE1 <TAB> LINE2 ...
//                          kvrGetQBMenuSpecs.asp answers the lines joined by CR LF (normally five: site code, site id,
//                          company-file path and two more). The site refresh signs in with the site code and site id
//                          as user and password: an account of that user and password answers it, else the first
//                          account of that site.
//                          The sites of the service are the pairs LINE1, LINE2 of its accounts (site code, site
//                          key). The service compares the site code without regard to letter case and blanks around
//                          it, the key exactly. Every page bound to a site (the download, the status report, the
//                          upload, the sync status, the company-file registration, the site refresh and the pages
//                          that embed a control) answers an unknown site or a wrong key with an error answer
//                          ("ERROR|..." for the pages a control judges, a page without a control for the embedding
//                          pages) and changes nothing. Without accounts.txt every site is taken, for the tests of
//                          a control's own judgement that care for no site.
//   page-params.txt        NAME=VALUE lines: <param> tags of the pages that embed a control
//   sites/<SITE>.txt       NAME=VALUE lines of one site (file name: the site code, any letter case): its words for
//                          its lists (CustLexicon, EmpLexicon, ProjLexicon, SILexicon, SubProjLexicon) and its
//                          lists' last-sync dates (CustomerLastSyncDate ... ExpenseLastSyncDate), which the pages
//                          that embed a control pass on as far as their control reads them
//   transferred.txt        the records each site has transferred: "SITE <TAB> KIND <TAB> ID" lines, KIND "TA"
//                          (time), "LA" (leave) or "EI" (an expense's item line), SITE the site code in capitals.
//                          A status report that kalvorupdatestatus.asp answers with SUCCESS adds its records, and
//                          kalvordownload.asp no longer lists them for that site: a time or leave record by its id,
//                          an expense's item line by its id; an expense with some item lines transferred is listed
//                          with the others only, and one without any is no longer listed. Written whole under a
//                          temporary name; remove the file (or a site's lines) to have every record pending again.
//                          A report of a record that is not pending is judged as the service judges it:
//                            already transferred: SUCCESS, whatever QuickBooks' answer says. The report comes again
//                              when the answer to the first one was lost on its way (the download then reports a
//                              record QuickBooks already has); the service has it as transferred, and a failure
//                              there would be one the user could never clear.
//                            never listed for the site: "ERROR|ids|..." and nothing changes: the service cannot take
//                              a record it never had as posted, nor take the others a report names beside one.
//                          A scripted answer (answers/) stands in for the page: nothing is transferred. A fault
//                          does what faults/ above says (answer-lost: transferred, the answer never arrives).
//   received/              the record of every request (see request_log.h)

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "standins/service/transfers.h"

namespace standins::service {

struct Fault {
  std::chrono::milliseconds delay{0};
  bool drop = false;
  int status = 0;  // 0: the normal status
  std::string redirect;
  std::chrono::milliseconds trickle{0};
  bool chunked = false;
  bool answer_lost = false;
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

  // Whether the site code and key name a site of the accounts (or there is no accounts.txt).
  bool IsSite(std::string_view code, std::string_view key) const;
  // The answer lines of the first account of the site; nullopt for no site of the accounts.
  std::optional<std::vector<std::string>> SiteLines(std::string_view code, std::string_view key) const;
  // sites/<code>.txt
  std::vector<std::pair<std::string, std::string>> SiteParams(std::string_view code) const;

  std::set<RecordKey> Transferred(std::string_view code) const;
  void MarkTransferred(std::string_view code, const std::vector<RecordKey>& records);

 private:
  std::optional<std::string> TakeScripted(std::string_view folder, std::string_view page);

  std::filesystem::path root_;
  std::mutex queue_mutex_;
  std::mutex transfer_mutex_;
};

// Parses the lines of a fault file; unknown instructions are ignored.
Fault ParseFault(std::string_view text);

}  // namespace standins::service
