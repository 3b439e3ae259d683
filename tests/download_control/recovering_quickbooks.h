#pragma once

// A scripted QuickBooks for the download's recovery tests: the company file's transactions, the error-recovery
// memory of the last message set, and the queries that find transactions by TxnID or by date.

#include <time.h>

#include <cstdint>

#include <string>
#include <vector>

namespace tessarine::test {

// The value of an attribute in a request, as QuickBooks reads it; "" when absent.
inline std::string AttributeOf(const std::string& request, const std::string& name) {
  const size_t at = request.find(" " + name);
  if (at == std::string::npos) return "";
  const size_t open = request.find('"', at);
  const size_t close = request.find('"', open + 1);
  return request.substr(open + 1, close - open - 1);
}

inline std::string KindOf(const std::string& request) {
  return request.find("<BillAddRq") != std::string::npos    ? "Bill"
         : request.find("<CheckAddRq") != std::string::npos ? "Check"
                                                            : "TimeTracking";
}

inline std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const size_t at = text.find(open);
  if (at == std::string::npos) return "";
  const size_t end = text.find(close, at + open.size());
  return end == std::string::npos ? "" : text.substr(at + open.size(), end - at - open.size());
}

inline std::string NowText(int64_t shift = 0) {
  const time_t now = time(nullptr) + shift;
  tm utc{};
  gmtime_r(&now, &utc);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
  return text;
}

// A company file's transactions and QuickBooks' error recovery as its SDK describes them: the answer of the last
// message set that carried a newMessageSetID is kept for this application, and a status check returns it, or 600
// for any other id; a TxnID query answers the transaction or status 500; a date query answers that day's
// transactions of the kind (or status 1), leaving the rest of the matching to the asker as a real filter would.
struct RecoveringQuickBooks {
  struct Txn {
    std::string kind, id, date, ret;
  };
  std::vector<Txn> txns;
  std::string kept_id;
  std::string kept;
  int adds = 0;
  int checks = 0;
  int queries = 0;
  // The next add is processed, but its answer never comes back.
  bool lose_next_answer = false;
  // The next add is processed, but its answer comes back cut short, so that it reads as nothing at all.
  bool garble_next_answer = false;
  // The next add is not processed at all.
  bool drop_next_add = false;
  // Status checks and queries get no answer.
  bool mute_checks = false;
  bool mute_queries = false;

  // A transaction as QuickBooks stores an add request of the kind, created at the given time.
  Txn& Hold(const std::string& request, const std::string& created) {
    const std::string kind = KindOf(request);
    std::string inner = Between(request, "<" + kind + "Add>", "</" + kind + "Add>");
    for (size_t at = inner.find("LineAdd>"); at != std::string::npos; at = inner.find("LineAdd>", at)) {
      inner.replace(at, 8, "LineRet>");
    }
    const std::string id = "T-" + std::to_string(txns.size() + 1);
    txns.push_back({kind, id, Between(inner, "<TxnDate>", "</TxnDate>"),
                    "<" + kind + "Ret><TxnID>" + id + "</TxnID><TimeCreated>" + created + "</TimeCreated>" + inner +
                        "</" + kind + "Ret>"});
    return txns.back();
  }

  static std::string Envelope(const std::string& set_attributes, const std::string& inside) {
    return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs" + set_attributes + ">\r\n" + inside +
           "</QBXMLMsgsRs>\r\n</QBXML>\r\n";
  }

  std::string Query(const std::string& request) {
    ++queries;
    if (mute_queries) return "";
    const std::string kind = request.find("<BillQueryRq") != std::string::npos    ? "Bill"
                             : request.find("<CheckQueryRq") != std::string::npos ? "Check"
                                                                                  : "TimeTracking";
    const std::string txn_id = Between(request, "<TxnID>", "</TxnID>");
    const std::string date = Between(request, "<FromTxnDate>", "</FromTxnDate>");
    std::string rets;
    for (const Txn& t : txns) {
      if (t.kind == kind && (txn_id.empty() ? t.date == date : t.id == txn_id)) rets += t.ret + "\r\n";
    }
    const std::string rs = kind + "QueryRs requestID=\"1\" ";
    if (rets.empty()) {
      return Envelope("", txn_id.empty()
                              ? "<" + rs + "statusCode=\"1\" statusSeverity=\"Info\" statusMessage=\"none\" />\r\n"
                              : "<" + rs + "statusCode=\"500\" statusSeverity=\"Warn\" statusMessage=\"gone\" />\r\n");
    }
    return Envelope("", "<" + rs + "statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n" + rets +
                            "</" + kind + "QueryRs>\r\n");
  }

  std::string Answer(const std::string& request) {
    if (request.find("QueryRq") != std::string::npos) return Query(request);
    const std::string old_id = AttributeOf(request, "oldMessageSetID");
    if (!old_id.empty()) {
      ++checks;
      if (mute_checks) return "";
      return old_id == kept_id ? kept : Envelope(" messageSetStatusCode=\"600\"", "");
    }
    if (drop_next_add) {
      drop_next_add = false;
      return "";
    }
    ++adds;
    const std::string id = AttributeOf(request, "newMessageSetID");
    const std::string kind = KindOf(request);
    const Txn& txn = Hold(request, NowText());
    const std::string response = Envelope(
        id.empty() ? "" : " newMessageSetID=\"" + id + "\" messageSetStatusCode=\"0\"",
        "<" + kind + "AddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n" +
            txn.ret + "\r\n</" + kind + "AddRs>\r\n");
    if (!id.empty()) {
      kept_id = id;
      kept = response;
    }
    if (lose_next_answer) {
      lose_next_answer = false;
      return "";
    }
    if (garble_next_answer) {
      garble_next_answer = false;
      return response.substr(0, response.size() / 2);
    }
    return response;
  }
};

}  // namespace tessarine::test
