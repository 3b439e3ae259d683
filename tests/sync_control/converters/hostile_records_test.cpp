// Records whose texts try to break out of their literals. Every recorded script must read back into statements
// whose every literal is exactly the text cut to its column's width (non-ASCII characters as "?", as the
// us-ascii stream sends them), and whose numbers are numbers.

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Literal;
using kv::test_support::sql::Statement;

const std::string kInjection = "'; DROP TABLE x; --";

// Texts that put apostrophes at and around the cut of a column of the given width.
std::vector<std::string> HostileTexts(size_t width) {
  std::vector<std::string> out = {kInjection,
                                  std::string(40000, 'N'),
                                  "Zo\xC3\xAB\xE2\x80\x99s Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC",
                                  std::string(width + 3, '\''),
                                  "tab\tand\nline",
                                  "\xE2\x80\x99' \xE2\x80\x98"};
  for (size_t at : {width - 1, width, width + 1}) {
    std::string text(width + 5, 'a');
    text[at - 1] = '\'';
    out.push_back(text);
  }
  std::string pairs;
  while (pairs.size() < width + 4) pairs += "x'";
  out.push_back(pairs);
  return out;
}

// What the test expects of one list, written out from the lists' column tables rather than read from the
// converters: the text columns with the child they cut and their width, the user-name columns, the number
// columns with the value that stands in for a text that is no number, and the columns every UPDATE sets.
struct TextColumnOf {
  std::string column;
  std::string child;
  size_t width;
  bool in_set;
};
struct UserColumnOf {
  std::string column;
  size_t width;
  bool in_set;
};
struct NumberColumnOf {
  std::string column;
  std::string child;
  std::string fallback;
};
struct ListColumns {
  std::string element;
  size_t column_count;
  std::string key;
  std::vector<TextColumnOf> texts;
  std::vector<UserColumnOf> users;
  std::vector<NumberColumnOf> numbers;
  // Children that the list reads as dates or in its own way: they get hostile text as well.
  std::vector<std::string> others;
  // The column that says whether the record is active, with its value for an active and an inactive record.
  std::string active_column;
  Literal active;
  Literal inactive;
};

const std::string kUser = kInjection + std::string(60, 'u');

// Every text child gets the hostile texts in turn; numbers, flags and dates get text too.
std::vector<Record> HostileRecords(const ListColumns& list, size_t count) {
  std::vector<Record> out;
  for (size_t i = 0; i < count; ++i) {
    Record r{list.element, {}};
    r.Set("TimeCreated", "2011-01-01T10:00:00").Set("TimeModified", i % 3 == 0 ? "garbage" : "2011-01-02T10:00:00");
    r.Set("IsActive", i % 2 == 0 ? "true" : "1; DROP TABLE x");
    for (const TextColumnOf& text : list.texts) {
      const auto texts = HostileTexts(text.width);
      r.Set(text.child, texts[(i + text.width) % texts.size()]);
    }
    for (const NumberColumnOf& number : list.numbers) r.Set(number.child, i % 2 == 0 ? kInjection : "12abc'");
    for (const std::string& other : list.others) r.Set(other, i % 2 == 0 ? kInjection : "12abc'");
    // Every ListID distinct and hostile; the cut at 50 keeps them apart.
    r.Set("ListID", std::to_string(i) + "-" + kInjection + std::string(60, '\''));
    out.push_back(r);
  }
  return out;
}

// The column's value in the INSERT and, when the UPDATE sets it, there as well.
void ExpectValue(const Statement& s, const std::string& column, const Literal& expected, bool in_set) {
  if (s.has_insert) {
    EXPECT_EQ(s.InsertValue(column), expected) << column;
  }
  if (in_set) {
    ASSERT_TRUE(s.InSet(column)) << column;
    EXPECT_EQ(s.SetValue(column), expected) << column;
  } else {
    EXPECT_FALSE(s.InSet(column)) << column;
  }
}

void CheckStatement(const Statement& s, const Record& r, size_t position, const ListColumns& list) {
  using kv::test_support::sql::Number;
  using kv::test_support::sql::Text;
  const Literal list_id = Text(Sent(ChildText(r, "ListID"), 50));
  EXPECT_EQ(s.where_list_id, list_id);
  if (s.has_insert) {
    EXPECT_EQ(s.if_list_id, list_id);
    EXPECT_EQ(s.columns.size(), list.column_count);
    EXPECT_EQ(s.InsertValue(list.key), Number(std::to_string(9000000 + position)));
  }
  EXPECT_FALSE(s.InSet(list.key));
  ExpectValue(s, "[QBListID]", list_id, true);
  for (const TextColumnOf& text : list.texts) {
    ExpectValue(s, text.column, Text(Sent(ChildText(r, text.child), text.width)), text.in_set);
  }
  for (const UserColumnOf& user : list.users) ExpectValue(s, user.column, Text(Sent(kUser, user.width)), user.in_set);
  for (const NumberColumnOf& number : list.numbers) ExpectValue(s, number.column, Number(number.fallback), true);
  // Only "true" (or "1") is active; the inactive value is also set by the UPDATE.
  const bool active = ChildText(r, "IsActive") == "true";
  ExpectValue(s, list.active_column, active ? list.active : list.inactive, !active);
}

class HostileRecordsTest : public ConverterTest {
 protected:
  void Run(const ListColumns& list, const std::function<void(BrintavelCtl&)>& converter,
           const std::function<void(const Statement&, size_t)>& more = nullptr) {
    ctl->KalvorUser = kUser;
    const auto records = HostileRecords(list, 24);
    Module().sQBXMLResponse = Response(records);
    converter(*ctl);
    ASSERT_FALSE(ctl->bAbortSync) << Module().sServerMessage;
    ASSERT_FALSE(Module().bSyncError) << Module().sSyncErrorText;
    std::vector<Statement> statements;
    ASSERT_NO_THROW(statements = AllStatements());
    ASSERT_EQ(statements.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      SCOPED_TRACE("record " + std::to_string(i));
      EXPECT_EQ(statements[i].has_insert, i % 2 == 0);
      CheckStatement(statements[i], records[i], i, list);
      if (more) more(statements[i], i);
    }
    // Nothing above 127 reaches the wire.
    for (const auto& upload : Uploads()) {
      for (char c : upload.body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    }
  }
};

using kv::test_support::sql::Number;
using kv::test_support::sql::Text;

TEST_F(HostileRecordsTest, Classes) {
  const ListColumns classes{
      .element = "ClassRet",
      .column_count = 19,
      .key = "[ClassRowID]",
      .texts = {{"[ClassName]", "Name", 31, true},
                {"[ClassFullName]", "FullName", 159, true},
                {"[QBEditSequence]", "EditSequence", 50, true}},
      .users = {{"[CreatedBy]", 30, false}, {"[UpdatedBy]", 50, true}},
      .numbers = {},
      .others = {"Sublevel"},
      .active_column = "[Status]",
      .active = Number("-1"),
      .inactive = Number("0"),
  };
  // The level is the number the text starts with (0 for none), plus one.
  Run(classes, GetClassesFromQB,
      [](const Statement& s, size_t i) { ExpectValue(s, "[SubLevel]", Number(i % 2 == 0 ? "1" : "13"), true); });
}

TEST_F(HostileRecordsTest, Accounts) {
  const ListColumns accounts{
      .element = "AccountRet",
      .column_count = 29,
      .key = "[AccRowID]",
      .texts = {{"[AccountNumber]", "AccountNumber", 50, true},
                {"[AccountName]", "FullName", 159, true},
                {"[AssetType]", "AccountType", 30, true},
                {"[QBEditSequence]", "EditSequence", 50, true},
                {"[Description]", "Desc", 50, true}},
      .users = {{"[CreatedBy]", 50, false}, {"[UpdatedBy]", 50, true}},
      .numbers = {{"[ReportingLevel]", "Sublevel", "1"},
                  {"[AccountBalance]", "TotalBalance", "0"},
                  {"[BeginningBalance]", "Balance", "0"}},
      .others = {},
      .active_column = "[InActiveYN]",
      .active = Number("-1"),
      .inactive = Number("0"),
  };
  Run(accounts, GetGLAccountsFromQB);
}

TEST_F(HostileRecordsTest, Employees) {
  const ListColumns employees{
      .element = "EmployeeRet",
      .column_count = 86,
      .key = "[EmployeeID]",
      .texts = {{"[Salutation]", "Salutation", 15, true},
                {"[FirstName]", "FirstName", 25, true},
                {"[MI]", "MiddleName", 5, true},
                {"[LastName]", "LastName", 25, true},
                {"[EmployeeName]", "Name", 41, true},
                {"[EmailAddress]", "Email", 99, true},
                {"[QBEditSequence]", "EditSequence", 50, true},
                {"[PrintAs]", "PrintAs", 41, true},
                {"[AccountNumber]", "AccountNumber", 99, true},
                {"[Gender]", "Gender", 20, true}},
      .users = {{"[CreateBy]", 50, false}, {"[UpdateBy]", 50, true}},
      .numbers = {},
      .others = {"ReleasedDate", "HiredDate"},
      .active_column = "[Status]",
      .active = Text("Active"),
      .inactive = Text("In Active"),
  };
  Run(employees, GetEmployeesFromQB);
}

}  // namespace
}  // namespace brintavel::testing
