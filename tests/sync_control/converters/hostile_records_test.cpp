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

// Every text child of a column table gets the hostile texts in turn; numbers and flags get text too.
std::vector<Record> HostileRecords(const std::string& element, std::span<const Column> columns, size_t count) {
  std::vector<Record> out;
  for (size_t i = 0; i < count; ++i) {
    Record r{element, {}};
    r.Set("TimeCreated", "2011-01-01T10:00:00").Set("TimeModified", i % 3 == 0 ? "garbage" : "2011-01-02T10:00:00");
    r.Set("IsActive", i % 2 == 0 ? "true" : "1; DROP TABLE x");
    for (const Column& column : columns) {
      if (column.source.empty() || column.source == "IsActive" || column.source == "ListID") continue;
      if (column.kind == ColumnKind::ChildText) {
        const auto texts = HostileTexts(column.width == 0 ? 50 : column.width);
        r.Set(std::string(column.source), texts[(i + column.width) % texts.size()]);
      } else if (column.kind == ColumnKind::ChildNumber || column.kind == ColumnKind::ChildDate ||
                 column.kind == ColumnKind::Custom) {
        r.Set(std::string(column.source), i % 2 == 0 ? kInjection : "12abc'");
      }
    }
    // Every ListID distinct and hostile; the cut at 50 keeps them apart.
    r.Set("ListID", std::to_string(i) + "-" + kInjection + std::string(60, '\''));
    out.push_back(r);
  }
  return out;
}

void CheckStatement(const Statement& s, const Record& r, std::span<const Column> columns) {
  const Literal list_id = kv::test_support::sql::Text(Sent(ChildText(r, "ListID"), 50));
  EXPECT_EQ(s.where_list_id, list_id);
  if (s.has_insert) {
    EXPECT_EQ(s.if_list_id, list_id);
    ASSERT_EQ(s.columns.size(), columns.size());
  }
  for (size_t c = 0; c < columns.size(); ++c) {
    const Column& column = columns[c];
    const bool in_set = s.InSet(column.name);
    if (!s.has_insert && !in_set) continue;
    const Literal& value = s.has_insert ? s.values[c] : s.SetValue(column.name);
    if (s.has_insert) {
      EXPECT_EQ(s.columns[c], column.name);
      if (in_set) {
        EXPECT_EQ(s.SetValue(column.name), value) << column.name;
      }
    }
    switch (column.kind) {
      case ColumnKind::ChildText:
        EXPECT_EQ(value, kv::test_support::sql::Text(Sent(ChildText(r, column.source), column.width))) << column.name;
        break;
      case ColumnKind::UserName:
        EXPECT_EQ(value, kv::test_support::sql::Text(Sent(kInjection + std::string(60, 'u'), column.width)))
            << column.name;
        break;
      case ColumnKind::Key:
      case ColumnKind::ActiveFlag:
      case ColumnKind::ChildNumber:
        EXPECT_FALSE(value.is_text) << column.name;
        EXPECT_EQ(value.text, column.kind == ColumnKind::ChildNumber ? std::string(column.missing) : value.text);
        break;
      default:
        break;
    }
  }
}

class HostileRecordsTest : public ConverterTest {
 protected:
  void Run(const std::string& element, std::span<const Column> columns,
           const std::function<void(BrintavelCtl&)>& converter) {
    ctl->KalvorUser = kInjection + std::string(60, 'u');
    const auto records = HostileRecords(element, columns, 24);
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
      CheckStatement(statements[i], records[i], columns);
    }
    // Nothing above 127 reaches the wire.
    for (const auto& upload : Uploads()) {
      for (char c : upload.body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
    }
  }
};

TEST_F(HostileRecordsTest, Classes) {
  Run("ClassRet", ClassColumns(), GetClassesFromQB);
}
TEST_F(HostileRecordsTest, Accounts) {
  Run("AccountRet", GLAccountColumns(), GetGLAccountsFromQB);
}
TEST_F(HostileRecordsTest, Employees) {
  Run("EmployeeRet", EmployeeColumns(), GetEmployeesFromQB);
}

}  // namespace
}  // namespace brintavel::testing
