// The QuickBooks session routines on their own, against a fake QuickBooks: what each leaves open, and what it
// reports, when a step fails.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/qb/qb_errors.h"
#include "sync_control/brintavel_ctl.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"

namespace brintavel {
namespace {

constexpr const char* kFileNotOpen =
    "Your Quickbooks file is not open, please open your Quickbooks file and try again.";

class QBSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModule();
    qb_.companyFile = "/data/Acme.QBW";
    ctl_.QBFilePath = "/data/Acme.QBW";
  }
  // The module holds the processor; it goes before the fake it came from.
  void TearDown() override { ResetModule(); }

  platform::qb::fake::FakeQuickBooks qb_;
  kvtest::ScriptedUi ui_;
  BrintavelCtl ctl_;
};

TEST_F(QBSessionTest, AnErrorAfterBeginSessionEndsThatSessionAndLeavesTheConnectionToClose) {
  for (const char* step : {"GetCurrentCompanyFileName", "QBXMLVersionsForSession"}) {
    SCOPED_TRACE(step);
    qb_.ClearFailures();
    qb_.FailOn(step, platform::qb::kErrCannotReachQuickBooks, "QuickBooks stopped answering");
    Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kCA2_0;
    EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
    const ModWizard& m = Module();
    EXPECT_TRUE(m.bSyncError);
    EXPECT_EQ(m.sSyncErrorText, "QuickBooks stopped answering");
    EXPECT_EQ(m.qb.sTicket, "");
    EXPECT_EQ(m.lngQBXMLVersion, kv::qb::QBXMLVersion::kCA2_0);
    // The session is gone at once; the connection waits for CloseQBConnection, as the wizard calls it.
    EXPECT_EQ(qb_.OpenSessions(), 0);
    EXPECT_TRUE(m.qb.bConnectionOpen);
    EXPECT_EQ(qb_.OpenConnections(), 1);
    EndQBSession();
    EXPECT_FALSE(Module().bSyncError);
    CloseQBConnection();
    EXPECT_FALSE(Module().qb.bConnectionOpen);
    EXPECT_EQ(qb_.OpenConnections(), 0);
  }
}

// The sync's contact is "bConnectionOpen := False, OpenConnection, bConnectionOpen := True": a failed
// OpenConnection leaves the connection marked closed, whatever the contact before left.
TEST_F(QBSessionTest, AFailedOpenConnectionLeavesTheConnectionMarkedClosed) {
  EXPECT_EQ(ctl_.ContactQuickBooks(), 1);
  EXPECT_TRUE(Module().qb.bConnectionOpen);
  qb_.FailOn("OpenConnection", platform::qb::kErrAccessDenied, "The application is not allowed to use the file.");
  EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_FALSE(Module().qb.bConnectionOpen);
  EXPECT_EQ(qb_.OpenConnections(), 0);
}

TEST_F(QBSessionTest, OnlyTheNotRunningTextIsReplaced) {
  qb_.SetNotRunning();
  EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
  EXPECT_EQ(Module().sSyncErrorText, kFileNotOpen);

  qb_.ClearFailures();
  qb_.FailOn("BeginSession", platform::qb::kErrAccessDenied, "Is QuickBooks running? If QuickBooks is not running");
  EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
  EXPECT_EQ(Module().sSyncErrorText, "Is QuickBooks running? If QuickBooks is not running");
  CloseQBConnection();
  EXPECT_EQ(qb_.OpenConnections(), 0);
}

TEST_F(QBSessionTest, AMismatchLeavesTheSessionForTheCallerToEnd) {
  qb_.companyFile = "/data/Other.QBW";
  Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kCA1_1;
  EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_FALSE(Module().qb.sTicket.empty());
  EXPECT_EQ(Module().lngQBXMLVersion, kv::qb::QBXMLVersion::kCA1_1);
  EXPECT_EQ(qb_.OpenSessions(), 1);
  EndQBSession();
  CloseQBConnection();
  EXPECT_EQ(qb_.OpenSessions(), 0);
  EXPECT_EQ(qb_.OpenConnections(), 0);
}

TEST_F(QBSessionTest, AnEmptyTicketIsAnErrorWithTheOldestHeader) {
  qb_.ticket = "";
  Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kUS2_0;
  EXPECT_EQ(ctl_.ContactQuickBooks(), 0);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_EQ(Module().sSyncErrorText, kFileNotOpen);
  EXPECT_EQ(Module().lngQBXMLVersion, kv::qb::QBXMLVersion::kUS1_0);
  EXPECT_EQ(qb_.CountOf("GetCurrentCompanyFileName"), 0);
}

TEST_F(QBSessionTest, RequestAnswersAndTheirFailures) {
  ASSERT_EQ(ctl_.ContactQuickBooks(), 1);
  ModWizard& m = Module();

  // An empty request may get an empty answer without complaint.
  m.sQBXMLRequest = "";
  qb_.QueueResponse("");
  ProcessQBRequest();
  EXPECT_FALSE(m.bSyncError);

  m.sQBXMLRequest = "<QBXML/>";
  qb_.QueueResponse("");
  ProcessQBRequest();
  EXPECT_TRUE(m.bSyncError);
  EXPECT_EQ(m.sSyncErrorText, "qbXML: no response!");

  qb_.QueueResponse("<QBXML>old</QBXML>");
  ProcessQBRequest();
  EXPECT_FALSE(m.bSyncError);
  EXPECT_EQ(m.sQBXMLResponse, "<QBXML>old</QBXML>");
  qb_.FailOn("ProcessRequest", platform::qb::kErrCannotReachQuickBooks, "gone");
  ProcessQBRequest();
  EXPECT_TRUE(m.bSyncError);
  EXPECT_EQ(m.sSyncErrorText, "gone");
  EXPECT_EQ(m.sQBXMLResponse, "");  // never the answer of an earlier request
}

TEST_F(QBSessionTest, EndAndCloseFailuresAreStoredAndNothingIsRetried) {
  ASSERT_EQ(ctl_.ContactQuickBooks(), 1);
  qb_.FailOn("EndSession", platform::qb::kErrInvalidTicket, "end failed", 0, 1);
  qb_.FailOn("CloseConnection", platform::qb::kErrNotConnected, "close failed", 0, 1);
  EndQBSession();
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_EQ(Module().sSyncErrorText, "end failed");
  CloseQBConnection();
  EXPECT_EQ(Module().sSyncErrorText, "close failed");
  EXPECT_TRUE(Module().qb.bConnectionOpen);
  EXPECT_EQ(qb_.CountOf("EndSession"), 1);
  EXPECT_EQ(qb_.CountOf("CloseConnection"), 1);

  // The next contact ends and closes what the failed calls left open before it starts over.
  ASSERT_EQ(ctl_.ContactQuickBooks(), 1);
  EXPECT_EQ(qb_.OpenSessions(), 1);
  EXPECT_EQ(qb_.OpenConnections(), 1);
  EXPECT_EQ(qb_.processorsCreated, 2);
}

// Which file is open is told by the file itself: two names differing only in letter case or blanks are two
// files here, while a link to the open file, or a file whose name starts with ".", is the company file.
TEST_F(QBSessionTest, TheOpenFileMustBeTheCompanyFileItself) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kv-session-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  for (const char* name : {"Books.xml", "books.xml", ".books.xml"}) std::ofstream(dir / name) << name;
  std::filesystem::create_symlink(dir / "Books.xml", dir / "link.xml");
  const std::string open = (dir / "Books.xml").string();
  struct Case {
    std::string open;
    std::string on_record;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {open, (dir / "books.xml").string(), 0},
      {open, " " + open + " ", 0},
      {(dir / "link.xml").string(), open, 1},
      {open, (dir / "link.xml").string(), 1},
      {(dir / ".books.xml").string(), (dir / "." / ".books.xml").string(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open + " | " + c.on_record);
    qb_.companyFile = c.open;
    ctl_.QBFilePath = c.on_record;
    EXPECT_EQ(ctl_.ContactQuickBooks(), c.result);
    EXPECT_EQ(Module().bSyncError, c.result == 0);
    if (c.result == 0) {
      EXPECT_EQ(Module().sSyncErrorText, "Your Current Quickbooks file '" + c.open +
                                             "' does not match with the QB file you are using with Kalvor '" +
                                             c.on_record +
                                             "'. \r\nPlease open the correct Quickbooks file and try again.");
    }
    EndQBSession();
    CloseQBConnection();
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace brintavel
