// Message set ids, the status check of an earlier message set and the reading of its answer.

#include "download_control/message_sets.h"

#include <cstdio>
#include <ctime>
#include <random>

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

std::string MessageSetStatusCheck(kv::qb::QBXMLVersion version, std::string_view message_set_id) {
  return kv::qb::QBXMLDocumentHeader(version) + kv::qb::QBXMLBody({}, message_set_id, kv::qb::MessageSetIDRole::kOld);
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
