// Writing subscription message sets as qbXML and reading the responses back.

#include "platform/qb/subscription_xml.h"

#include <array>
#include <charconv>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "platform/xml/dom.h"
#include "platform/xml/escape.h"
#include "platform/xml/prolog.h"

namespace platform::qb {

namespace {

constexpr std::array<const char*, 3> kSubscriptionTypeNames = {"Data", "UI", "UIExtension"};
// A value that was present in the text but is neither a known name nor a number.
constexpr int kUnreadableValue = -2;

struct TypeName {
  int type;
  const char* name;
};
constexpr std::array<TypeName, 3> kTypeNames = {{{kRtUIExtensionSubscriptionAddRs, "UIExtensionSubscriptionAddRs"},
                                                 {kRtUIExtensionSubscriptionQueryRs, "UIExtensionSubscriptionQueryRs"},
                                                 {kRtSubscriptionDelRs, "SubscriptionDelRs"}}};

// ---------------------------------------------------------------- writing

void Element(std::string& out, std::string_view name, std::string_view text) {
  out += '<';
  out += name;
  out += '>';
  xml::AppendEscaped(out, text);
  out += "</";
  out += name;
  out += ">\n";
}

void Open(std::string& out, std::string_view name) {
  out += '<';
  out += name;
  out += ">\n";
}

void Close(std::string& out, std::string_view name) {
  out += "</";
  out += name;
  out += ">\n";
}

void Conditions(std::string& out, const char* name, const QBList<int>& values) {
  for (int value : values) Element(out, name, std::to_string(value));
}

void MenuItem(std::string& out, const MenuItemData& item, const char* elementName) {
  Open(out, elementName);
  Element(out, "MenuText", item.MenuText);
  Element(out, "EventTag", item.EventTag);
  if (!item.DisplayCondition.Empty()) {
    Open(out, "DisplayCondition");
    Conditions(out, "VisibleIf", item.DisplayCondition.VisibleIf);
    Conditions(out, "VisibleIfNot", item.DisplayCondition.VisibleIfNot);
    Conditions(out, "EnabledIf", item.DisplayCondition.EnabledIf);
    Conditions(out, "EnabledIfNot", item.DisplayCondition.EnabledIfNot);
    Close(out, "DisplayCondition");
  }
  Close(out, elementName);
}

void Subscription(std::string& out, const std::string& subscriberID, const COMCallbackInfoData& callback,
                  const MenuExtensionSubscriptionData& extension) {
  Element(out, "SubscriberID", subscriberID);
  Open(out, "COMCallbackInfo");
  Element(out, "AppName", callback.AppName);
  // QuickBooks takes one of the two: the ProgID when there is one.
  if (!callback.ProgID.empty() || callback.CLSID.empty()) {
    Element(out, "ProgID", callback.ProgID);
  } else {
    Element(out, "CLSID", callback.CLSID);
  }
  Close(out, "COMCallbackInfo");
  Open(out, "MenuExtensionSubscription");
  if (extension.AddToMenu != -1) {
    std::string name = AddToMenuName(extension.AddToMenu);
    Element(out, "AddToMenu", name.empty() ? std::to_string(extension.AddToMenu) : name);
  }
  if (extension.Menu) MenuItem(out, *extension.Menu, "Menu");
  if (extension.Submenu) {
    Open(out, "Submenu");
    if (!extension.Submenu->MenuText.empty()) Element(out, "MenuText", extension.Submenu->MenuText);
    for (const MenuItemData& item : extension.Submenu->MenuItemList) MenuItem(out, item, "MenuItem");
    Close(out, "Submenu");
  }
  Close(out, "MenuExtensionSubscription");
}

std::string SubscriptionTypeText(int type) {
  if (type >= 0 && type < static_cast<int>(kSubscriptionTypeNames.size())) {
    return kSubscriptionTypeNames[static_cast<size_t>(type)];
  }
  return std::to_string(type);
}

// ---------------------------------------------------------------- reading

using platform::xml::Node;
using platform::xml::NodeType;

bool Named(const Node& node, const char* name) {
  return node && node.nodeType() == NodeType::kElement && node.nodeName() == name;
}

// The first child element of that name, or a null node.
Node Child(const Node& parent, const char* name) {
  if (!parent) return {};
  for (Node node = parent.firstChild(); node; node = node.nextSibling()) {
    if (Named(node, name)) return node;
  }
  return {};
}

std::string ChildText(const Node& parent, const char* name) {
  const Node child = Child(parent, name);
  return child ? child.text() : "";
}

bool ParseInt(std::string_view text, int& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t')) text.remove_suffix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

int EnumValue(const std::string& text, int byName) {
  if (byName >= 0) return byName;
  int value = 0;
  return ParseInt(text, value) ? value : kUnreadableValue;
}

void ReadConditions(const Node& parent, const char* name, QBList<int>& values) {
  for (Node node = parent.firstChild(); node; node = node.nextSibling()) {
    if (!Named(node, name)) continue;
    int value = 0;
    values.Add(ParseInt(node.text(), value) ? value : kUnreadableValue);
  }
}

MenuItemData ReadMenuItem(const Node& node) {
  MenuItemData item;
  item.MenuText = ChildText(node, "MenuText");
  item.EventTag = ChildText(node, "EventTag");
  if (const Node condition = Child(node, "DisplayCondition")) {
    ReadConditions(condition, "VisibleIf", item.DisplayCondition.VisibleIf);
    ReadConditions(condition, "VisibleIfNot", item.DisplayCondition.VisibleIfNot);
    ReadConditions(condition, "EnabledIf", item.DisplayCondition.EnabledIf);
    ReadConditions(condition, "EnabledIfNot", item.DisplayCondition.EnabledIfNot);
  }
  return item;
}

template <class T>
void ReadSubscription(const Node& node, T& out) {
  out.SubscriberID = ChildText(node, "SubscriberID");
  if (const Node callback = Child(node, "COMCallbackInfo")) {
    out.COMCallbackInfo.AppName = ChildText(callback, "AppName");
    out.COMCallbackInfo.ProgID = ChildText(callback, "ProgID");
    out.COMCallbackInfo.CLSID = ChildText(callback, "CLSID");
  }
  if (const Node extension = Child(node, "MenuExtensionSubscription")) {
    if (const Node menu = Child(extension, "AddToMenu")) {
      const std::string name = menu.text();
      out.MenuExtensionSubscription.AddToMenu = EnumValue(name, AddToMenuValue(name));
    }
    if (const Node menu = Child(extension, "Menu")) out.MenuExtensionSubscription.Menu = ReadMenuItem(menu);
    if (const Node submenu = Child(extension, "Submenu")) {
      SubmenuData& data = out.MenuExtensionSubscription.Submenu.emplace();
      data.MenuText = ChildText(submenu, "MenuText");
      for (Node item = submenu.firstChild(); item; item = item.nextSibling()) {
        if (Named(item, "MenuItem")) data.MenuItemList.Add(ReadMenuItem(item));
      }
    }
  }
}

// The document's root element, or a null node when the text does not parse.
Node Root(platform::xml::Document& document, std::string_view xml) {
  return document.LoadXml(xml) ? document.documentElement() : Node();
}

// The message set element under QBXML, or a null node.
Node MessageSet(platform::xml::Document& document, std::string_view xml, const char* name) {
  const Node root = Root(document, xml);
  return Named(root, "QBXML") ? Child(root, name) : Node();
}

}  // namespace

std::string ResponseTypeName(int type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  return "";
}

std::string SubscriptionRequestsToXml(const SubscriptionMsgSetRequest& requests) {
  std::string out = "<?xml version=\"1.0\" ?>\n<?qbxml version=\"" + std::to_string(requests.QBXMLMajorVersion()) +
                    "." + std::to_string(requests.QBXMLMinorVersion()) + "\"?>\n<QBXML>\n<QBXMLSubscriptionMsgsRq>\n";
  int requestID = 0;
  for (const SubscriptionRequest& request : requests.Requests()) {
    std::string id = std::to_string(++requestID);
    switch (request.kind) {
      case SubscriptionRequest::Kind::kUIExtensionAdd:
        out += "<UIExtensionSubscriptionAddRq requestID=\"" + id + "\">\n";
        Open(out, "UIExtensionSubscriptionAdd");
        Subscription(out, request.add.SubscriberID, request.add.COMCallbackInfo, request.add.MenuExtensionSubscription);
        Close(out, "UIExtensionSubscriptionAdd");
        Close(out, "UIExtensionSubscriptionAddRq");
        break;
      case SubscriptionRequest::Kind::kDel:
        out += "<SubscriptionDelRq requestID=\"" + id + "\">\n";
        if (request.del.SubscriptionType != -1) {
          Element(out, "SubscriptionType", SubscriptionTypeText(request.del.SubscriptionType));
        }
        Element(out, "SubscriberID", request.del.SubscriberID);
        Close(out, "SubscriptionDelRq");
        break;
      case SubscriptionRequest::Kind::kUIExtensionQuery:
        out += "<UIExtensionSubscriptionQueryRq requestID=\"" + id + "\">\n";
        Element(out, "SubscriberID", request.query.SubscriberID);
        Close(out, "UIExtensionSubscriptionQueryRq");
        break;
    }
  }
  out += "</QBXMLSubscriptionMsgsRq>\n</QBXML>\n";
  return out;
}

SubscriptionMsgSetRequest SubscriptionRequestsFromXml(std::string_view xml) {
  platform::xml::Document document;
  const Node set = MessageSet(document, xml, "QBXMLSubscriptionMsgsRq");
  if (!set) {
    throw kv::Error(kErrRequestNotXml,
                    "QuickBooks found an error when parsing the subscription request: it is not "
                    "a QBXML document with a QBXMLSubscriptionMsgsRq element.");
  }
  int major = 0;
  int minor = 0;
  for (const platform::xml::Prolog::Instruction& instruction : platform::xml::ReadProlog(xml, true).instructions) {
    if (instruction.target != "qbxml") continue;
    const std::string version = platform::xml::PseudoAttribute(instruction.data, "version").value_or("");
    const size_t dot = version.find('.');
    if (dot == std::string::npos) continue;
    ParseInt(std::string_view(version).substr(0, dot), major);
    ParseInt(std::string_view(version).substr(dot + 1), minor);
  }
  SubscriptionMsgSetRequest requests(major, minor);
  for (Node node = set.firstChild(); node; node = node.nextSibling()) {
    if (node.nodeType() != NodeType::kElement) continue;
    if (Named(node, "UIExtensionSubscriptionAddRq")) {
      UIExtensionSubscriptionAdd& add = requests.AppendUIExtensionSubscriptionAddRq();
      if (const Node body = Child(node, "UIExtensionSubscriptionAdd")) ReadSubscription(body, add);
    } else if (Named(node, "SubscriptionDelRq")) {
      SubscriptionDel& del = requests.AppendSubscriptionDelRq();
      del.SubscriberID = ChildText(node, "SubscriberID");
      if (const Node type = Child(node, "SubscriptionType")) {
        const std::string text = type.text();
        int byName = -1;
        for (size_t i = 0; i < kSubscriptionTypeNames.size(); ++i) {
          if (text == kSubscriptionTypeNames[i]) byName = static_cast<int>(i);
        }
        del.SubscriptionType = EnumValue(text, byName);
      }
    } else if (Named(node, "UIExtensionSubscriptionQueryRq")) {
      requests.AppendUIExtensionSubscriptionQueryRq().SubscriberID = ChildText(node, "SubscriberID");
    } else {
      throw kv::Error(kErrRequestNotXml, "QuickBooks does not know the subscription request " + node.nodeName() + ".");
    }
  }
  return requests;
}

std::string SubscriptionRetToXml(const UIExtensionSubscriptionRet& subscription) {
  std::string out;
  Open(out, "UIExtensionSubscriptionRet");
  Subscription(out, subscription.SubscriberID, subscription.COMCallbackInfo, subscription.MenuExtensionSubscription);
  Close(out, "UIExtensionSubscriptionRet");
  return out;
}

UIExtensionSubscriptionRet SubscriptionRetFromXml(std::string_view xml) {
  platform::xml::Document document;
  const Node root = Root(document, xml);
  if (!Named(root, "UIExtensionSubscriptionRet")) {
    throw kv::Error(kErrRequestNotXml, "The text is not a UIExtensionSubscriptionRet element.");
  }
  UIExtensionSubscriptionRet subscription;
  ReadSubscription(root, subscription);
  return subscription;
}

std::string SubscriptionResponsesToXml(const SubscriptionMsgSetResponse& responses) {
  std::string out = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLSubscriptionMsgsRs>\n";
  if (const SubscriptionResponseList* list = responses.ResponseList()) {
    for (int i = 0; i < list->Count(); ++i) {
      const SubscriptionResponse& response = list->GetAt(i);
      std::string name = ResponseTypeName(response.Type());
      if (name.empty()) name = "UnknownRs";
      out += "<" + name + " requestID=\"" + std::to_string(i + 1) + "\" statusCode=\"" +
             std::to_string(response.StatusCode()) + "\" statusSeverity=\"" +
             xml::EscapeXmlAttribute(response.StatusSeverity()) + "\" statusMessage=\"" +
             xml::EscapeXmlAttribute(response.StatusMessage()) + "\"";
      auto* ret = dynamic_cast<const UIExtensionSubscriptionRet*>(response.Detail());
      if (ret == nullptr) {
        out += " />\n";
        continue;
      }
      out += ">\n" + SubscriptionRetToXml(*ret);
      Close(out, name);
    }
  }
  out += "</QBXMLSubscriptionMsgsRs>\n</QBXML>\n";
  return out;
}

std::unique_ptr<SubscriptionMsgSetResponse> SubscriptionResponsesFromXml(std::string_view xml) {
  platform::xml::Document document;
  const Node set = MessageSet(document, xml, "QBXMLSubscriptionMsgsRs");
  if (!set) {
    throw kv::Error(kErrCannotReachQuickBooks,
                    "QuickBooks answered the subscription requests with a text that is "
                    "not a subscription response set.");
  }
  auto responses = std::make_unique<SubscriptionMsgSetResponse>();
  for (Node node = set.firstChild(); node; node = node.nextSibling()) {
    if (node.nodeType() != NodeType::kElement) continue;
    int type = 0;
    for (const TypeName& entry : kTypeNames) {
      if (Named(node, entry.name)) type = entry.type;
    }
    int statusCode = 0;
    if (!ParseInt(node.getAttribute("statusCode"), statusCode)) statusCode = -1;
    std::shared_ptr<const ResponseDetail> detail;
    if (const Node retNode = Child(node, "UIExtensionSubscriptionRet")) {
      auto ret = std::make_shared<UIExtensionSubscriptionRet>();
      ReadSubscription(retNode, *ret);
      detail = std::move(ret);
    }
    responses->MutableResponseList().Append(SubscriptionResponse(
        type, statusCode, node.getAttribute("statusSeverity"), node.getAttribute("statusMessage"), std::move(detail)));
  }
  return responses;
}

}  // namespace platform::qb
