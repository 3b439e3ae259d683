// The parent rule of the job converter: an unchanged job goes along with a parent job sent earlier in the same
// pass, found through IsProjectListIDKnown, and nothing else makes it go.

#include <gtest/gtest.h>

#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_customers/customer_fixture.h"

namespace brintavel::testing {
namespace {

using JobParentRuleTest = CustomerListTest;

std::vector<std::string> SentJobs(const std::vector<kv::test_support::sql::Statement>& jobs) {
  std::vector<std::string> ids;
  for (const auto& job : jobs) ids.push_back(job.where_list_id.text);
  return ids;
}

TEST_F(JobParentRuleTest, AChainOfThreeGoesWithItsChangedTop) {
  Record s = Job("S", "Sub", 2, "J");
  Record ss = Job("SS", "SubSub", 3, "S");
  Record other = Job("U", "Other", 1, "C");
  RunBoth({Customer("C", "Smith"), Job("J", "Top", 1, "C"), Unchanged(s), Unchanged(ss), Unchanged(other)});
  EXPECT_EQ(SentJobs(StatementsFor("CustProjInfo")), (std::vector<std::string>{"J", "S", "SS"}));
  EXPECT_TRUE(IsProjectListIDKnown("SS"));
  EXPECT_FALSE(IsProjectListIDKnown("U"));
  EXPECT_FALSE(IsProjectListIDKnown("C"));  // a customer never counts, sent or not
}

TEST_F(JobParentRuleTest, ASubJobBeforeItsParentAndAParentListedLaterTakeNothing) {
  Record early = Job("S", "Sub", 2, "J");
  Record later = Job("S2", "Sub2", 2, "J2");
  Record j2 = Job("J2", "Second", 1, "C");
  RunBoth({Unchanged(early), Customer("C", "Smith"), Job("J", "Top", 1, "C"), Unchanged(later), Unchanged(j2)});
  EXPECT_EQ(SentJobs(StatementsFor("CustProjInfo")), (std::vector<std::string>{"J"}));
}

TEST_F(JobParentRuleTest, TheLookupKnowsWhatTheSetHoldsAfterThePass) {
  Module().sQBXMLResponse = CustomerResponse({Customer("C", "Smith"), Job("J", "Top", 1, "C")});
  GetProjectsFromQB(*ctl);
  EXPECT_TRUE(IsProjectListIDKnown("J"));
  // Preserve keeps the rows it keeps: the job stood in row 2.
  ModuleRecordSets().ProjectRecords.Resize(2, "Preserve");
  EXPECT_TRUE(IsProjectListIDKnown("J"));
  ModuleRecordSets().ProjectRecords.Resize(1, "Preserve");
  EXPECT_FALSE(IsProjectListIDKnown("J"));

  // A fresh pass starts with none of the last one's jobs, and so does a set without arrays.
  Module().sQBXMLResponse = CustomerResponse({Customer("C", "Smith"), Job("K", "Other", 1, "C")});
  GetProjectsFromQB(*ctl);
  EXPECT_TRUE(IsProjectListIDKnown("K"));
  EXPECT_FALSE(IsProjectListIDKnown("J"));
  ModuleRecordSets().ProjectRecords.Resize(0, "Empty");
  EXPECT_FALSE(IsProjectListIDKnown("K"));
}

}  // namespace
}  // namespace brintavel::testing
