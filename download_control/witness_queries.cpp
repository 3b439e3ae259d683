// The queries that ask QuickBooks for a transaction, the reading of their answers, and the add answer made from
// a transaction found.

#include "download_control/witness_queries.h"

#include <cstdio>
#include <ctime>

#include "download_control/qbxml_text.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/xml/escape.h"

namespace tessarine {

std::string_view TxnName(TxnKind kind) {
  switch (kind) {
    case TxnKind::kTimeTracking:
      return "TimeTracking";
    case TxnKind::kBill:
      return "Bill";
    case TxnKind::kCheck:
      return "Check";
  }
  return "";
}

namespace {

using platform::xml::Node;

bool HasLines(TxnKind kind) {
  return kind != TxnKind::kTimeTracking;
}

std::string QueryDocument(kv::qb::QBXMLVersion version, TxnKind kind, const std::string& inside) {
  const std::string name = std::string(TxnName(kind)) + "QueryRq";
  std::string rq = "<" + name + " requestID = \"1\">\r\n" + inside;
  if (HasLines(kind)) rq += "<IncludeLineItems>true</IncludeLineItems>\r\n";
  rq += "</" + name + ">\r\n";
  return kv::qb::QBXMLDocumentHeader(version) + kv::qb::QBXMLBody(rq);
}

int ReadDigits(std::string_view text, size_t at, size_t count, bool& ok) {
  int value = 0;
  if (at + count > text.size()) {
    ok = false;
    return 0;
  }
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') ok = false;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string TxnIDQuery(kv::qb::QBXMLVersion version, TxnKind kind, std::string_view txn_id) {
  return QueryDocument(version, kind, "<TxnID>" + platform::xml::EscapeXmlText(txn_id) + "</TxnID>\r\n");
}

std::string MatchQuery(kv::qb::QBXMLVersion version, const AskedRecord& asked) {
  std::string inside = "<MaxReturned>" + std::to_string(kMatchQueryMaxReturned) + "</MaxReturned>\r\n";
  inside += "<TxnDateRangeFilter>\r\n<FromTxnDate>" + asked.date + "</FromTxnDate>\r\n<ToTxnDate>" + asked.date +
            "</ToTxnDate>\r\n</TxnDateRangeFilter>\r\n";
  const std::string filter = asked.kind == TxnKind::kTimeTracking ? "TimeTrackingEntityFilter" : "EntityFilter";
  if (!asked.entity.empty()) {
    inside += "<" + filter + ">\r\n<FullName>" + platform::xml::EscapeXmlText(asked.entity) + "</FullName>\r\n</" +
              filter + ">\r\n";
  }
  return QueryDocument(version, asked.kind, inside);
}

std::vector<Node> QueryRets(std::string_view response, TxnKind kind) {
  platform::xml::Document doc;
  if (response.empty() || !doc.LoadXml(response)) {
    throw kv::Error(1, "QuickBooks' answer to a query could not be read.");
  }
  const std::string rs_name = std::string(TxnName(kind)) + "QueryRs";
  const Node rs = doc.documentElement().selectSingleNode("QBXMLMsgsRs/" + rs_name);
  if (!rs) throw kv::Error(1, "QuickBooks' answer to a query holds no " + rs_name + ".");
  const std::string code = rs.getAttribute("statusCode");
  // 1: nothing matched; 500: a TxnID asked for is not in the company file.
  if (code == "1" || code == "500") return {};
  if (code != "0") {
    throw kv::Error(1, "QuickBooks refused a query (status " + code + "): " + rs.getAttribute("statusMessage"));
  }
  std::vector<Node> rets;
  const platform::xml::NodeList list = rs.selectNodes(std::string(TxnName(kind)) + "Ret");
  for (size_t i = 0; i < list.length(); ++i) rets.push_back(list.item(i));
  return rets;
}

std::string TxnIDOfAnswer(std::string_view answer) {
  platform::xml::Document doc;
  if (answer.empty() || !doc.LoadXml(answer)) return "";
  for (TxnKind kind : {TxnKind::kTimeTracking, TxnKind::kBill, TxnKind::kCheck}) {
    const std::string name(TxnName(kind));
    const Node id = doc.documentElement().selectSingleNode("QBXMLMsgsRs/" + name + "AddRs/" + name + "Ret/TxnID");
    if (id) return std::string(kv::TrimBlanks(id.text()));
  }
  return "";
}

std::optional<int64_t> ReadQBDateTime(std::string_view text) {
  bool ok = true;
  std::tm tm{};
  tm.tm_year = ReadDigits(text, 0, 4, ok) - 1900;
  tm.tm_mon = ReadDigits(text, 5, 2, ok) - 1;
  tm.tm_mday = ReadDigits(text, 8, 2, ok);
  tm.tm_hour = ReadDigits(text, 11, 2, ok);
  tm.tm_min = ReadDigits(text, 14, 2, ok);
  tm.tm_sec = ReadDigits(text, 17, 2, ok);
  if (!ok || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  std::string_view zone = text.substr(19);
  if (zone.empty()) {
    tm.tm_isdst = -1;
    const time_t local = std::mktime(&tm);
    if (local == static_cast<time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(local);
  }
  const int64_t utc = static_cast<int64_t>(timegm(&tm));
  if (zone == "Z") return utc;
  if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return std::nullopt;
  const int64_t offset = (ReadDigits(zone, 1, 2, ok) * 60 + ReadDigits(zone, 4, 2, ok)) * 60;
  if (!ok) return std::nullopt;
  // The local time is ahead of UTC by a positive offset.
  return zone[0] == '+' ? utc - offset : utc + offset;
}

std::vector<WitnessCandidate> MatchingRets(const AskedRecord& asked, const std::vector<Node>& rets, int64_t noted_at,
                                           const std::set<std::string>& claimed) {
  std::vector<WitnessCandidate> found;
  for (const Node& ret : rets) {
    WitnessCandidate candidate;
    candidate.txn_id = std::string(kv::TrimBlanks(ret.selectSingleNode("TxnID").text()));
    candidate.txn_date = std::string(kv::TrimBlanks(ret.selectSingleNode("TxnDate").text()));
    candidate.time_created = std::string(kv::TrimBlanks(ret.selectSingleNode("TimeCreated").text()));
    if (candidate.txn_id.empty() || claimed.contains(candidate.txn_id)) continue;
    const std::optional<int64_t> created = ReadQBDateTime(candidate.time_created);
    // A transaction of unknown age may be one the user keyed in long before: it is not taken for the record.
    if (!created || *created < noted_at - 1) continue;
    if (!RetMatches(asked, ret)) continue;
    candidate.ret = ret;
    found.push_back(std::move(candidate));
  }
  return found;
}

std::string AddAnswerOf(const AskedRecord& asked, const Node& ret) {
  const std::string rs_name = std::string(TxnName(asked.kind)) + "AddRs";
  std::string set_tag = "<QBXMLMsgsRs";
  if (!asked.message_set_id.empty()) {
    set_tag += " newMessageSetID=\"" + platform::xml::EscapeXmlAttribute(asked.message_set_id) +
               "\" messageSetStatusCode=\"0\"";
  }
  std::string answer = "<?xml version=\"1.0\" ?>\n<QBXML>\n" + set_tag + ">\n<" + rs_name;
  if (!asked.request_id.empty()) {
    answer += " requestID=\"" + platform::xml::EscapeXmlAttribute(asked.request_id) + "\"";
  }
  answer += " statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\n";
  answer += ret.xml();
  answer += "\n</" + rs_name + ">\n</QBXMLMsgsRs>\n</QBXML>\n";
  return answer;
}

}  // namespace tessarine
