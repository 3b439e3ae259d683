#pragma once

// QuickBooks' error numbers as the callers compare them.

#include <cstdint>

namespace platform::qb {

// Error numbers that QuickBooks' integration raises through kv::Error. They are the signed 32-bit values of the
// COM status codes, as a caller sees them in an error number (0x80040416 is -2147220458), so a caller compares
// e.number() with these constants and never with the unsigned literal.
constexpr int64_t QBError(uint32_t code) {
  return static_cast<int32_t>(code);
}

// No company file open, i.e. QuickBooks is not running. The description always begins with kNotRunningText.
inline constexpr int64_t kErrQBNotRunning = QBError(0x80040416u);
// QuickBooks is running but cannot give a session on a company file (kept for fakes: the stand-in never raises it).
inline constexpr int64_t kErrQBNoCompanyFile = QBError(0x80040418u);
// The user has not allowed this application to use the company file.
inline constexpr int64_t kErrAccessDenied = QBError(0x80040420u);
// The application may not use this company file (kept for fakes).
inline constexpr int64_t kErrNoPermission = QBError(0x8004041Au);
// The company file that BeginSession names is not the one open in QuickBooks.
inline constexpr int64_t kErrDifferentFileOpen = QBError(0x8004040Au);
// The open mode clashes with another application's session: single-user use was asked for while another
// application shares the file, or another application holds it in single-user use.
inline constexpr int64_t kErrSingleUserConflict = QBError(0x80040422u);
// Kept for fakes: a failure the menu agent reports with QuickBooks' own text.
inline constexpr int64_t kErrQBGeneral = QBError(0x80040406u);

// Failures of the conversation itself.
inline constexpr int64_t kErrRequestNotXml = QBError(0x80040400u);  // ProcessRequest text is not well-formed XML
inline constexpr int64_t kErrCannotReachQuickBooks = QBError(0x80040401u);  // QuickBooks went away mid-call
inline constexpr int64_t kErrUnexpected = QBError(0x80040402u);             // QuickBooks failed inside
inline constexpr int64_t kErrCannotOpenFile = QBError(0x80040403u);         // the open company file cannot be read
inline constexpr int64_t kErrInvalidTicket = QBError(0x80040404u);          // ticket of no open session
inline constexpr int64_t kErrNotConnected = QBError(0x80040407u);           // call before OpenConnection
inline constexpr int64_t kErrAlreadyOpen = QBError(0x8004040Bu);            // second OpenConnection or BeginSession
// No answer within KV_COM_TIMEOUT_SECONDS. Our own number in QuickBooks' range: the process that did not answer
// is ended, so whatever the call did is settled, and only asking QuickBooks again tells what that was.
inline constexpr int64_t kErrQBNoAnswer = QBError(0x80040428u);
inline constexpr int64_t kErrIndexOutOfRange = 9;  // GetAt past the end of a list
// The integration class cannot be created (QuickBooks' integration is not installed).
inline constexpr int64_t kErrCannotCreateObject = 429;

// The beginning of every not-running description; callers test only these 28 characters.
inline constexpr const char* kNotRunningText = "If QuickBooks is not running";

}  // namespace platform::qb
