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

}  // namespace
}  // namespace brintavel
