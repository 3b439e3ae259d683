#pragma once

// The statement of one record (update when the service has it, else insert), built from its column literals.

#include <string>
#include <string_view>

namespace brintavel {

// The literals that tie a statement to its table: "INSERT INTO <table> (", "UPDATE <table> SET " and the IF
// head "IF (SELECT Count(<key>) FROM [<table>] WHERE [QBListID] = ".
struct TableLiterals {
  std::string_view table;
  std::string_view key_column;
};

// Builds one record's statement in the pieces the control keeps for it (sStatement, sInsertSQL, sUpdateSQL,
// sColumnName, sColumnValue, sColumnList, sValueList), so that whoever owns those pieces sees them as they grow.
class StatementBuilder {
 public:
  StatementBuilder(std::string& statement, std::string& insert_sql, std::string& update_sql, std::string& column_name,
                   std::string& column_value, std::string& column_list, std::string& value_list)
      : statement_(statement),
        insert_sql_(insert_sql),
        update_sql_(update_sql),
        column_name_(column_name),
        column_value_(column_value),
        column_list_(column_list),
        value_list_(value_list) {}

  // Empties the statement, the INSERT, the SET list and both INSERT lists; the column pieces are overwritten by
  // each column.
  void Clear();
  // Appends a column to the column and value lists, and to the SET list as "name=value" when it goes there.
  void AppendColumn(std::string_view name, std::string value, bool in_set);
  bool HasColumns() const { return !column_list_.empty() && !value_list_.empty(); }

  // Turns the lists into the statement: for an active record
  //   IF head 'id') <= 0 CRLF TAB INSERT CRLF Else CRLF TAB UPDATE CRLF
  // and for any other record the UPDATE and CR LF alone. `list_id_literal` is the complete literal of the
  // record's ListID, apostrophes included, as it goes into the IF head and the WHERE clause.
  const std::string& Finish(const TableLiterals& table, std::string_view list_id_literal, bool active);

 private:
  std::string& statement_;
  std::string& insert_sql_;
  std::string& update_sql_;
  std::string& column_name_;
  std::string& column_value_;
  std::string& column_list_;
  std::string& value_list_;
};

// The pieces as plain strings, for code that owns them itself.
struct StatementPieces {
  std::string sStatement, sInsertSQL, sUpdateSQL, sColumnName, sColumnValue, sColumnList, sValueList;
  StatementBuilder Builder() {
    return StatementBuilder(sStatement, sInsertSQL, sUpdateSQL, sColumnName, sColumnValue, sColumnList, sValueList);
  }
};

}  // namespace brintavel
