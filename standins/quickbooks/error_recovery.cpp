#include "standins/quickbooks/error_recovery.h"

#include "platform/qb/xml_text.h"
#include "standins/quickbooks/xml_scan.h"

namespace standins::quickbooks {

using platform::qb::EscapeXmlAttribute;

std::optional<KeptMessageSet> FindKeptMessageSet(const Company& company, const Application& application) {
  for (const Record& record : company.records()) {
    if (record.kind != kKeptMessageSetElement) continue;
    try {
      ElementSpan element = ScanElement(record.text, 0);
      if (AttributeOf(record.text, element, "appID").value_or("") != application.id ||
          AttributeOf(record.text, element, "appName").value_or("") != application.name) {
        continue;
      }
      return KeptMessageSet{&record, AttributeOf(record.text, element, "messageSetID").value_or(""),
                            DecodedText(record.text, element)};
    } catch (const XmlScanError& e) {
      throw CompanyError("The company file " + company.path().string() +
                         " holds an unreadable error-recovery record: " + e.what() + ".");
    }
  }
  return std::nullopt;
}

std::string KeptMessageSetElement(const Application& application, std::string_view messageSetID,
                                  std::string_view response) {
  return "<" + std::string(kKeptMessageSetElement) + " appID=\"" + EscapeXmlAttribute(application.id) +
         "\" appName=\"" + EscapeXmlAttribute(application.name) + "\" messageSetID=\"" +
         EscapeXmlAttribute(messageSetID) + "\">" +
         // Escaped as an attribute is, so that the element stays on one line of the file: indenting records
         // must not add blanks to the kept text, and a parser must not turn its line ends into others.
         EscapeXmlAttribute(response) + "</" + std::string(kKeptMessageSetElement) + ">";
}

std::string MessageSetStatusResponse(int messageSetStatusCode) {
  return "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs messageSetStatusCode=\"" +
         std::to_string(messageSetStatusCode) + "\" />\n</QBXML>\n";
}

}  // namespace standins::quickbooks
