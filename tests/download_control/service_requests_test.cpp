// How the download control reads QuickBooks' answer to tell the user that a record is in QuickBooks already.

#include "download_control/service_requests.h"

#include <gtest/gtest.h>

namespace tessarine {
namespace {

std::string Response(const std::string& inner) {
  return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n" + inner + "\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
}

TEST(QuickBooksTookRecord, AnAddThatQuickBooksMadeOrRefused) {
  EXPECT_TRUE(QuickBooksTookRecord(
      Response("<BillAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">"
               "<BillRet><TxnID>1A-100</TxnID></BillRet></BillAddRs>")));
  EXPECT_TRUE(
      QuickBooksTookRecord(Response("<TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" />")));
  // A warning still made the transaction.
  EXPECT_TRUE(
      QuickBooksTookRecord(Response("<CheckAddRs requestID=\"1\" statusCode=\"530\" statusSeverity=\"Warn\">"
                                    "<CheckRet><TxnID>7-2</TxnID></CheckRet></CheckAddRs>")));
  EXPECT_FALSE(QuickBooksTookRecord(Response(
      "<TimeTrackingAddRs requestID=\"1\" statusCode=\"3140\" statusSeverity=\"Error\" statusMessage=\"bad ref\" />")));
  // A query answer is no add, and no answer at all took nothing.
  EXPECT_FALSE(QuickBooksTookRecord(Response("<BillQueryRs requestID=\"1\" statusCode=\"0\" />")));
  EXPECT_FALSE(QuickBooksTookRecord(""));
  EXPECT_FALSE(QuickBooksTookRecord("<QBXML><QBXMLMsgsRs><BillAddRs statusCode=\"0\">"));
}

TEST(NotToldReason, SaysTheRecordIsInQuickBooksAndKeepsTheTransportsReason) {
  const std::string reason = NotToldReason("The page cannot be displayed\r\nHTTP 500 Internal Server Error");
  EXPECT_EQ(reason.rfind("Posted into QuickBooks, but the Kalvor service could not be told", 0), 0u) << reason;
  EXPECT_NE(reason.find("Do not post it again."), std::string::npos);
  EXPECT_NE(reason.find("\r\nThe page cannot be displayed\r\nHTTP 500"), std::string::npos);
}

}  // namespace
}  // namespace tessarine
