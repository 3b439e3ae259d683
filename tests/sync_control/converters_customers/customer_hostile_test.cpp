// Customers and jobs whose texts try to break out of their literals, and sub-levels that try to break out of
// their number. Every recorded script must read back into statements whose literals are exactly the texts cut
// to their widths (non-ASCII characters as "?", as the us-ascii stream sends them).

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "sync_control/converters/customer_list.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_customers/customer_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Literal;
using kv::test_support::sql::Number;
using kv::test_support::sql::Statement;
using kv::test_support::sql::Text;

const std::string kInjection = "'; DROP TABLE x; --";

// Texts with apostrophes at and around the cut of a column of the given width.
std::string HostileText(size_t width, size_t variant) {
  switch (variant % 7) {
    case 0:
      return kInjection;
    case 1:
      return std::string(width + 3, '\'');
    case 2:
      return "Zo\xC3\xAB\xE2\x80\x99s Caf\xC3\xA9 \xE6\x97\xA5";
    case 3: {
      std::string text(width + 5, 'a');
      text[width - 1] = '\'';
      return text;
    }
    case 4: {
      std::string text(width + 5, 'a');
      text[width] = '\'';
      return text;
    }
    case 5: {
      std::string pairs;
      while (pairs.size() < width + 4) pairs += "x'";
      return pairs;
    }
    default:
      return "  tab\tand\nline' ";
  }
}

// The text a column's literal must hold, given the record; columns of no text child are not checked here.
struct Expect {
  std::string column;
  std::string child;
  size_t width;
};

const Expect kCustomerTexts[] = {
    {"[Customer]", "Name", 41},
    {"[CompanyName]", "CompanyName", 41},
    {"[Salutation]", "Salutation", 15},
    {"[FirstName]", "FirstName", 25},
    {"[MI]", "MiddleName", 5},
    {"[LastName]", "LastName", 25},
    {"[QBListID]", "ListID", 50},
    {"[QBEditSequence]", "EditSequence", 50},
    {"[ContactName]", "Contact", 41},
    {"[AccountNumber]", "AccountNumber", 99},
    {"[TaxID]", "SalesTaxCodeRef/FullName", 31},
    {"[TaxGroup]", "ItemSalesTaxRef/FullName", 31},
    {"[SalesRepID]", "SalesRepRef/ListID", 24},
};
const Expect kJobTexts[] = {
    {"[ProjectName]", "Name", 41},     {"[ProjectManager]", "Contact", 50},
    {"[QBListID]", "ListID", 50},      {"[QBEditSequence]", "EditSequence", 50},
    {"[QBFullName]", "FullName", 250}, {"[Description]", "JobDesc", 99},
};

// Record i: customers and jobs in turn, every third "job" with a sub-level that is no number (a customer then).
std::vector<Record> HostileList(size_t count) {
  std::vector<Record> out;
  for (size_t i = 0; i < count; ++i) {
    const bool job = i % 2 == 1;
    Record r = job ? Job("", "", 1, "") : Customer("", "");
    if (job && i % 3 == 0) r.Set("Sublevel", "1); DROP TABLE x; --");
    r.Set("IsActive", i % 4 < 2 ? "true" : "1; DROP TABLE x");
    if (i % 5 == 0) r.Set("TimeCreated", kChanged).Set("TimeModified", "garbage");
    for (const auto& list : {std::span<const Expect>(kCustomerTexts), std::span<const Expect>(kJobTexts)}) {
      for (const Expect& e : list) r.Set(e.child, HostileText(e.width, i + e.width));
    }
    r.Set("ListID", std::to_string(i) + "-" + kInjection + std::string(60, '\''));
    r.Set("ParentRef/ListID", kInjection).Set("ParentRef/FullName", kInjection);
    r.Set("JobStartDate", i % 2 == 0 ? kInjection : "2005-03-15");
    out.push_back(r);
  }
  return out;
}

bool IsNumber(const Literal& literal) {
  return !literal.is_text && !literal.text.empty() &&
         literal.text.find_first_not_of("-0123456789") == std::string::npos;
}

void Check(const Statement& s, const Record& r, std::span<const Expect> texts, size_t columns) {
  const Literal list_id = Text(Sent(ChildText(r, "ListID"), 50));
  EXPECT_EQ(s.where_list_id, list_id);
  if (s.has_insert) {
    EXPECT_EQ(s.if_list_id, list_id);
    ASSERT_EQ(s.columns.size(), columns);
    for (size_t c = 0; c < columns; ++c) {
      if (!s.values[c].is_text) {
        EXPECT_TRUE(IsNumber(s.values[c])) << s.columns[c] << " " << s.values[c].text;
      }
    }
  }
  for (const auto& [column, value] : s.set) {
    if (!value.is_text) {
      EXPECT_TRUE(IsNumber(value)) << column << " " << value.text;
    }
  }
  for (const Expect& e : texts) {
    std::string text = ChildText(r, e.child);
    if (e.column == "[Description]" && kv::TrimBlanks(text).empty()) text.clear();
    const Literal expected = Text(Sent(text, e.width));
    EXPECT_EQ(s.SetValue(e.column), expected) << e.column;
    if (s.has_insert) {
      EXPECT_EQ(s.InsertValue(e.column), expected) << e.column;
    }
  }
  const std::string user = Sent(kInjection + std::string(60, 'u'), 50);
  if (s.table == "CustProjInfo") {
    EXPECT_EQ(s.SetValue("[UpdatedBy]"), Text(user));
  } else {
    EXPECT_EQ(s.SetValue("[UpdatedBy]"), Text(kInjection + std::string(60, 'u')));
  }
}

using CustomerHostileTest = CustomerListTest;

TEST_F(CustomerHostileTest, EveryLiteralStaysOneLiteral) {
  ctl->KalvorUser = kInjection + std::string(60, 'u');
  const auto records = HostileList(30);
  RunBoth(records);
  ASSERT_FALSE(ctl->bAbortSync);
  ASSERT_FALSE(Module().bSyncError);

  std::vector<Statement> statements;
  ASSERT_NO_THROW(statements = AllStatements());
  std::vector<const Record*> customers, jobs;
  for (size_t i = 0; i < records.size(); ++i) {
    const bool job = i % 2 == 1 && i % 3 != 0;
    (job ? jobs : customers).push_back(&records[i]);
  }
  ASSERT_EQ(statements.size(), customers.size() + jobs.size());
  for (size_t k = 0; k < statements.size(); ++k) {
    SCOPED_TRACE("statement " + std::to_string(k));
    const bool job = k >= customers.size();
    const Record& r = job ? *jobs[k - customers.size()] : *customers[k];
    EXPECT_EQ(statements[k].table, job ? "CustProjInfo" : "Customers");
    Check(statements[k], r, job ? std::span<const Expect>(kJobTexts) : std::span<const Expect>(kCustomerTexts),
          job ? 73 : 75);
    if (job) {
      EXPECT_EQ(statements[k].SetValue("[SubLevel]"), Number("1"));
    }
  }
  for (const auto& upload : Uploads()) {
    for (char c : upload.body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  }
  EXPECT_EQ(StatusReports().size(), 1u);
}

}  // namespace
}  // namespace brintavel::testing
