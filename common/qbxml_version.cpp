// The version table of both controls' readings, the predicates on a version, and the document frame.

#include "common/qbxml_version.h"

#include <array>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace kv::qb {

QBXMLVersion ReadQBXMLVersion(std::string_view version, VersionReading reading) {
  static constexpr std::array<std::pair<std::string_view, QBXMLVersion>, 9> kVersions = {{
      {"1.0", QBXMLVersion::kUS1_0},
      {"1.1", QBXMLVersion::kUS1_1},
      {"2.0", QBXMLVersion::kUS2_0},
      {"CA1.0", QBXMLVersion::kCA1_0},
      {"CA1.1", QBXMLVersion::kCA1_1},
      {"CA2.0", QBXMLVersion::kCA2_0},
      {"UK1.0", QBXMLVersion::kUK1_0},
      {"UK1.1", QBXMLVersion::kUK1_1},
      {"UK2.0", QBXMLVersion::kUK2_0},
  }};
  const bool sync = reading == VersionReading::kSyncControl;
  for (const auto& [text, code] : kVersions) {
    if (version != text) continue;
    const bool uk1 = code == QBXMLVersion::kUK1_0 || code == QBXMLVersion::kUK1_1;
    return sync && uk1 ? QBXMLVersion::kUS1_0 : code;
  }
  if (sync) return QBXMLVersion::kUS1_0;
  try {
    return kv::LeadingNumber(version) > 2 ? QBXMLVersion::kUS2_0 : QBXMLVersion::kUS1_0;
  } catch (const kv::Error&) {
    return QBXMLVersion::kUS2_0;  // a number too large for a double is a later version all the same
  }
}

std::string_view EditionText(QBXMLVersion version) {
  switch (version) {
    case QBXMLVersion::kCA1_0:
      return "CA1.0";
    case QBXMLVersion::kCA1_1:
      return "CA1.1";
    case QBXMLVersion::kCA2_0:
      return "CA2.0";
    case QBXMLVersion::kUK1_0:
      return "UK1.0";
    case QBXMLVersion::kUK1_1:
      return "UK1.1";
    case QBXMLVersion::kUK2_0:
      return "UK2.0";
    default:
      return {};
  }
}

bool HasErrorRecovery(QBXMLVersion version) {
  return version == QBXMLVersion::kUS2_0 || version == QBXMLVersion::kCA2_0 || version == QBXMLVersion::kUK2_0;
}

bool HasBillableStatus(QBXMLVersion version) {
  return static_cast<int32_t>(version) >= static_cast<int32_t>(QBXMLVersion::kUS2_0);
}

std::string QBXMLDocumentHeader(QBXMLVersion version) {
  if (const std::string_view edition = EditionText(version); !edition.empty()) {
    return std::string("<?xml version=\"1.0\" ?><?qbxml version=\"").append(edition).append("\"?>");
  }
  const auto code = static_cast<int32_t>(version);
  const bool us2 =
      code >= static_cast<int32_t>(QBXMLVersion::kUS2_0) && code <= static_cast<int32_t>(QBXMLVersion::kUSLater5);
  std::string header = "<?xml version = \"1.0\"?>\r\n";
  header += us2 ? "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n"
                : "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n";
  return header;
}

std::string QBXMLBody(std::string_view requests, std::string_view message_set_id, MessageSetIDRole role) {
  std::string body = "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\"";
  if (!message_set_id.empty()) {
    body += role == MessageSetIDRole::kNew ? " newMessageSetID = \"" : " oldMessageSetID = \"";
    body += message_set_id;
    body += '"';
  }
  body += ">\r\n";
  body += requests;
  body += "</QBXMLMsgsRq>\r\n</QBXML>";
  return body;
}

}  // namespace kv::qb
