#pragma once

// The stand-in is as strict as QuickBooks: every request document is checked against the message set of the
// version its header names (our own XML Schema files under qbxml/) before any message of it is read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standins::quickbooks {

// A request as the checks and the handler read it: as UTF-8 whatever its encoding, without its document type
// declaration (qbXML's names a public id without a system id, which XML does not allow), and the version its
// prolog names. Raises kv::Error kErrRequestNotXml when the text does not decode.
struct QBXMLRequestText {
  std::string text;
  std::optional<std::string> version;
};
QBXMLRequestText ReadQBXMLRequest(std::string_view request);

// The version a request names: a <?qbxml version="..."?> instruction, else the public id of a QBXML DOCTYPE
// ("-//INTUIT//DTD QBXML QBD 2.0//EN" names "2.0"); nothing when the prolog names none.
std::optional<std::string> HeaderVersion(std::string_view request);

// A text longer than QuickBooks keeps for its field: its message fails, the others go on.
struct TooLongText {
  size_t message = 0;  // position of the message in the message set
  std::string field;
  std::string value;
};

// Checks a QBXMLMsgsRq request against the message set of its version, which must be one the company file
// lists. Raises kv::Error kErrRequestNotXml (kParseErrorText, then the reason) when the whole request is
// refused; returns the texts over their length otherwise.
std::vector<TooLongText> CheckQBXMLRequest(std::string_view request, const std::vector<std::string>& companyVersions);
std::vector<TooLongText> CheckQBXMLRequest(const QBXMLRequestText& request,
                                           const std::vector<std::string>& companyVersions);

// The same for a QBXMLSubscriptionMsgsRq request, whose version must lie between 3.0, the first with
// subscriptions, and the integration library's own. Every text over its length refuses the whole request.
void CheckSubscriptionRequest(std::string_view request, int libraryMajor, int libraryMinor);

}  // namespace standins::quickbooks
