#include "platform/qb/subscription_xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <array>
#include <charconv>
#include <cstring>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "platform/qb/xml_text.h"

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
  AppendEscaped(out, text);
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

struct Document {
  xmlDocPtr doc = nullptr;
  ~Document() {
    if (doc != nullptr) xmlFreeDoc(doc);
  }
};

bool Named(xmlNodePtr node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

xmlNodePtr Child(xmlNodePtr parent, const char* name) {
  if (parent == nullptr) return nullptr;
  for (xmlNodePtr node = parent->children; node != nullptr; node = node->next) {
    if (Named(node, name)) return node;
  }
  return nullptr;
}

std::string Text(xmlNodePtr node) {
  if (node == nullptr) return "";
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

std::string ChildText(xmlNodePtr parent, const char* name) {
  return Text(Child(parent, name));
}

std::string Attribute(xmlNodePtr node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
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

void ReadConditions(xmlNodePtr parent, const char* name, QBList<int>& values) {
  for (xmlNodePtr node = parent->children; node != nullptr; node = node->next) {
    if (!Named(node, name)) continue;
    int value = 0;
    values.Add(ParseInt(Text(node), value) ? value : kUnreadableValue);
  }
}

MenuItemData ReadMenuItem(xmlNodePtr node) {
  MenuItemData item;
  item.MenuText = ChildText(node, "MenuText");
  item.EventTag = ChildText(node, "EventTag");
  if (xmlNodePtr condition = Child(node, "DisplayCondition")) {
    ReadConditions(condition, "VisibleIf", item.DisplayCondition.VisibleIf);
    ReadConditions(condition, "VisibleIfNot", item.DisplayCondition.VisibleIfNot);
    ReadConditions(condition, "EnabledIf", item.DisplayCondition.EnabledIf);
    ReadConditions(condition, "EnabledIfNot", item.DisplayCondition.EnabledIfNot);
  }
  return item;
}

template <class T>
void ReadSubscription(xmlNodePtr node, T& out) {
  out.SubscriberID = ChildText(node, "SubscriberID");
  if (xmlNodePtr callback = Child(node, "COMCallbackInfo")) {
    out.COMCallbackInfo.AppName = ChildText(callback, "AppName");
    out.COMCallbackInfo.ProgID = ChildText(callback, "ProgID");
    out.COMCallbackInfo.CLSID = ChildText(callback, "CLSID");
  }
  if (xmlNodePtr extension = Child(node, "MenuExtensionSubscription")) {
    if (xmlNodePtr menu = Child(extension, "AddToMenu")) {
      std::string name = Text(menu);
      out.MenuExtensionSubscription.AddToMenu = EnumValue(name, AddToMenuValue(name));
    }
    if (xmlNodePtr menu = Child(extension, "Menu")) out.MenuExtensionSubscription.Menu = ReadMenuItem(menu);
    if (xmlNodePtr submenu = Child(extension, "Submenu")) {
      SubmenuData& data = out.MenuExtensionSubscription.Submenu.emplace();
      data.MenuText = ChildText(submenu, "MenuText");
      for (xmlNodePtr item = submenu->children; item != nullptr; item = item->next) {
        if (Named(item, "MenuItem")) data.MenuItemList.Add(ReadMenuItem(item));
      }
    }
  }
}

xmlDocPtr Parse(std::string_view xml) {
  return xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "qbxml.xml", nullptr,
                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

// The message set element under QBXML, or nothing.
xmlNodePtr MessageSet(xmlDocPtr doc, const char* name) {
  xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
  return Named(root, "QBXML") ? Child(root, name) : nullptr;
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
  Document document{Parse(xml)};
  xmlNodePtr set = MessageSet(document.doc, "QBXMLSubscriptionMsgsRq");
  if (set == nullptr) {
    throw kv::Error(kErrRequestNotXml,
                    "QuickBooks found an error when parsing the subscription request: it is not "
                    "a QBXML document with a QBXMLSubscriptionMsgsRq element.");
  }
  int major = 0;
  int minor = 0;
  for (xmlNodePtr node = document.doc->children; node != nullptr; node = node->next) {
    if (node->type == XML_PI_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), "qbxml") == 0) {
      std::string content = node->content != nullptr ? reinterpret_cast<const char*>(node->content) : "";
      size_t quote = content.find('"');
      size_t dot = content.find('.', quote == std::string::npos ? 0 : quote);
      if (quote != std::string::npos && dot != std::string::npos) {
        ParseInt(std::string_view(content).substr(quote + 1, dot - quote - 1), major);
        size_t end = content.find('"', dot);
        if (end != std::string::npos) ParseInt(std::string_view(content).substr(dot + 1, end - dot - 1), minor);
      }
    }
  }
  SubscriptionMsgSetRequest requests(major, minor);
  for (xmlNodePtr node = set->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (Named(node, "UIExtensionSubscriptionAddRq")) {
      UIExtensionSubscriptionAdd& add = requests.AppendUIExtensionSubscriptionAddRq();
      if (xmlNodePtr body = Child(node, "UIExtensionSubscriptionAdd")) ReadSubscription(body, add);
    } else if (Named(node, "SubscriptionDelRq")) {
      SubscriptionDel& del = requests.AppendSubscriptionDelRq();
      del.SubscriberID = ChildText(node, "SubscriberID");
      if (xmlNodePtr type = Child(node, "SubscriptionType")) {
        std::string text = Text(type);
        int byName = -1;
        for (size_t i = 0; i < kSubscriptionTypeNames.size(); ++i) {
          if (text == kSubscriptionTypeNames[i]) byName = static_cast<int>(i);
        }
        del.SubscriptionType = EnumValue(text, byName);
      }
    } else if (Named(node, "UIExtensionSubscriptionQueryRq")) {
      requests.AppendUIExtensionSubscriptionQueryRq().SubscriberID = ChildText(node, "SubscriberID");
    } else {
      throw kv::Error(kErrRequestNotXml, std::string("QuickBooks does not know the subscription request ") +
                                             reinterpret_cast<const char*>(node->name) + ".");
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
  Document document{Parse(xml)};
  xmlNodePtr root = document.doc != nullptr ? xmlDocGetRootElement(document.doc) : nullptr;
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
             EscapeXmlAttribute(response.StatusSeverity()) + "\" statusMessage=\"" +
             EscapeXmlAttribute(response.StatusMessage()) + "\"";
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
  Document document{Parse(xml)};
  xmlNodePtr set = MessageSet(document.doc, "QBXMLSubscriptionMsgsRs");
  if (set == nullptr) {
    throw kv::Error(kErrCannotReachQuickBooks,
                    "QuickBooks answered the subscription requests with a text that is "
                    "not a subscription response set.");
  }
  auto responses = std::make_unique<SubscriptionMsgSetResponse>();
  for (xmlNodePtr node = set->children; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    int type = 0;
    for (const TypeName& entry : kTypeNames) {
      if (Named(node, entry.name)) type = entry.type;
    }
    int statusCode = 0;
    if (!ParseInt(Attribute(node, "statusCode"), statusCode)) statusCode = -1;
    std::shared_ptr<const ResponseDetail> detail;
    if (xmlNodePtr retNode = Child(node, "UIExtensionSubscriptionRet")) {
      auto ret = std::make_shared<UIExtensionSubscriptionRet>();
      ReadSubscription(retNode, *ret);
      detail = std::move(ret);
    }
    responses->MutableResponseList().Append(SubscriptionResponse(type, statusCode, Attribute(node, "statusSeverity"),
                                                                 Attribute(node, "statusMessage"), std::move(detail)));
  }
  return responses;
}

}  // namespace platform::qb
