#include "platform/xml/dom.h"
#include "sync_control/brintavel_ctl.h"

namespace brintavel {

void BrintavelCtl::LoadSalesTaxCodes() {
  platform::xml::Document document;
  document.LoadXml(Module().sQBXMLResponse);
  // A response that does not parse keeps the earlier list.
  if (document.parsed()) objSalesTaxCodes = document.getElementsByTagName("SalesTaxCodeRet");
}

bool BrintavelCtl::IsSalesTaxCodeTaxable(const std::string& name) const {
  if (!objSalesTaxCodes) return false;
  for (size_t i = 0; i < objSalesTaxCodes->length(); ++i) {
    const platform::xml::Node code = objSalesTaxCodes->item(i);
    const platform::xml::Node code_name = code.selectSingleNode("Name");
    // A record without a name cannot be the one asked about.
    if (code_name.IsNull() || code_name.text() != name) continue;
    const platform::xml::Node taxable = code.selectSingleNode("IsTaxable");
    return !taxable.IsNull() && taxable.text() == "true";
  }
  return false;
}

}  // namespace brintavel
