// The statement reader accepts both statement forms and refuses every layout fault.

#include "tests/support/sql/sql_script.h"

#include <gtest/gtest.h>

namespace kv::test_support::sql {
namespace {

TEST(SqlScriptTest, ReadsBothStatementFormsWithDecodedLiterals) {
  const std::string script =
      "IF (SELECT Count(ClassRowID) FROM [ClassInfo] WHERE [QBListID] = 'A''1') <= 0\r\n"
      "\tINSERT INTO ClassInfo ([ClassRowID],[ClassName],[Status]) VALUES (9000000,'Bob''s\r\nx',-1)\r\n"
      "Else\r\n"
      "\tUPDATE ClassInfo SET [ClassName]='Bob''s\r\nx' WHERE [QBListId] = 'A''1'\r\n"
      "UPDATE ClassInfo SET [Status]=0,[SubLevel]=2.5 WHERE [QBListId] = ''\r\n";
  const auto statements = ParseScript(script);
  ASSERT_EQ(statements.size(), 2u);
  const Statement& a = statements[0];
  EXPECT_TRUE(a.has_insert);
  EXPECT_EQ(a.key_column, "ClassRowID");
  EXPECT_EQ(a.table, "ClassInfo");
  EXPECT_EQ(a.if_list_id, Text("A'1"));
  EXPECT_EQ(a.InsertValue("[ClassRowID]"), Number("9000000"));
  EXPECT_EQ(a.InsertValue("[ClassName]"), Text("Bob's\r\nx"));
  EXPECT_EQ(a.InsertValue("[Status]"), Number("-1"));
  EXPECT_EQ(a.SetValue("[ClassName]"), Text("Bob's\r\nx"));
  EXPECT_FALSE(a.InSet("[Status]"));
  const Statement& b = statements[1];
  EXPECT_FALSE(b.has_insert);
  EXPECT_EQ(b.SetValue("[SubLevel]"), Number("2.5"));
  EXPECT_EQ(b.where_list_id, Text(""));
}

TEST(SqlScriptTest, RejectsLiteralsThatEndEarlyOrNever) {
  // An apostrophe that was not doubled ends the literal early; what follows is no longer the script form.
  EXPECT_THROW(ParseScript("UPDATE T SET [A]='Bob's' WHERE [QBListId] = 'x'\r\n"), ParseError);
  EXPECT_THROW(ParseScript("UPDATE T SET [A]='x WHERE [QBListId] = 'x'\r\n"), ParseError);
  EXPECT_THROW(ParseScript("UPDATE T SET [A]=1; DROP TABLE x; -- WHERE [QBListId] = 'x'\r\n"), ParseError);
  // An empty unquoted value.
  EXPECT_THROW(ParseScript("UPDATE T SET [A]= WHERE [QBListId] = 'x'\r\n"), ParseError);
}

TEST(SqlScriptTest, RejectsLayoutFaults) {
  // LF alone, a missing TAB, a missing final line end, a column count that does not match.
  EXPECT_THROW(ParseScript("UPDATE T SET [A]=1 WHERE [QBListId] = 'x'\n"), ParseError);
  EXPECT_THROW(ParseScript("UPDATE T SET [A]=1 WHERE [QBListId] = 'x'"), ParseError);
  EXPECT_THROW(ParseScript("IF (SELECT Count(K) FROM [T] WHERE [QBListID] = 'x') <= 0\r\nINSERT INTO T ([K]) "
                           "VALUES (1)\r\nElse\r\n\tUPDATE T SET [A]=1 WHERE [QBListId] = 'x'\r\n"),
               ParseError);
  EXPECT_THROW(ParseScript("IF (SELECT Count(K) FROM [T] WHERE [QBListID] = 'x') <= 0\r\n\tINSERT INTO T ([K],[L]) "
                           "VALUES (1)\r\nElse\r\n\tUPDATE T SET [A]=1 WHERE [QBListId] = 'x'\r\n"),
               ParseError);
  // The WHERE clause of the UPDATE spells the column QBListId; the IF head spells it QBListID.
  EXPECT_THROW(ParseScript("UPDATE T SET [A]=1 WHERE [QBListID] = 'x'\r\n"), ParseError);
}

}  // namespace
}  // namespace kv::test_support::sql
