#pragma once

// Customer-list responses for the converter tests: customers and jobs in one list of CustomerRet elements, with
// references (ParentRef, SalesRepRef, ...) written as nested elements.

#include <string>
#include <vector>

#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {

// Changed since the fixture's last-sync date, and unchanged: created and modified before it.
inline constexpr const char* kChanged = "2011-01-02T10:30:00";
inline constexpr const char* kUnchanged = "2010-06-01T08:00:00";

// A customer (sub-level 0) or a job (sub-level above 0), active, changed since the last sync.
Record Customer(const std::string& list_id, const std::string& name);
Record Job(const std::string& list_id, const std::string& name, int sublevel, const std::string& parent_list_id);
// The record created and modified before the last sync.
Record& Unchanged(Record& record);

// The response, a child named "Ref/Child" written inside a Ref element; consecutive children of one Ref share
// that element.
std::string CustomerResponse(const std::vector<Record>& records);

class CustomerListTest : public ConverterTest {
 protected:
  void SetUp() override;
  // Runs both halves as the dispatcher does, customers first.
  void RunBoth(const std::vector<Record>& records);
  // The statements sent to one table, in order.
  std::vector<kv::test_support::sql::Statement> StatementsFor(const std::string& table) const;
};

}  // namespace brintavel::testing
