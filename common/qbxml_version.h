#pragma once

// The qbXML version a QuickBooks session speaks, how each control reads it from the session's version list, what
// a version admits, and the document frame (header and message set) every request of either control is sent in.
// Its own file because the sync's query, the download's adds, status checks and witness queries all build on it.

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::qb {

// The version codes the controls keep in their module state. Codes 3 to 5 lie between the US and the Canadian
// editions in the table both controls share; no reading produces them, and a request sent with one gets the
// 2.0 header.
enum class QBXMLVersion : int32_t {
  kUS1_0 = 0,
  kUS1_1 = 1,
  kUS2_0 = 2,
  kUSLater3 = 3,
  kUSLater4 = 4,
  kUSLater5 = 5,
  kCA1_0 = 6,
  kCA1_1 = 7,
  kCA2_0 = 8,
  kUK1_0 = 9,
  kUK1_1 = 10,
  kUK2_0 = 11,
};

// How a control reads the newest version a session speaks. The two controls were taught different tables and
// the service has always received what each sends, so neither is "corrected" to the other:
//   kSyncControl      UK1.0 and UK1.1, and every text the table does not list, read as 1.0, so a sync with such
//                     a company file sends the qbXML 1.0 header;
//   kDownloadControl  all nine versions, and an unlisted text whose leading number is above 2 read as 2.0.
enum class VersionReading { kSyncControl, kDownloadControl };

// The version of one text of a session's version list; the text must match exactly.
QBXMLVersion ReadQBXMLVersion(std::string_view version, VersionReading reading);

// The version text of a Canadian or UK edition as its qbxml processing instruction names it ("CA2.0"); empty
// for the US versions, whose documents name their version in a DOCTYPE line instead.
std::string_view EditionText(QBXMLVersion version);

// Whether QuickBooks keeps the answer of a message set sent with this version for a later status check: 2.0,
// CA2.0 and UK2.0 (a later US version is read as 2.0).
bool HasErrorRecovery(QBXMLVersion version);

// Whether an expense line is sent with, and read back with, its billable status. Both controls decide it by the
// code, 2 and above, so every Canadian and UK edition admits it, 1.0 and 1.1 of those too; only US 1.0 and 1.1
// do not.
bool HasBillableStatus(QBXMLVersion version);

// The XML declaration and qbXML version line that precede the <QBXML> body: a qbxml processing instruction for
// the Canadian and UK editions, a DOCTYPE line of 1.0 or 2.0 for the US versions.
std::string QBXMLDocumentHeader(QBXMLVersion version);

// Which message set an id on the message set names: a new one, whose answer QuickBooks is to keep for a later
// status check, or an old one, whose kept answer a status check asks for.
enum class MessageSetIDRole { kNew, kOld };

// "<QBXML>" and the message set (errors let the next request go on) around one or more requests, without the
// header; the message set carries the id when one is given.
std::string QBXMLBody(std::string_view requests, std::string_view message_set_id = {},
                      MessageSetIDRole role = MessageSetIDRole::kNew);

}  // namespace kv::qb
