#include "download_control/message_sets.h"

#include <cstdio>
#include <ctime>
#include <random>

#include "download_control/qbxml_text.h"
#include "platform/xml/dom.h"

namespace tessarine {

std::string NewMessageSetID() {
  static thread_local std::random_device device;
  const uint64_t random = (static_cast<uint64_t>(device()) << 32 | device()) & ((uint64_t{1} << 52) - 1);
  char text[32];
  std::snprintf(text, sizeof text, "KV%08llx%013llx",
                static_cast<unsigned long long>(static_cast<uint32_t>(std::time(nullptr))),
                static_cast<unsigned long long>(random));
  return std::string(text, kMaxMessageSetIDLength);
}

bool HasErrorRecovery(int32_t version_code) {
  // 2.0, CA2.0, UK2.0; any newer US version is written as 2.0 too.
  return version_code == 2 || version_code == 8 || version_code == 11;
}

std::string MessageSetStatusCheck(int32_t version_code, std::string_view message_set_id) {
  std::string body = "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\" oldMessageSetID = \"";
  body += message_set_id;
  body += "\">\r\n</QBXMLMsgsRq>\r\n</QBXML>";
  return QBXMLDocumentHeader(version_code) + body;
}

MessageSetOutcome OutcomeOfStatusCheck(std::string_view response) {
  platform::xml::Document doc;
  if (response.empty() || !doc.LoadXml(response)) return MessageSetOutcome::kUnknown;
  const platform::xml::Node messages = doc.documentElement().selectSingleNode("QBXMLMsgsRs");
  if (!messages) return MessageSetOutcome::kUnknown;
  const std::string code = messages.getAttribute("messageSetStatusCode");
  if (code == "0") return MessageSetOutcome::kProcessed;
  if (code == "600") return MessageSetOutcome::kNotProcessed;
  return MessageSetOutcome::kUnknown;
}

}  // namespace tessarine
