// The statement script: the insert-or-update form with its CR LF and tab, and each record's own columns whatever
// the record before it had.

#include "sync_control/converters/statement_script.h"

#include <gtest/gtest.h>

namespace brintavel {
namespace {

TEST(StatementBuilderTest, ActiveFormWithCrLfAndTab) {
  StatementPieces pieces;
  StatementBuilder b = pieces.Builder();
  b.Clear();
  b.AppendColumn("[K]", "9000000", false);
  b.AppendColumn("[Name]", "'Overhead'", true);
  b.AppendColumn("[Status]", "-1", false);
  b.AppendColumn("[By]", "'syncuser'", true);
  EXPECT_EQ(pieces.sColumnName, "[By]");
  EXPECT_EQ(pieces.sColumnValue, "'syncuser'");
  EXPECT_EQ(pieces.sUpdateSQL, "[Name]='Overhead',[By]='syncuser'");
  const std::string& s = b.Finish({"ClassInfo", "ClassRowID"}, "'AB-1'", true);
  EXPECT_EQ(s,
            "IF (SELECT Count(ClassRowID) FROM [ClassInfo] WHERE [QBListID] = 'AB-1') <= 0\r\n"
            "\tINSERT INTO ClassInfo ([K],[Name],[Status],[By]) VALUES (9000000,'Overhead',-1,'syncuser')\r\n"
            "Else\r\n"
            "\tUPDATE ClassInfo SET [Name]='Overhead',[By]='syncuser' WHERE [QBListId] = 'AB-1'\r\n");
  EXPECT_EQ(pieces.sStatement, s);
  EXPECT_EQ(pieces.sInsertSQL,
            "INSERT INTO ClassInfo ([K],[Name],[Status],[By]) VALUES (9000000,'Overhead',-1,'syncuser')");
}

TEST(StatementBuilderTest, EachRecordHasItsOwnColumnsWhateverTheRecordBeforeHad) {
  StatementPieces pieces;
  StatementBuilder b = pieces.Builder();
  const TableLiterals table{"T", "K"};
  b.Clear();
  b.AppendColumn("[A]", "1", true);
  b.AppendColumn("[B]", "'b'", false);
  EXPECT_EQ(b.Finish(table, "'1'", false), "UPDATE T SET [A]=1 WHERE [QBListId] = '1'\r\n");
  EXPECT_EQ(pieces.sInsertSQL, "INSERT INTO T ([A],[B]) VALUES (1,'b')");

  // The same first column, then another one in place of the second, then fewer: the lists follow.
  b.Clear();
  b.AppendColumn("[A]", "2", false);
  b.AppendColumn("[BB]", "'c'", true);
  b.AppendColumn("[C]", "3", false);
  EXPECT_EQ(b.Finish(table, "'2'", true),
            "IF (SELECT Count(K) FROM [T] WHERE [QBListID] = '2') <= 0\r\n"
            "\tINSERT INTO T ([A],[BB],[C]) VALUES (2,'c',3)\r\n"
            "Else\r\n"
            "\tUPDATE T SET [BB]='c' WHERE [QBListId] = '2'\r\n");
  EXPECT_EQ(pieces.sUpdateSQL, "UPDATE T SET [BB]='c' WHERE [QBListId] = '2'");
  b.Clear();
  b.AppendColumn("[A]", "4", true);
  EXPECT_EQ(b.Finish(table, "'4'", true),
            "IF (SELECT Count(K) FROM [T] WHERE [QBListID] = '4') <= 0\r\n"
            "\tINSERT INTO T ([A]) VALUES (4)\r\n"
            "Else\r\n"
            "\tUPDATE T SET [A]=4 WHERE [QBListId] = '4'\r\n");
  EXPECT_EQ(pieces.sColumnList, "[A]");
  // A name that begins as the one before did is a name of its own.
  b.Clear();
  b.AppendColumn("[A", "5", false);
  EXPECT_NE(b.Finish(table, "'5'", true).find("\tINSERT INTO T ([A) VALUES (5)\r\n"), std::string::npos);

  // A record with no columns at all has none, though the record before had some.
  b.Clear();
  EXPECT_FALSE(b.HasColumns());
}

}  // namespace
}  // namespace brintavel
