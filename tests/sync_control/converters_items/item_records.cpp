// Item records and their qbXML response for the item converter's tests (see item_records.h).

#include "tests/sync_control/converters_items/item_records.h"

#include "platform/base/text.h"

namespace brintavel::testing {

Record SalesItem(const std::string& element, const std::string& list_id, const std::string& full_name) {
  Record r{element, {}};
  r.Set("ListID", list_id)
      .Set("TimeCreated", "2005-03-15T09:00:00-08:00")
      .Set("TimeModified", "2005-03-16T14:22:33-08:00")
      .Set("EditSequence", "7")
      .Set("Name", full_name)
      .Set("FullName", full_name)
      .Set("IsActive", "true")
      .Set("Sublevel", "0")
      .Set("SalesOrPurchase/Desc", "Design work")
      .Set("SalesOrPurchase/Price", "85.50")
      .Set("SalesOrPurchase/AccountRef/ListID", "A-9")
      .Set("SalesOrPurchase/AccountRef/FullName", "Consulting Income");
  return r;
}

Record ServiceItem(const std::string& list_id, const std::string& full_name) {
  return SalesItem("ItemServiceRet", list_id, full_name);
}

Record PayrollItem(const std::string& list_id, const std::string& name, const std::string& wage_type) {
  Record r{"PayrollItemWageRet", {}};
  r.Set("ListID", list_id)
      .Set("TimeCreated", "2006-01-02T08:00:00")
      .Set("TimeModified", "2006-01-03T17:45:10")
      .Set("EditSequence", "3")
      .Set("Name", name)
      .Set("IsActive", "true")
      .Set("WageType", wage_type)
      .Set("ExpenseAccountRef/FullName", "Payroll Expenses");
  return r;
}

Record SalesTaxCode(const std::string& name, const std::string& is_taxable) {
  Record r{"SalesTaxCodeRet", {}};
  r.Set("ListID", "STC-" + name).Set("Name", name).Set("IsTaxable", is_taxable);
  return r;
}

std::vector<Record> Items(const std::string& element, const std::string& prefix, size_t count) {
  std::vector<Record> out;
  for (size_t i = 0; i < count; ++i) {
    const std::string id = prefix + "-" + std::to_string(i);
    out.push_back(element == "PayrollItemWageRet" ? PayrollItem(id, id, "Hourly") : SalesItem(element, id, id));
  }
  return out;
}

std::string ItemResponse(const std::vector<Record>& records) {
  std::string out = "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n";
  out += "<ItemQueryRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n";
  for (const Record& record : records) {
    out += "<" + record.element + ">\r\n";
    std::vector<std::string> open;
    for (const auto& [path, text] : record.children) {
      std::vector<std::string> parents = kv::Split(path, "/");
      const std::string leaf = parents.back();
      parents.pop_back();
      size_t common = 0;
      while (common < open.size() && common < parents.size() && open[common] == parents[common]) ++common;
      for (; open.size() > common; open.pop_back()) out += "</" + open.back() + ">\r\n";
      for (size_t k = common; k < parents.size(); ++k) {
        out += "<" + parents[k] + ">\r\n";
        open.push_back(parents[k]);
      }
      out += "<" + leaf + ">" + XmlEscape(text) + "</" + leaf + ">\r\n";
    }
    for (; !open.empty(); open.pop_back()) out += "</" + open.back() + ">\r\n";
    out += "</" + record.element + ">\r\n";
  }
  out += "</ItemQueryRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
  return out;
}

}  // namespace brintavel::testing
