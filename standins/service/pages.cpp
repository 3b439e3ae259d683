// The service's pages as the stand-in answers them: embedding pages, sign-in, downloads, uploads and the
// judgement of status reports.

#include "standins/service/pages.h"

#include <algorithm>
#include <set>

#include "platform/base/text.h"
#include "platform/xml/dom.h"
#include "platform/xml/escape.h"

namespace standins::service {
namespace {

// Parameter names and values go inside double-quoted attributes of the page.
std::string HtmlEscape(std::string_view text) {
  return platform::xml::Escaped(text, {.quote = true});
}

struct EmbeddingPage {
  std::string_view page;  // lower case
  std::string_view title;
  std::string_view object_id;
  std::string_view class_id;
  std::string_view ts_or_expense;  // "" for the sync control
};

constexpr EmbeddingPage kEmbeddingPages[] = {
    {"brintavelcall.asp", "Kalvor - Synchronize QuickBooks", "BrintavelCtl",
     "clsid:5105AB9B-325B-4FA2-9B1F-982A3193B989", ""},
    {"tspenddownlist.asp", "Kalvor - Pending Timesheets", "KVRDowloadctl", "progid:Tessarine.KVRDowloadctl", "True"},
    {"exppenddownlist.asp", "Kalvor - Pending Expenses", "KVRDowloadctl", "progid:Tessarine.KVRDowloadctl", "False"},
};

// What the service keeps per site and hands to a page, as far as the page's control takes it: its words for the
// lists, and for the sync the date each list was last sent.
constexpr std::string_view kLexicons[] = {"CustLexicon", "EmpLexicon", "ProjLexicon", "SILexicon", "SubProjLexicon"};
constexpr std::string_view kLastSyncDates[] = {"CustomerLastSyncDate", "EmployeeLastSyncDate", "GLAccountsLastSyncDate",
                                               "TasksLastSyncDate",    "ClassLastSyncDate",    "VendorsLastSyncDate",
                                               "TimeLastSyncDate",     "ExpenseLastSyncDate"};

bool SiteParamOfPage(std::string_view name, const EmbeddingPage& page) {
  for (std::string_view lexicon : kLexicons) {
    if (kv::EqualsIgnoreCase(name, lexicon)) return true;
  }
  if (!page.ts_or_expense.empty()) return kv::EqualsIgnoreCase(name, "KVLastUploadDate");
  for (std::string_view date : kLastSyncDates) {
    if (kv::EqualsIgnoreCase(name, date)) return true;
  }
  return false;
}

void SetParam(std::vector<std::pair<std::string, std::string>>& params, const std::string& name, std::string value) {
  for (auto& [key, current] : params) {
    if (kv::EqualsIgnoreCase(key, name)) {
      current = std::move(value);
      return;
    }
  }
  params.emplace_back(name, std::move(value));
}

std::string ParamValue(const std::vector<std::pair<std::string, std::string>>& params, std::string_view name) {
  for (const auto& [key, value] : params) {
    if (kv::EqualsIgnoreCase(key, name)) return value;
  }
  return {};
}

// The page the service shows around a control: its parameters come from page-params.txt and the site's file, with
// the service's own address, the site of the query and the download mode of the page on top. The service shows
// the control to a site it knows only.
Answer EmbedPage(const DataDir& data, const PageRequest& request, const EmbeddingPage& page) {
  std::vector<std::pair<std::string, std::string>> params = {
      {"KVSecureServerURL", request.base_url}, {"SiteCode", ""}, {"SiteKey", ""}};
  for (auto& [name, value] : data.PageParams()) SetParam(params, name, value);
  if (!page.ts_or_expense.empty()) SetParam(params, "TsOrExpense", std::string(page.ts_or_expense));
  if (const std::string code = QueryValue(request, "sitecode"); !code.empty()) SetParam(params, "SiteCode", code);
  if (const std::string id = QueryValue(request, "siteid"); !id.empty()) SetParam(params, "SiteKey", id);
  const std::string code = ParamValue(params, "SiteCode");
  if (!data.IsSite(code, ParamValue(params, "SiteKey"))) {
    return Answer{403,
                  "<!DOCTYPE html>\n<html>\n<head><title>" + std::string(page.title) + "</title></head>\n<body>" +
                      HtmlEscape(std::string("ERROR: ").append(kUnknownSite)) + "</body>\n</html>\n",
                  "text/html"};
  }
  for (auto& [name, value] : data.SiteParams(code)) {
    if (SiteParamOfPage(name, page)) SetParam(params, name, value);
  }

  std::string html = "<!DOCTYPE html>\n<html>\n<head><title>" + std::string(page.title) + "</title></head>\n<body>\n";
  html += "<object id=\"" + std::string(page.object_id) + "\" classid=\"" + std::string(page.class_id) +
          "\" width=\"640\" height=\"480\">\n";
  for (const auto& [name, value] : params) {
    html += "  <param name=\"" + HtmlEscape(name) + "\" value=\"" + HtmlEscape(value) + "\">\n";
  }
  html += "</object>\n</body>\n</html>\n";
  return Answer{200, std::move(html), "text/html"};
}

Answer Plain(std::string body) {
  return Answer{200, std::move(body), "text/plain"};
}

}  // namespace

std::string QueryValue(const PageRequest& request, std::string_view key) {
  for (const auto& [name, value] : request.query) {
    if (kv::EqualsIgnoreCase(name, key)) return value;
  }
  return {};
}

std::string JudgeStatusReport(std::string_view ids, std::string_view body) {
  std::string reason;
  bool answered = false;
  platform::xml::Document answer;
  if (!body.empty() && answer.LoadXml(body)) {
    const platform::xml::NodeList elements = answer.getElementsByTagName("*");
    for (size_t i = 0; i < elements.length(); ++i) {
      const platform::xml::Node element = elements.item(i);
      if (!element.hasAttribute("statusCode")) continue;
      answered = true;
      if (element.getAttribute("statusSeverity") != "Error") continue;
      reason = element.getAttribute("statusMessage");
      if (reason.empty()) reason = "QuickBooks refused the record (status " + element.getAttribute("statusCode") + ").";
      break;
    }
  }
  if (!answered) reason = "No answer of QuickBooks came with the record.";
  if (reason.empty()) return "SUCCESS";
  // The answer's parts are separated by "|", so the reason may not hold one.
  std::replace(reason.begin(), reason.end(), '|', '/');
  std::replace_if(
      reason.begin(), reason.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return "ERROR|" + std::string(ids) + "|" + reason;
}

std::string ContentTypeOf(std::string_view body) {
  const size_t start = body.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return "text/plain";
  const std::string head = kv::ToLowerAscii(body.substr(start, 14));
  return head.starts_with("<!doctype html") || head.starts_with("<html") ? "text/html" : "text/plain";
}

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

std::string SiteRefusal(std::string_view what) {
  return "ERROR|" + std::string(what) + "|" + std::string(kUnknownSite);
}

Answer StatusReport(DataDir& data, const PageRequest& request, PageWork work) {
  const std::string code = QueryValue(request, "sitecode");
  std::string ids;
  for (const char* key : {"TAIDs", "LAIDs", "EEIIDs"}) {
    if (const std::string value = QueryValue(request, key); !value.empty()) ids = value;
  }
  if (!data.IsSite(code, QueryValue(request, "sitekey"))) return Plain(SiteRefusal(ids));
  const std::vector<RecordKey> reported =
      ReportedRecords(QueryValue(request, "TAIDs"), QueryValue(request, "LAIDs"), QueryValue(request, "EEIIDs"));
  const std::set<RecordKey> listed =
      ListedRecords(data.ReadFile("pending-time.txt"), data.ReadFile("pending-expenses.txt"));
  const std::set<RecordKey> transferred = data.Transferred(code);
  bool all_transferred = !reported.empty();
  for (const RecordKey& record : reported) {
    if (!listed.contains(record) && !transferred.contains(record)) {
      return Plain("ERROR|" + ids + "|" + std::string(kNotPending));
    }
    all_transferred = all_transferred && transferred.contains(record);
  }
  if (all_transferred) return Plain("SUCCESS");
  std::string verdict = JudgeStatusReport(ids, request.body);
  if (verdict == "SUCCESS" && work == PageWork::kDo) data.MarkTransferred(code, reported);
  return Plain(std::move(verdict));
}

Answer Download(const DataDir& data, const PageRequest& request) {
  const std::string code = QueryValue(request, "sitecode");
  if (!data.IsSite(code, QueryValue(request, "sitekey"))) return Plain(SiteRefusal(code));
  const std::set<RecordKey> transferred = data.Transferred(code);
  if (kv::EqualsIgnoreCase(QueryValue(request, "tsorexpense"), "True"))
    return Plain(PendingTimeLines(data.ReadFile("pending-time.txt"), transferred));
  return Plain(PendingExpenseLines(data.ReadFile("pending-expenses.txt"), transferred));
}

Answer SignIn(const DataDir& data, const PageRequest& request) {
  const std::string user = QueryValue(request, "user");
  const std::string password = QueryValue(request, "pwd");
  auto lines = data.AccountLines(user, password);
  // The site refresh signs in with the site's code and key.
  if (!lines) lines = data.SiteLines(user, password);
  if (!lines) return Plain(std::string(kSignInRefused));
  return Plain(JoinLines(*lines));
}

}  // namespace

Answer NormalAnswer(DataDir& data, const PageRequest& request, PageWork work) {
  const std::string page = kv::ToLowerAscii(request.page);
  if (page == "brintavel.asp" || page == "brintavelupdatestatus.asp") {
    const std::string code = QueryValue(request, "sitecode");
    return Plain(data.IsSite(code, QueryValue(request, "sitekey")) ? "SUCCESS" : SiteRefusal(code));
  }
  if (page == "kalvorupdatestatus.asp") return StatusReport(data, request, work);
  if (page == "kalvordownload.asp") return Download(data, request);
  if (page == "kvrgetqbmenuspecs.asp") return SignIn(data, request);
  if (page == "kvrgetqbmenuupdqbpath.asp") {
    const std::string code = QueryValue(request, "sCde");
    return Plain(data.IsSite(code, QueryValue(request, "sKey")) ? "Success" : SiteRefusal(code));
  }
  for (const EmbeddingPage& embedding : kEmbeddingPages) {
    if (page == embedding.page) return EmbedPage(data, request, embedding);
  }
  return Answer{404, "<html><body>The page " + HtmlEscape(request.page) + " was not found.</body></html>", "text/html"};
}

}  // namespace standins::service
