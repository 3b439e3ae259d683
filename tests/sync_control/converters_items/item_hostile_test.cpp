// Items whose texts try to break out of their literals. Every recorded script must read back into statements
// whose literals are exactly the texts cut to their widths (non-ASCII characters as "?", as the us-ascii stream
// sends them) and whose numbers are numbers.

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "sync_control/converters/item_converter.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_items/item_records.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Literal;
using kv::test_support::sql::Number;
using kv::test_support::sql::Statement;
using kv::test_support::sql::Text;

const std::string kInjection = "'; DROP TABLE TaskInfo; --";

// Texts with apostrophes at and around the cut of a column of the given width, and worse.
std::vector<std::string> HostileTexts(size_t width) {
  std::vector<std::string> out = {kInjection, std::string(40000, '\''),
                                  "Zo\xC3\xAB\xE2\x80\x99s Caf\xC3\xA9 \xE6\x97\xA5", "tab\tand\nline"};
  for (size_t at : {width - 1, width, width + 1}) {
    std::string text(width + 5, 'a');
    text[at - 1] = '\'';
    out.push_back(text);
  }
  return out;
}

std::string Pick(size_t width, size_t i) {
  const auto texts = HostileTexts(width);
  return texts[i % texts.size()];
}

Record HostileItem(const std::string& element, size_t i) {
  Record r = element == "PayrollItemWageRet" ? PayrollItem("", "", "Hourly") : SalesItem(element, "", "");
  r.Set("ListID", std::to_string(i) + element.substr(4, 3) + kInjection + std::string(60, '\''));
  r.Set("IsActive", i % 2 == 0 ? "true" : "1 OR 1=1");
  r.Set("EditSequence", Pick(50, i + 1));
  if (element == "PayrollItemWageRet") {
    r.Set("Name", Pick(159, i));
    r.Set("WageType", "Hourly" + Pick(40, i + 2));
    return r;
  }
  r.Set("FullName", i % 3 == 0 ? Pick(250, i) : Pick(159, i));
  r.Set("Sublevel", i % 2 == 0 ? "0 OR 1=1" : "2'");
  r.Set("SalesOrPurchase/Desc", Pick(10, i + 3));
  r.Set("SalesOrPurchase/Price", i % 2 == 0 ? "1,5" : "2'; --");
  r.Set("SalesOrPurchase/AccountRef/FullName", Pick(159, i + 4));
  r.Set("SalesTaxCodeRef/FullName", kInjection);
  return r;
}

// Each column's expected literal of a hostile record.
std::vector<std::pair<std::string, Literal>> Expected(const Record& r, const std::string& user) {
  const bool payroll = r.element == "PayrollItemWageRet";
  const std::string name = ChildText(r, payroll ? "Name" : "FullName");
  std::vector<std::pair<std::string, Literal>> out = {
      {"[Name]", Text(Sent(name, 159))},
      {"[QBFullName]", Text(Sent(name, 250))},
      {"[QBListID]", Text(Sent(ChildText(r, "ListID"), 50))},
      {"[QBEditSequence]", Text(Sent(ChildText(r, "EditSequence"), 50))},
      {"[UpdatedBy]", Text(Sent(user, 50))},
      {"[IsActive]", Number(ChildText(r, "IsActive") == "true" ? "-1" : "0")},
  };
  if (payroll) {
    out.push_back({"[Description]", Text(Sent(ChildText(r, "WageType"), 0))});
  } else {
    out.push_back({"[Description]", Text(Sent(ChildText(r, "SalesOrPurchase/Desc"), 0))});
    out.push_back({"[GLAccount]", Text(Sent(ChildText(r, "SalesOrPurchase/AccountRef/FullName"), 159))});
    out.push_back({"[BillRate]", Number("0")});
    out.push_back({"[Taxable]", Number("0")});
    out.push_back({"[SubLevel]", Number("1")});
  }
  return out;
}

class ItemHostileTest : public ConverterTest {};

TEST_F(ItemHostileTest, EveryLiteralReadsBackAsItsTextCutToWidth) {
  ctl->KalvorUser = kInjection + std::string(60, 'u');
  Module().TasksLastSyncDate = kv::DateTime::FromParts(2000, 1, 1);
  std::vector<Record> records;
  for (const char* element : {"ItemServiceRet", "ItemNonInventoryRet", "ItemOtherChargeRet", "PayrollItemWageRet"}) {
    for (size_t i = 0; i < 14; ++i) records.push_back(HostileItem(element, i));
  }
  Module().sQBXMLResponse = ItemResponse(records);
  GetTasksFromQB(*ctl);
  ASSERT_FALSE(ctl->bAbortSync);

  std::vector<Statement> statements;
  ASSERT_NO_THROW(statements = AllStatements());
  ASSERT_EQ(statements.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const Statement& s = statements[i];
    const Literal list_id = Text(Sent(ChildText(records[i], "ListID"), 50));
    EXPECT_EQ(s.where_list_id, list_id);
    EXPECT_EQ(s.has_insert, i % 2 == 0);
    if (s.has_insert) {
      EXPECT_EQ(s.if_list_id, list_id);
      EXPECT_EQ(s.InsertValue("[CreatedBy]"), Text(Sent(ctl->KalvorUser, 50)));
    }
    for (const auto& [column, literal] : Expected(records[i], ctl->KalvorUser)) {
      if (s.has_insert) {
        EXPECT_EQ(s.InsertValue(column), literal) << column;
      }
      if (s.InSet(column)) {
        EXPECT_EQ(s.SetValue(column), literal) << column;
      }
    }
  }
  for (const auto& upload : Uploads()) {
    for (char c : upload.body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  }
}

}  // namespace
}  // namespace brintavel::testing
