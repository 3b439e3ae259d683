#pragma once

// The statement of one record (update when the service has it, else insert), built from its column literals.

#include <cstddef>
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
  // each column. A column list that comes out as it was for the record before is kept rather than written again.
  void Clear();
  // Appends a column to the column and value lists, and to the SET list as "name=value" when it goes there.
  void AppendColumn(std::string_view name, std::string_view value, bool in_set);
  // The same in two steps, the value written in place: BeginColumn gives the value list to append the value to,
  // EndColumn files what was appended. The column name and value pieces then follow at Finish (or at the next
  // AppendColumn), read back out of the lists rather than copied for every column.
  std::string& BeginColumn(std::string_view name);
  void EndColumn(bool in_set);
  std::string_view PendingValue() const { return std::string_view(value_list_).substr(value_start_); }
  bool HasColumns() const { return column_end_ > 0 && !value_list_.empty(); }
  // A buffer for the record's ListID literal, kept from record to record.
  std::string& ListIdScratch() { return list_id_; }

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
  size_t column_end_ = 0;  // the end of this record's column list so far in column_list_
  size_t name_start_ = 0;  // the last column's name in column_list_, up to column_end_
  size_t value_start_ = 0;
  size_t value_end_ = 0;  // the last column's value in value_list_, from value_start_
  void UpdateColumnPieces();
  std::string list_id_;
};

// The pieces as plain strings, for code that owns them itself.
struct StatementPieces {
  std::string sStatement, sInsertSQL, sUpdateSQL, sColumnName, sColumnValue, sColumnList, sValueList;
  StatementBuilder Builder() {
    return StatementBuilder(sStatement, sInsertSQL, sUpdateSQL, sColumnName, sColumnValue, sColumnList, sValueList);
  }
};

}  // namespace brintavel
