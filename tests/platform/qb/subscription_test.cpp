// The subscription objects of the session manager and their requests and responses as text.

#include "platform/qb/subscription.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "platform/qb/standin_wire.h"
#include "platform/qb/subscription_xml.h"

namespace platform::qb {
namespace {

TEST(QBList, AppendKeepsReferencesAndGetAtChecksTheIndex) {
  QBList<MenuItemData> list;
  MenuItemData& first = list.Append();
  first.MenuText = "one";
  for (int i = 0; i < 100; ++i) list.Append();
  EXPECT_EQ(&first, &list.GetAt(0));
  EXPECT_EQ(list.GetAt(0).MenuText, "one");
  try {
    list.GetAt(101);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrIndexOutOfRange);
  }
  EXPECT_THROW(list.GetAt(-1), kv::Error);
}

TEST(SubscriptionResponses, ListCanBeMissingAndGetAtIsChecked) {
  SubscriptionMsgSetResponse responses;
  ASSERT_NE(responses.ResponseList(), nullptr);
  EXPECT_EQ(responses.ResponseList()->Count(), 0);
  EXPECT_THROW(responses.ResponseList()->GetAt(0), kv::Error);
  responses.ClearResponseList();
  EXPECT_EQ(responses.ResponseList(), nullptr);
}

SubscriptionMsgSetRequest MenuRequests(const std::string& siteCode = "A&B <co> \"x\"",
                                       const std::string& progID = "Corvalink.QBMenuListener",
                                       const std::string& clsID = "") {
  SubscriptionMsgSetRequest set(3, 0);
  UIExtensionSubscriptionAdd& add = set.AppendUIExtensionSubscriptionAddRq();
  add.SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  add.COMCallbackInfo.AppName = "Kalvor";
  add.COMCallbackInfo.ProgID = progID;
  add.COMCallbackInfo.CLSID = clsID;
  add.MenuExtensionSubscription.AddToMenu = kAddToMenuFile;
  SubmenuData& submenu = add.MenuExtensionSubscription.SetSubmenu();
  submenu.MenuItemList.Append().MenuText = "Get Timesheets";
  submenu.MenuItemList.GetAt(0).EventTag = "0";
  submenu.MenuItemList.Append().MenuText = "------------------------";
  submenu.MenuItemList.GetAt(1).EventTag = "3";
  submenu.MenuItemList.Append().MenuText = "Sitecode";
  submenu.MenuItemList.GetAt(2).EventTag = siteCode;
  submenu.MenuItemList.GetAt(2).DisplayCondition.VisibleIfNot.Add(kVisibleIfNotHidden);
  SubscriptionDel& del = set.AppendSubscriptionDelRq();
  del.SubscriberID = add.SubscriberID;
  del.SubscriptionType = kSubscriptionTypeUIExtension;
  set.AppendUIExtensionSubscriptionQueryRq().SubscriberID = add.SubscriberID;
  return set;
}

TEST(SubscriptionXml, RequestsTravelWhole) {
  SubscriptionMsgSetRequest sent = MenuRequests();
  std::string xml = SubscriptionRequestsToXml(sent);
  EXPECT_NE(xml.find("<AddToMenu>File</AddToMenu>"), std::string::npos);
  EXPECT_NE(xml.find("<SubscriptionType>UIExtension</SubscriptionType>"), std::string::npos);
  SubscriptionMsgSetRequest received = SubscriptionRequestsFromXml(xml);
  EXPECT_EQ(received.QBXMLMajorVersion(), 3);
  EXPECT_EQ(received.QBXMLMinorVersion(), 0);
  ASSERT_EQ(received.Requests().Count(), 3);
  EXPECT_EQ(received.Requests().GetAt(0).add, sent.Requests().GetAt(0).add);
  EXPECT_EQ(received.Requests().GetAt(1).kind, SubscriptionRequest::Kind::kDel);
  EXPECT_EQ(received.Requests().GetAt(1).del, sent.Requests().GetAt(1).del);
  EXPECT_EQ(received.Requests().GetAt(2).query.SubscriberID, "{B5492484-1401-4EDA-AF03-62F1627C094A}");
}

// A reader turns a bare CR into LF, and line breaks and tabs of an attribute into blanks: a site value with a
// lone CR must come back as it was sent, and so must a status text QuickBooks writes into an attribute.
TEST(SubscriptionXml, LineBreaksAndTabsComeBackUnchanged) {
  SubscriptionMsgSetRequest sent = MenuRequests("K\r77\r\n8\n\t9\r");
  const UIExtensionSubscriptionAdd& add = sent.Requests().GetAt(0).add;
  const std::string xml = SubscriptionRequestsToXml(sent);
  EXPECT_NE(xml.find("K&#13;77&#13;\n8\n\t9&#13;"), std::string::npos) << xml;
  SubscriptionMsgSetRequest received = SubscriptionRequestsFromXml(xml);
  EXPECT_EQ(received.Requests().GetAt(0).add.MenuExtensionSubscription.Submenu->MenuItemList.GetAt(2).EventTag,
            "K\r77\r\n8\n\t9\r");
  UIExtensionSubscriptionRet kept;
  kept.MenuExtensionSubscription = add.MenuExtensionSubscription;
  EXPECT_EQ(SubscriptionRetFromXml(SubscriptionRetToXml(kept)).MenuExtensionSubscription,
            kept.MenuExtensionSubscription);

  SubscriptionMsgSetResponse responses;
  responses.MutableResponseList().Append(
      SubscriptionResponse(kRtSubscriptionDelRs, 3120, "Error", "line one\r\nline\ttwo\r"));
  std::unique_ptr<SubscriptionMsgSetResponse> back =
      SubscriptionResponsesFromXml(SubscriptionResponsesToXml(responses));
  EXPECT_EQ(back->ResponseList()->GetAt(0).StatusMessage(), "line one\r\nline\ttwo\r");
}

TEST(SubscriptionXml, ACallbackNamesItsProgIDOrElseItsCLSID) {
  const std::string clsID = "{2D0E74B6-021A-11D5-9054-00508BF70A94}";
  std::string xml = SubscriptionRequestsToXml(MenuRequests("c", "Corvalink.QBMenuListener", clsID));
  EXPECT_NE(xml.find("<ProgID>Corvalink.QBMenuListener</ProgID>"), std::string::npos);
  EXPECT_EQ(xml.find("<CLSID>"), std::string::npos);
  xml = SubscriptionRequestsToXml(MenuRequests("c", "", clsID));
  EXPECT_EQ(xml.find("<ProgID>"), std::string::npos);
  EXPECT_NE(xml.find("<CLSID>{2D0E74B6-021A-11D5-9054-00508BF70A94}</CLSID>"), std::string::npos);
}

TEST(SubscriptionXml, ValuesWithoutANameTravelAsNumbersAndUnknownRequestsAreRefused) {
  SubscriptionMsgSetRequest set(3, 0);
  set.AppendUIExtensionSubscriptionAddRq().MenuExtensionSubscription.AddToMenu = 42;
  set.AppendSubscriptionDelRq().SubscriptionType = 7;
  SubscriptionMsgSetRequest back = SubscriptionRequestsFromXml(SubscriptionRequestsToXml(set));
  EXPECT_EQ(back.Requests().GetAt(0).add.MenuExtensionSubscription.AddToMenu, 42);
  EXPECT_EQ(back.Requests().GetAt(1).del.SubscriptionType, 7);

  const char* unknown =
      "<QBXML><QBXMLSubscriptionMsgsRq><DataEventSubscriptionAddRq/></QBXMLSubscriptionMsgsRq></QBXML>";
  try {
    SubscriptionRequestsFromXml(unknown);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrRequestNotXml);
  }
  EXPECT_THROW(SubscriptionRequestsFromXml("not xml"), kv::Error);
}

TEST(SubscriptionXml, ResponsesKeepStatusTypeAndDetail) {
  auto ret = std::make_shared<UIExtensionSubscriptionRet>();
  ret->SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  ret->COMCallbackInfo.ProgID = "Corvalink.QBMenuListener";
  ret->MenuExtensionSubscription = MenuRequests().Requests().GetAt(0).add.MenuExtensionSubscription;
  SubscriptionMsgSetResponse sent;
  sent.MutableResponseList().Append(SubscriptionResponse(kRtUIExtensionSubscriptionAddRs, 3000, "Error", "bad \"x\""));
  sent.MutableResponseList().Append(
      SubscriptionResponse(kRtUIExtensionSubscriptionQueryRs, 0, "Info", "Status OK", ret));
  std::unique_ptr<SubscriptionMsgSetResponse> received = SubscriptionResponsesFromXml(SubscriptionResponsesToXml(sent));
  const SubscriptionResponseList* list = received->ResponseList();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->GetAt(0).StatusCode(), 3000);
  EXPECT_EQ(list->GetAt(0).StatusSeverity(), "Error");
  EXPECT_EQ(list->GetAt(0).StatusMessage(), "bad \"x\"");
  EXPECT_EQ(list->GetAt(0).Detail(), nullptr);
  EXPECT_EQ(list->GetAt(1).Type(), 1163);
  auto* detail = dynamic_cast<const UIExtensionSubscriptionRet*>(list->GetAt(1).Detail());
  ASSERT_NE(detail, nullptr);
  EXPECT_EQ(detail->MenuExtensionSubscription, ret->MenuExtensionSubscription);
  EXPECT_EQ(detail->MenuExtensionSubscription.Submenu->MenuItemList.GetAt(2).EventTag, "A&B <co> \"x\"");
}

// ---------------------------------------------------------------- the stand-in's wire format

struct SocketPair {
  int fds[2];
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~SocketPair() {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
};

TEST(StandinWire, MessagesArriveWholeIncludingEmptyAndLargeFields) {
  SocketPair pair;
  std::string big(20 << 20, 'x');
  big[12345] = '\0';
  std::thread sender([&] {
    wire::SendPieces(pair.fds[1], {{"ok"}, {}, {std::string_view(big).substr(0, 7), std::string_view(big).substr(7)}});
  });
  std::optional<wire::Message> message = wire::Receive(pair.fds[0]);
  sender.join();
  ASSERT_TRUE(message.has_value());
  ASSERT_EQ(message->size(), 3u);
  EXPECT_EQ((*message)[0], "ok");
  EXPECT_EQ((*message)[1], "");
  EXPECT_TRUE((*message)[2] == big);
}

TEST(StandinWire, CleanEndGivesNothingAndACutMessageIsAnError) {
  {
    SocketPair pair;
    close(pair.fds[1]);
    pair.fds[1] = -1;
    EXPECT_FALSE(wire::Receive(pair.fds[0]).has_value());
  }
  SocketPair pair;
  const char cut[] = {2, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'};
  ASSERT_EQ(write(pair.fds[1], cut, sizeof cut), static_cast<ssize_t>(sizeof cut));
  close(pair.fds[1]);
  pair.fds[1] = -1;
  EXPECT_THROW(wire::Receive(pair.fds[0]), wire::WireError);
}

TEST(StandinWire, SendingToAGonePeerIsAnErrorNotASignal) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  close(fds[1]);
  EXPECT_THROW(wire::Send(fds[0], {"ProcessRequest", std::string(1 << 20, 'y')}), wire::WireError);
  close(fds[0]);
}

}  // namespace
}  // namespace platform::qb
