// The QuickBooks session of the download control: the check session, version codes, the company-file check,
// and how failures are reported and cleaned up.

#include <filesystem>
#include <fstream>

#include "control_fixture.h"
#include "platform/base/text.h"
#include "platform/qb/qb_errors.h"

namespace tessarine::test {
namespace {

using platform::qb::fake::FakeQuickBooks;

class QBSessionTest : public PostingTest {
 protected:
  KVRDowloadctl& Idle() {
    service.WriteFile("pending-time.txt", "");
    return Site(Params(true));
  }
};

TEST_F(QBSessionTest, TheCheckSessionStaysOpenOnTheRightFileAndLearnsTheVersion) {
  KVRDowloadctl& c = Idle();
  qb.versions = std::vector<std::string>{"1.0", "1.1", "2.0", "CA2.0"};
  EXPECT_EQ(c.ContactQuickBooks(), 1);
  EXPECT_FALSE(c.QBError());
  EXPECT_EQ(Module().session.QBXMLVersionCode, kv::qb::QBXMLVersion::kCA2_0);
  EXPECT_EQ(qb.Operations("RequestProcessor"),
            (std::vector<std::string>{"CreateRequestProcessor", "OpenConnection", "BeginSession",
                                      "GetCurrentCompanyFileName", "QBXMLVersionsForSession"}));
  EXPECT_EQ(qb.calls[1].args, (std::vector<std::string>{"731-5096-4482630", "Pellucent"}));
  EXPECT_EQ(qb.calls[2].args, (std::vector<std::string>{"", "2"}));
  EXPECT_EQ(qb.OpenSessions(), 1);
  host->Teardown();  // the end of the control ends the session and closes the connection
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 0);
}

TEST_F(QBSessionTest, VersionCodesComeFromTheLastVersionOfTheList) {
  KVRDowloadctl& c = Idle();
  const std::vector<std::pair<std::optional<std::vector<std::string>>, int32_t>> cases = {
      {std::vector<std::string>{"1.0"}, 0},
      {std::vector<std::string>{"1.0", "1.1"}, 1},
      {std::vector<std::string>{"2.0", "3.0"}, 2},
      {std::vector<std::string>{"CA3.0"}, 0},
      {std::vector<std::string>{"2"}, 0},
      {std::vector<std::string>{"UK2.0"}, 11},
      {std::nullopt, 0},
      {std::vector<std::string>{}, 0},
  };
  for (const auto& [versions, code] : cases) {
    qb.versions = versions;
    Module().session.QBXMLVersionCode = kv::qb::QBXMLVersion{99};
    EXPECT_EQ(c.ContactQuickBooks(), 1);
    EXPECT_EQ(static_cast<int32_t>(Module().session.QBXMLVersionCode), code);
  }
}

// Names that differ only in letter case or blanks are two files here; a link to the company file, or a file
// whose name starts with ".", is named by what it is.
TEST_F(QBSessionTest, TheOpenFileMustBeTheCompanyFileItself) {
  KVRDowloadctl& c = Idle();
  const std::filesystem::path file = company_file;
  const std::filesystem::path dir = file.parent_path();
  const std::filesystem::path upper = dir / kv::ToUpperAscii(file.filename().string());
  const std::filesystem::path link = file.string() + ".link";
  const std::filesystem::path dot = dir / ("." + file.filename().string());
  std::ofstream(upper) << "another company";
  std::ofstream(dot) << "a company";
  std::filesystem::create_symlink(file, link);

  for (const std::string& other : {upper.string(), "  " + company_file + " "}) {
    qb.companyFile = other;
    EXPECT_EQ(c.ContactQuickBooks(), 0) << other;
    EXPECT_EQ(c.QBErrorText(), "Your Current Quickbooks file '" + other +
                                   "' does not match with the QB file you are using with Kalvor '" + company_file +
                                   "'. \r\nPlease open the correct Quickbooks file and try again.");
  }
  qb.companyFile = link.string();
  EXPECT_EQ(c.ContactQuickBooks(), 1);
  EXPECT_FALSE(c.QBError());
  qb.companyFile = (dir / "." / dot.filename()).string();
  Module().params.QBFilePath = dot.string();
  EXPECT_EQ(c.ContactQuickBooks(), 1);
  EXPECT_FALSE(c.QBError());

  for (const auto& made : {upper, link, dot}) std::filesystem::remove(made);
}

TEST_F(QBSessionTest, AnotherOpenFileIsNamedInTheMismatchMessage) {
  KVRDowloadctl& c = Idle();
  qb.companyFile = "/qb/Other.QBW";
  Module().session.QBXMLVersionCode = kv::qb::QBXMLVersion::kCA1_1;
  EXPECT_EQ(c.ContactQuickBooks(), 0);
  EXPECT_TRUE(c.QBError());
  EXPECT_EQ(c.QBErrorText(),
            "Your Current Quickbooks file '/qb/Other.QBW' does not match with the QB file you are "
            "using with Kalvor '" +
                company_file +
                "'. \r\nPlease open the correct Quickbooks file "
                "and try again.");
  EXPECT_EQ(Module().session.QBXMLVersionCode, kv::qb::QBXMLVersion::kCA1_1);
}

TEST_F(QBSessionTest, QuickBooksNotRunningAndAnEmptyTicketGiveTheNotOpenMessage) {
  KVRDowloadctl& c = Idle();
  qb.SetNotRunning();
  EXPECT_EQ(c.ContactQuickBooks(), 0);
  EXPECT_EQ(c.QBErrorText(), "Your Quickbooks file is not open, please open your Quickbooks file and try again.");
  EXPECT_TRUE(Module().session.sTicket.empty());
  qb.ClearFailures();
  qb.ticket = "";
  EXPECT_EQ(c.ContactQuickBooks(), 0);
  EXPECT_EQ(c.QBErrorText(), "Your Quickbooks file is not open, please open your Quickbooks file and try again.");
  EXPECT_EQ(qb.CountOf("GetCurrentCompanyFileName"), 0);  // nothing is read from a session that is not there
}

TEST_F(QBSessionTest, OtherFailuresShowQuickBooksOwnText) {
  KVRDowloadctl& c = Idle();
  qb.FailOn("OpenConnection", platform::qb::kErrAccessDenied, "The application is not allowed to use the file.");
  EXPECT_EQ(c.ContactQuickBooks(), 0);
  EXPECT_EQ(c.QBErrorText(), "The application is not allowed to use the file.");
}

// The download's contact is "create the processor, OpenConnection, bConnectionOpen := True"; nothing marks the
// connection closed first, so a failed OpenConnection leaves the flag as the contact before left it.
TEST_F(QBSessionTest, AFailedOpenConnectionKeepsTheConnectionFlagOfTheContactBefore) {
  KVRDowloadctl& c = Idle();
  EXPECT_EQ(c.ContactQuickBooks(), 1);
  EXPECT_TRUE(Module().session.bConnectionOpen);
  qb.FailOn("OpenConnection", platform::qb::kErrAccessDenied, "The application is not allowed to use the file.");
  EXPECT_EQ(c.ContactQuickBooks(), 0);
  EXPECT_TRUE(c.QBError());
  EXPECT_TRUE(Module().session.bConnectionOpen);
  EXPECT_TRUE(Module().session.sTicket.empty());
}

}  // namespace
}  // namespace tessarine::test
