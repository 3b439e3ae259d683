// The sales-tax codes of the answer and whether each is taxable, which the item columns ask.

#include "platform/xml/dom.h"
#include "platform/xml/element_stream.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/response_index.h"

namespace brintavel {
namespace {

// The first code of a name decides, as a lookup in document order would.
void AddSalesTaxCode(const platform::xml::Node& code, std::unordered_map<std::string, bool>& taxable_by_name) {
  const platform::xml::Node code_name = code.selectSingleNode("Name");
  // A record without a name cannot be the one asked about.
  if (code_name.IsNull()) return;
  const platform::xml::Node taxable = code.selectSingleNode("IsTaxable");
  taxable_by_name.try_emplace(code_name.text(), !taxable.IsNull() && taxable.text() == "true");
}

}  // namespace

void BrintavelCtl::LoadSalesTaxCodes() {
  // The codes are a few records of what may be a very large item response: read one at a time, never as a tree.
  const std::vector<std::string> names{"SalesTaxCodeRet"};
  platform::xml::ElementStream codes(ResponseIndex(names), names);
  std::unordered_map<std::string, bool> taxable_by_name;
  for (platform::xml::Node code = codes.Next(); code; code = codes.Next()) AddSalesTaxCode(code, taxable_by_name);
  // A response that does not parse keeps the earlier list.
  if (codes.failed()) return;
  objSalesTaxCodes = std::move(taxable_by_name);
}

bool BrintavelCtl::IsSalesTaxCodeTaxable(const std::string& name) const {
  if (!objSalesTaxCodes) return false;
  const auto found = objSalesTaxCodes->find(name);
  return found != objSalesTaxCodes->end() && found->second;
}

}  // namespace brintavel
