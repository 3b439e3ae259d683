// QuickBooks' error-recovery memory per application, kept in the company file under its lock.

#include "standins/quickbooks/error_recovery.h"

#include "platform/xml/escape.h"

namespace standins::quickbooks {

using platform::xml::EscapeXmlAttribute;

std::optional<KeptMessageSet> FindKeptMessageSet(const Company& company, const Application& application) {
  for (const Record& record : company.records()) {
    if (record.kind != kKeptMessageSetElement) continue;
    if (FieldText(record, "AppID").value_or("") != application.id ||
        FieldText(record, "AppName").value_or("") != application.name) {
      continue;
    }
    return KeptMessageSet{&record, std::string(FieldText(record, "MessageSetID").value_or("")),
                          std::string(FieldText(record, "Response").value_or(""))};
  }
  return std::nullopt;
}

std::string KeptMessageSetElement(const Application& application, std::string_view messageSetID,
                                  std::string_view response) {
  // Escaped as an attribute is, so that the element stays on one line of the file: indenting records must not add
  // blanks to the kept text, and a parser must not turn its line ends into others.
  // Built by appending: GCC 12 at -O3 takes "<" + std::string&& for an overlapping copy (-Wrestrict).
  std::string element;
  auto open = [&element](std::string_view name) { element.append("<").append(name).append(">"); };
  auto close = [&element](std::string_view name) { element.append("</").append(name).append(">"); };
  auto leaf = [&](std::string_view name, std::string_view text) {
    open(name);
    element += EscapeXmlAttribute(text);
    close(name);
  };
  open(kKeptMessageSetElement);
  leaf("AppID", application.id);
  leaf("AppName", application.name);
  leaf("MessageSetID", messageSetID);
  leaf("Response", response);
  close(kKeptMessageSetElement);
  return element;
}

std::string MessageSetStatusResponse(int messageSetStatusCode) {
  return "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs messageSetStatusCode=\"" +
         std::to_string(messageSetStatusCode) + "\" />\n</QBXML>\n";
}

}  // namespace standins::quickbooks
