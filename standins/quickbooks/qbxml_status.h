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
inline constexpr int kStatusNoMatch = 1;           // Warn: a query found nothing
inline constexpr int kStatusObjectNotFound = 500;  // Warn: a query named an id QuickBooks does not hold
inline constexpr int kStatusInvalidValue = 3000;   // a missing, unknown or unreadable element or value
inline constexpr int kStatusInvalidDate = 3020;
inline constexpr int kStatusInvalidDateRange = 3030;  // the From date is after the To date
inline constexpr int kStatusStringTooLong = 3070;
inline constexpr int kStatusInvalidReference = 3140;
inline constexpr int kStatusCouldNotSave = 3180;
inline constexpr int kStatusUnsupported = 3250;  // a request QuickBooks does not know

// messageSetStatusCode of a message set that asked for error recovery (newMessageSetID, oldMessageSetID). 600 is
// in the status-code table above; the 9000 codes and their meanings are those of the SDK's error-recovery sample.
// The attribute carries no text on the wire: the texts say what each code means to the application.
inline constexpr int kMessageSetProcessed = 0;
// "No cleared state to return": the oldMessageSetID matches no kept message set of the application (never
// processed, replaced by a later one, or cleared), and the message set has nothing else to process.
inline constexpr int kMessageSetNotKept = 600;
inline constexpr int kMessageSetNoStoredResponse = 9002;  // "No stored response was found."
// "Invalid MessageSetID, greater than 24 character was given." QuickBooks' stated limit is 23 characters.
inline constexpr int kMessageSetIDTooLong = 9004;
inline constexpr int kMessageSetCannotStore = 9005;  // "Unable to store response."
inline constexpr size_t kMaxMessageSetID = 23;
// The oldMessageSetID that drops every message set kept for the application.
inline constexpr std::string_view kClearAllMessageSets = "ClearAllMessageSets";

// The status message of kStatusStringTooLong.
inline std::string StringTooLongMessage(std::string_view value, std::string_view field) {
  return "The string \"" + std::string(value) + "\" in the field \"" + std::string(field) + "\" is too long.";
}

}  // namespace standins::quickbooks
