#pragma once

// QuickBooks' answers to requests it cannot take, with the numbers and texts of its public SDK reference: the
// HRESULT table and the "Status codes in response messages" table of the qbXML onscreen reference
// (https://developer.intuit.com/app/developer/qbdesktop/docs/develop/exploring-the-quickbooks-desktop-sdk/
// status-codes-in-response-messages). The request processor's error numbers are in platform/qb/qb_errors.h.

#include <string>
#include <string_view>

namespace standins::quickbooks {

// The description of error 0x80040400 (kErrRequestNotXml): the whole request is refused, before any message is
// read, when its text is not XML, names no version or one QuickBooks does not serve, or does not fit the
// message set of its version.
inline constexpr std::string_view kParseErrorText =
    "QuickBooks found an error when parsing the provided XML text stream.";

// Status codes of the ...Rs elements.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusNoMatch = 1;          // Warn: a query found nothing
inline constexpr int kStatusInvalidValue = 3000;  // a missing, unknown or unreadable element or value
inline constexpr int kStatusStringTooLong = 3070;
inline constexpr int kStatusInvalidReference = 3140;
inline constexpr int kStatusCouldNotSave = 3180;
inline constexpr int kStatusUnsupported = 3250;  // a request QuickBooks does not know

// The status message of kStatusStringTooLong.
inline std::string StringTooLongMessage(std::string_view value, std::string_view field) {
  return "The string \"" + std::string(value) + "\" in the field \"" + std::string(field) + "\" is too long.";
}

}  // namespace standins::quickbooks
