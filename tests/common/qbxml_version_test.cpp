// The qbXML version type both controls share: what each version admits and the document frame of every request,
// with the header texts written out as QuickBooks' message sets name them; and the one step of the shared session
// core in which the two controls differ.

#include "common/qbxml_version.h"

#include <gtest/gtest.h>

#include <string>

#include "common/qb_session.h"
#include "platform/base/error.h"
#include "tests/support/qb/fake_quickbooks.h"

namespace kv::qb {
namespace {

const std::string kUS10 = "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n";
const std::string kUS20 = "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n";

std::string Edition(const char* name) {
  return std::string("<?xml version=\"1.0\" ?><?qbxml version=\"") + name + "\"?>";
}

TEST(QBXMLVersionTest, EveryCodeHasTheHeaderOfItsVersion) {
  const std::string expected[12] = {kUS10,
                                    kUS10,
                                    kUS20,
                                    kUS20,
                                    kUS20,
                                    kUS20,
                                    Edition("CA1.0"),
                                    Edition("CA1.1"),
                                    Edition("CA2.0"),
                                    Edition("UK1.0"),
                                    Edition("UK1.1"),
                                    Edition("UK2.0")};
  for (int32_t code = 0; code < 12; ++code) {
    EXPECT_EQ(QBXMLDocumentHeader(QBXMLVersion{code}), expected[code]) << "code " << code;
  }
  EXPECT_EQ(EditionText(QBXMLVersion::kUS2_0), "");
  EXPECT_EQ(EditionText(QBXMLVersion::kUK1_1), "UK1.1");
}

TEST(QBXMLVersionTest, ErrorRecoveryOnlyWithTheTwoPointZeroMessageSets) {
  for (int32_t code = 0; code < 12; ++code) {
    EXPECT_EQ(HasErrorRecovery(QBXMLVersion{code}), code == 2 || code == 8 || code == 11) << "code " << code;
  }
}

TEST(QBXMLVersionTest, BillableStatusForEveryCodeFromTwoOnIncludingTheOlderCountryEditions) {
  for (int32_t code = 0; code < 12; ++code) {
    EXPECT_EQ(HasBillableStatus(QBXMLVersion{code}), code >= 2) << "code " << code;
  }
  EXPECT_TRUE(HasBillableStatus(QBXMLVersion::kCA1_0));
  EXPECT_TRUE(HasBillableStatus(QBXMLVersion::kUK1_1));
  EXPECT_FALSE(HasBillableStatus(QBXMLVersion::kUS1_1));
}

TEST(QBXMLVersionTest, MessageSetFrameWithANewOrAnOldMessageSetID) {
  EXPECT_EQ(QBXMLBody("<A/>\r\n"),
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\n<A/>\r\n</QBXMLMsgsRq>\r\n</QBXML>");
  EXPECT_EQ(QBXMLBody("<A/>\r\n", "KV1"),
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\" newMessageSetID = \"KV1\">\r\n<A/>\r\n"
            "</QBXMLMsgsRq>\r\n</QBXML>");
  EXPECT_EQ(QBXMLBody("", "KV1", MessageSetIDRole::kOld),
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\" oldMessageSetID = \"KV1\">\r\n</QBXMLMsgsRq>\r\n"
            "</QBXML>");
}

// The sync's contact begins "bConnectionOpen := False, OpenConnection, bConnectionOpen := True"; the download's
// has no first step, so a failed OpenConnection leaves what an earlier contact set.
TEST(QBSessionCoreTest, OnlyTheSyncMarksTheConnectionClosedBeforeOpeningIt) {
  for (const bool sync : {true, false}) {
    SCOPED_TRACE(sync ? "sync" : "download");
    platform::qb::fake::FakeQuickBooks qb;
    qb.FailOn("OpenConnection", 80040408, "Could not start QuickBooks.");
    Session session;
    session.bConnectionOpen = true;
    EXPECT_THROW(OpenCheckedSession(session, qb.companyFile, sync ? kSyncContact : kDownloadContact), kv::Error);
    EXPECT_EQ(session.bConnectionOpen, !sync);
    EXPECT_TRUE(session.sTicket.empty());
  }
}

TEST(QBSessionCoreTest, BothControlsMarkTheConnectionOpenOnceItIs) {
  for (const ContactSteps& steps : {kSyncContact, kDownloadContact}) {
    platform::qb::fake::FakeQuickBooks qb;
    qb.versions = std::vector<std::string>{"2.0", "CA2.0"};
    Session session;
    const ContactResult result = OpenCheckedSession(session, qb.companyFile, steps);
    EXPECT_TRUE(session.bConnectionOpen);
    EXPECT_EQ(result.check, SessionCheck::kOpen);
    EXPECT_EQ(result.versionCode, QBXMLVersion::kCA2_0);
    EndSessionQuietly(session);
    CloseConnectionQuietly(session);
    EXPECT_EQ(qb.OpenSessions(), 0);
  }
}

}  // namespace
}  // namespace kv::qb
