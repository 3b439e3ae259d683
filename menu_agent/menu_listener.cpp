// The callback object QuickBooks informs of a pick: reading the event text and handing the pick on.

#include "menu_agent/menu_listener.h"

#include <cmath>
#include <limits>
#include <memory>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_actions.h"
#include "menu_agent/menu_subscription.h"
#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/qb/class_factory.h"

namespace corvalink {
namespace {

constexpr std::string_view kTagMarker = "<EventTag>";
// Length of the closing "</EventTag>" that ends a well-formed tag line.
constexpr size_t kClosingLength = 11;

// Reads the site values back from the agent's subscription; a response that is not the subscription leaves
// them as they were. False when QuickBooks gave no request set or no response list: the pick then ends quietly.
bool ReadSiteValuesFromSubscription() {
  MainModState& state = MainMod();
  std::unique_ptr<platform::qb::QBSessionManager> manager = platform::qb::CreateSessionManager();
  std::unique_ptr<platform::qb::SubscriptionMsgSetRequest> set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  if (!set) return false;
  set->AppendUIExtensionSubscriptionQueryRq().SubscriberID = state.SubscriberID;
  manager->OpenConnection("", kAppName);
  std::unique_ptr<platform::qb::SubscriptionMsgSetResponse> responses = manager->DoSubscriptionRequests(*set);
  manager->CloseConnection();
  if (!responses || !responses->ResponseList()) return false;
  const platform::qb::SubscriptionResponseList& list = *responses->ResponseList();
  for (int i = 0; i < list.Count(); ++i) {
    const platform::qb::SubscriptionResponse& response = list.GetAt(i);
    if (response.StatusCode() != 0) continue;
    if (response.Detail() == nullptr) continue;
    if (response.Type() != platform::qb::kRtUIExtensionSubscriptionQueryRs) continue;
    const auto* record = dynamic_cast<const platform::qb::UIExtensionSubscriptionRet*>(response.Detail());
    if (record == nullptr) throw kv::TypeMismatch();
    const auto& submenu = record->MenuExtensionSubscription.Submenu;
    if (!submenu) throw kv::Error(kv::kErrObjectRequired, "The Kalvor subscription holds no submenu.");
    state.SiteID = submenu->MenuItemList.GetAt(kSiteIdPosition).EventTag;
    state.SiteCode = submenu->MenuItemList.GetAt(kSiteCodePosition).EventTag;
  }
  return true;
}

}  // namespace

QBMenuListener::QBMenuListener() {
  kalvorSync& host = HostForm();
  host.Load();
  host.Hide();
}

QBMenuListener::~QBMenuListener() {
  if (!HostFormLoaded()) return;
  kalvorSync& host = HostForm();
  host.Hide();
  host.Unload();
}

std::vector<std::string> EventTagLines(std::string_view eventXML) {
  std::vector<std::string> tags;
  const std::vector<std::string> lines = kv::Split(eventXML, "\n");
  if (lines.size() <= 1) return tags;
  for (const std::string& line : lines) {
    if (line.compare(0, kTagMarker.size(), kTagMarker) == 0) tags.push_back(line);
  }
  return tags;
}

std::string TagTextOf(std::string_view tagLine) {
  if (tagLine.size() < kTagMarker.size() + kClosingLength) {
    throw kv::Error(kv::kErrInvalidArgument, "Invalid procedure call or argument");
  }
  return std::string(tagLine.substr(kTagMarker.size(), tagLine.size() - kTagMarker.size() - kClosingLength));
}

long TagNumber(std::string_view text) {
  const double value = kv::ParseNumber(text);
  const double rounded = std::nearbyint(value);  // the default rounding mode: half to even
  if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<int32_t>::max())) {
    throw kv::Error(kv::kErrOverflow, "Overflow");
  }
  return static_cast<long>(rounded);
}

void QBMenuListener::inform(const std::string& eventXML) {
  const std::string event = eventXML;
  MainMod().SubscriberID = kSubscriberID;
  if (!ReadSiteValuesFromSubscription()) return;
  for (const std::string& line : EventTagLines(event)) {
    DispatchMenuEvent(TagNumber(TagTextOf(line)));
  }
}

}  // namespace corvalink
