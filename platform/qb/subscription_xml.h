#pragma once

// The qbXML text of subscription message sets, apart so that the stand-in reads and writes the same form.

#include <memory>
#include <string>
#include <string_view>

#include "platform/qb/subscription.h"

namespace platform::qb {

// The qbXML text of subscription message sets, as it travels between the session manager and QuickBooks:
// QBXML/QBXMLSubscriptionMsgsRq with UIExtensionSubscriptionAddRq, SubscriptionDelRq and
// UIExtensionSubscriptionQueryRq (requestID 1, 2, ... in order), and QBXML/QBXMLSubscriptionMsgsRs with one
// ...Rs per request carrying statusCode, statusSeverity and statusMessage, the query's Rs holding a
// UIExtensionSubscriptionRet. Enumerations travel as QuickBooks' names (AddToMenu "File", SubscriptionType
// "UIExtension"); a value without a name travels as its number.

std::string SubscriptionRequestsToXml(const SubscriptionMsgSetRequest& requests);
// Raises kv::Error kErrRequestNotXml for a text that is not such a request set.
SubscriptionMsgSetRequest SubscriptionRequestsFromXml(std::string_view xml);

std::string SubscriptionResponsesToXml(const SubscriptionMsgSetResponse& responses);
// Raises kv::Error kErrCannotReachQuickBooks for a text that is not such a response set.
std::unique_ptr<SubscriptionMsgSetResponse> SubscriptionResponsesFromXml(std::string_view xml);

// One subscription as a UIExtensionSubscriptionRet element (how the stand-in keeps it) and back.
std::string SubscriptionRetToXml(const UIExtensionSubscriptionRet& subscription);
// Raises kv::Error kErrRequestNotXml when the text is not such an element.
UIExtensionSubscriptionRet SubscriptionRetFromXml(std::string_view xml);

// The name of a response type code ("UIExtensionSubscriptionQueryRs"), "" for an unknown one.
std::string ResponseTypeName(int type);

}  // namespace platform::qb
