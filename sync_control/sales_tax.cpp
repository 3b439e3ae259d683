#include "platform/xml/dom.h"
#include "sync_control/brintavel_ctl.h"

namespace brintavel {

void BrintavelCtl::LoadSalesTaxCodes() {
  platform::xml::Document document;
  document.LoadXml(Module().sQBXMLResponse);
  LoadSalesTaxCodes(document);
}

void BrintavelCtl::LoadSalesTaxCodes(const platform::xml::Document& document) {
  // A response that does not parse keeps the earlier list.
  if (!document.parsed()) return;
  const platform::xml::NodeList codes = document.getElementsByTagName("SalesTaxCodeRet");
  std::unordered_map<std::string, bool> taxable_by_name;
  for (size_t i = 0; i < codes.length(); ++i) {
    const platform::xml::Node code = codes.item(i);
    const platform::xml::Node code_name = code.selectSingleNode("Name");
    // A record without a name cannot be the one asked about.
    if (code_name.IsNull()) continue;
    const platform::xml::Node taxable = code.selectSingleNode("IsTaxable");
    // The first code of a name decides, as a lookup in document order would.
    taxable_by_name.try_emplace(code_name.text(), !taxable.IsNull() && taxable.text() == "true");
  }
  objSalesTaxCodes = std::move(taxable_by_name);
}

bool BrintavelCtl::IsSalesTaxCodeTaxable(const std::string& name) const {
  if (!objSalesTaxCodes) return false;
  const auto found = objSalesTaxCodes->find(name);
  return found != objSalesTaxCodes->end() && found->second;
}

}  // namespace brintavel
