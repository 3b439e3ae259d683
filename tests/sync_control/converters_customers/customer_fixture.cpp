// Customer-list responses for the converter tests (see customer_fixture.h).

#include "tests/sync_control/converters_customers/customer_fixture.h"

#include "sync_control/converters/customer_list.h"
#include "sync_control/module_state.h"

namespace brintavel::testing {

Record Customer(const std::string& list_id, const std::string& name) {
  Record r{"CustomerRet", {}};
  r.Set("ListID", list_id).Set("TimeCreated", "2011-01-01T10:00:00").Set("TimeModified", kChanged);
  r.Set("EditSequence", "123").Set("Name", name).Set("FullName", name).Set("IsActive", "true");
  r.Set("Sublevel", "0");
  return r;
}

Record Job(const std::string& list_id, const std::string& name, int sublevel, const std::string& parent_list_id) {
  Record r{"CustomerRet", {}};
  r.Set("ListID", list_id).Set("TimeCreated", "2011-01-01T10:00:00").Set("TimeModified", kChanged);
  r.Set("EditSequence", "77").Set("Name", name).Set("FullName", "Parent:" + name).Set("IsActive", "true");
  r.Set("ParentRef/ListID", parent_list_id).Set("ParentRef/FullName", "Parent");
  r.Set("Sublevel", std::to_string(sublevel));
  return r;
}

Record& Unchanged(Record& record) {
  record.Set("TimeCreated", kUnchanged).Set("TimeModified", kUnchanged);
  return record;
}

std::string CustomerResponse(const std::vector<Record>& records) {
  std::string out = "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n";
  out += "<CustomerQueryRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n";
  for (const Record& record : records) {
    out += "<" + record.element + ">\r\n";
    std::string open;  // the Ref element currently open
    for (const auto& [name, text] : record.children) {
      const size_t slash = name.find('/');
      const std::string ref = slash == std::string::npos ? "" : name.substr(0, slash);
      if (ref != open) {
        if (!open.empty()) out += "</" + open + ">\r\n";
        if (!ref.empty()) out += "<" + ref + ">\r\n";
        open = ref;
      }
      const std::string child = slash == std::string::npos ? name : name.substr(slash + 1);
      out += "<" + child + ">" + XmlEscape(text) + "</" + child + ">\r\n";
    }
    if (!open.empty()) out += "</" + open + ">\r\n";
    out += "</" + record.element + ">\r\n";
  }
  out += "</CustomerQueryRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
  return out;
}

void CustomerListTest::SetUp() {
  ConverterTest::SetUp();
  ctl->CustLexicon = "Customer";
  ctl->ProjLexicon = "Project";
  Module().CustomerLastSyncDate = kv::DateTime::FromParts(2011, 1, 2);
}

void CustomerListTest::RunBoth(const std::vector<Record>& records) {
  ModWizard& m = Module();
  m.sQBXMLResponse = CustomerResponse(records);
  m.bSyncCustomers = true;
  ctl->ProcessQueryResponse();
}

std::vector<kv::test_support::sql::Statement> CustomerListTest::StatementsFor(const std::string& table) const {
  std::vector<kv::test_support::sql::Statement> out;
  for (auto& s : AllStatements()) {
    if (s.table == table) out.push_back(std::move(s));
  }
  return out;
}

}  // namespace brintavel::testing
