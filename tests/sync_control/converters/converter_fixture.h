#pragma once

// A control with the list converters, talking to a fresh service stand-in, and the helpers the converter tests
// share: qbXML responses built from records, and the requests the stand-in recorded read back as uploads,
// scripts and status reports.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sync_control/brintavel_ctl.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace brintavel::testing {

// One record element: its children in order, each a name and a text (escaped when written).
struct Record {
  std::string element;
  std::vector<std::pair<std::string, std::string>> children;

  Record& Set(std::string name, std::string text);
  Record& Remove(const std::string& name);
};

// The text of the record's child `name`; empty without one.
std::string ChildText(const Record& r, std::string_view name);

// A qbXML response holding the records, wrapped as QuickBooks answers a query message set.
std::string Response(const std::vector<Record>& records);

// A text with XML's five special characters escaped.
std::string XmlEscape(std::string_view text);

// `piece` written `times` times with commas between: a run of like values in an expected statement.
std::string Repeat(const std::string& piece, int times);

// What the service receives of a text: its first `width` characters (all with 0), each non-ASCII one as "?", as
// the us-ascii stream sends them.
std::string Sent(std::string_view text, size_t width);

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The requests of one page, in order of arrival.
  std::vector<kv::test::ReceivedRequest> Requests(std::string_view page) const;
  std::vector<kv::test::ReceivedRequest> Uploads() const { return Requests("brintavel.asp"); }
  std::vector<kv::test::ReceivedRequest> StatusReports() const { return Requests("brintavelupdatestatus.asp"); }
  // Every upload body joined, read back into statements (a malformed script fails the test there).
  std::vector<kv::test_support::sql::Statement> AllStatements() const;

  std::unique_ptr<kv::test::ServiceStandinProcess> service;
  std::unique_ptr<kvtest::ScriptedUi> ui;
  std::unique_ptr<BrintavelCtl> ctl;
};

}  // namespace brintavel::testing
