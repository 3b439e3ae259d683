// The download's page addresses and the reading of the status page's answer, apart from the form that
// sends them so tests can check both without a service.

#include "download_control/service_requests.h"

#include "common/web_form/page_table.h"
#include "platform/base/text.h"
#include "platform/web/query_builder.h"
#include "platform/xml/dom.h"

namespace tessarine {

std::string DownloadUrl(const DownloadParameters& params) {
  return platform::web::QueryBuilder(kDownloadPage)
      .Add("sitecode", params.SiteCode)
      .Add("sitekey", params.SiteKey)
      .Add("pldbtype", "4")
      .AddFlag("tsorexpense", params.TsOrExpense)
      .AddFlag("fullorpartial", params.FullOrPartial)
      .Url(params.KVSecureServerURL);
}

StatusIds IdsOfType(const std::string& ids, const std::string& type) {
  StatusIds out;
  if (type == "TA") out.time = ids;
  if (type == "LA") out.leave = ids;
  if (type == "EXP") out.expense_items = ids;
  return out;
}

std::string StatusUrl(const DownloadParameters& params, const StatusIds& ids, const std::string& type,
                      bool bill_or_check) {
  return platform::web::QueryBuilder(kStatusPage)
      .Add("sitecode", params.SiteCode)
      .Add("sitekey", params.SiteKey)
      .Add("TAIDs", ids.time)
      .Add("LAIDs", ids.leave)
      .Add("EEIDs", "")
      .Add("EEIIDs", ids.expense_items)
      .Add("TrnType", type)
      .Add("KVRUser", params.KalvorUser)
      .AddFlag("BillOrCheck", bill_or_check)
      .Url(params.KVSecureServerURL);
}

std::string FailureReason(std::string_view answer, const std::string& type) {
  const std::vector<std::string> parts = kv::Split(answer, "|");
  const bool three = parts.size() == 3;
  if (type == "EXP") {
    // An expense failure names its reason in the third part unless the service marked the answer an error.
    if (three && !kv::BeginsWithError(parts[0])) return parts[2];
    return std::string(answer);
  }
  if (three && kv::BeginsWithError(answer)) return parts[2];
  return std::string(answer);
}

namespace {}  // namespace

namespace {

enum class AddAnswer { kUnread, kTook, kRefused };

AddAnswer ReadAddAnswer(std::string_view response) {
  platform::xml::Document doc;
  if (response.empty() || !doc.LoadXml(response)) return AddAnswer::kUnread;
  const platform::xml::Node messages = doc.documentElement().selectSingleNode("QBXMLMsgsRs");
  if (!messages) return AddAnswer::kUnread;
  AddAnswer answer = AddAnswer::kUnread;
  for (platform::xml::Node rs = messages.firstChild(); rs; rs = rs.nextSibling()) {
    if (rs.nodeType() != platform::xml::NodeType::kElement || !rs.nodeName().ends_with("AddRs")) continue;
    if (rs.getAttribute("statusCode") == "0") return AddAnswer::kTook;
    for (platform::xml::Node ret = rs.firstChild(); ret; ret = ret.nextSibling()) {
      if (ret.nodeType() == platform::xml::NodeType::kElement && ret.nodeName().ends_with("Ret") &&
          ret.selectSingleNode("TxnID")) {
        return AddAnswer::kTook;
      }
    }
    answer = AddAnswer::kRefused;
  }
  return answer;
}

}  // namespace

bool QuickBooksTookRecord(std::string_view response) {
  return ReadAddAnswer(response) == AddAnswer::kTook;
}

bool QuickBooksRefusedRecord(std::string_view response) {
  return ReadAddAnswer(response) == AddAnswer::kRefused;
}

std::string NotToldReason(std::string_view transport_reason) {
  return "Posted into QuickBooks, but the Kalvor service could not be told, so it still lists the record as "
         "pending. Do not post it again.\r\n" +
         std::string(transport_reason);
}

std::string EarlierRunReason(std::string_view reason) {
  return "Added to QuickBooks by an earlier download that was stopped before the Kalvor service was told; this "
         "download only reported it.\r\n" +
         std::string(reason);
}

}  // namespace tessarine
