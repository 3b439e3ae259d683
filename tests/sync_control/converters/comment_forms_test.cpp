// Comments written in every form XML allows, between a record's children and inside a child's text, hide what
// they hold: a sync of the answer sends what a sync of the same records without the comments sends, whether every
// record is sent or only those changed since the last sync.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/text.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

Record Account(const std::string& list_id, const std::string& name, const std::string& modified) {
  Record r{"AccountRet", {}};
  r.Set("ListID", list_id)
      .Set("TimeCreated", "2005-03-15T09:00:00")
      .Set("TimeModified", modified)
      .Set("EditSequence", "3")
      .Set("Name", name)
      .Set("FullName", "Expenses:" + name)
      .Set("IsActive", "true")
      .Set("Sublevel", "1")
      .Set("AccountType", "Expense")
      .Set("AccountNumber", "6100");
  return r;
}

// What a reader that ends the comment at its opening dashes would take for the record's children: a changed
// time, another name, an inactive flag.
const std::string kHidden =
    "<TimeCreated>2030-01-01T00:00:00</TimeCreated><TimeModified>2030-01-01T00:00:00</TimeModified>"
    "<Name>Hidden</Name><IsActive>false</IsActive>";

// The answer with a comment of the given opening before each record's first child and inside its name.
std::string Commented(std::string answer, const std::string& opening) {
  answer = kv::ReplaceAll(answer, "<AccountRet>\r\n", "<AccountRet>\r\n" + opening + kHidden + "-->");
  for (const char* name : {"Overhead", "Travel"}) {
    const std::string plain = std::string("<Name>") + name + "</Name>";
    const std::string split = std::string("<Name>") + std::string(name).substr(0, 3) + opening +
                              "</Name><Name>Hidden</Name>-->" + std::string(name).substr(3) + "</Name>";
    answer = kv::ReplaceAll(answer, plain, split);
  }
  return answer;
}

class CommentFormsTest : public ConverterTest {
 protected:
  // The uploads of one account sync of the answer, from a fresh control and service.
  std::string Sync(const std::string& answer, const kv::DateTime& last_sync) {
    TearDown();
    SetUp();
    Module().GLAccountsLastSyncDate = last_sync;
    Module().sQBXMLResponse = answer;
    GetGLAccountsFromQB(*ctl);
    EXPECT_FALSE(Module().bSyncError) << Module().sSyncErrorText;
    std::string bodies;
    for (const auto& upload : Uploads()) bodies += upload.body;
    return bodies;
  }
};

TEST_F(CommentFormsTest, CommentsHideTheirChildrenInFullAndIncrementalSyncs) {
  const std::string answer = Response(
      {Account("OLD-1", "Overhead", "2005-03-16T14:22:33"), Account("NEW-2", "Travel", "2011-06-01T08:00:00")});
  const kv::DateTime everything = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
  const kv::DateTime changed_since = kv::DateTime::FromParts(2011, 1, 2);

  const std::string full = Sync(answer, everything);
  EXPECT_NE(full.find("'OLD-1'"), std::string::npos) << full;
  EXPECT_NE(full.find("'NEW-2'"), std::string::npos) << full;
  const std::string incremental = Sync(answer, changed_since);
  EXPECT_EQ(incremental.find("OLD-1"), std::string::npos) << incremental;
  EXPECT_NE(incremental.find("'NEW-2'"), std::string::npos) << incremental;

  // "<!--" followed by ">" or "->" still opens a comment that only the next "-->" closes.
  for (const std::string opening : {"<!--", "<!-->", "<!--->"}) {
    SCOPED_TRACE(opening);
    const std::string commented = Commented(answer, opening);
    ASSERT_NE(commented, answer);
    EXPECT_EQ(Sync(commented, everything), full);
    EXPECT_EQ(Sync(commented, changed_since), incremental);
  }
}

}  // namespace
}  // namespace brintavel::testing
