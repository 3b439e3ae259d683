#pragma once

// Item records for the item converter's tests, and the qbXML response that holds them. A child named with a
// path ("SalesOrPurchase/AccountRef/FullName") is written nested; consecutive children of one parent share it.

#include <string>
#include <vector>

#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {

// A service, non-inventory or other-charge item with a SalesOrPurchase part.
Record SalesItem(const std::string& element, const std::string& list_id, const std::string& full_name);
Record ServiceItem(const std::string& list_id, const std::string& full_name = "Design");
Record PayrollItem(const std::string& list_id, const std::string& name, const std::string& wage_type);
Record SalesTaxCode(const std::string& name, const std::string& is_taxable);

// count items "<prefix>-<i>" of one kind.
std::vector<Record> Items(const std::string& element, const std::string& prefix, size_t count);

std::string ItemResponse(const std::vector<Record>& records);

template <class... Lists>
std::vector<Record> Concat(std::vector<Record> first, const Lists&... rest) {
  (first.insert(first.end(), rest.begin(), rest.end()), ...);
  return first;
}

}  // namespace brintavel::testing
