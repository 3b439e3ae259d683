// Putting the column literals together into the IF ... UPDATE ... ELSE INSERT statement of one record.

#include "sync_control/converters/statement_script.h"

namespace brintavel {
namespace {
constexpr std::string_view kCrLf = "\r\n";
constexpr char kTab = '\t';

void AppendEntry(std::string& list, std::string_view entry) {
  if (!list.empty()) list += ',';
  list += entry;
}
}  // namespace

void StatementBuilder::Clear() {
  statement_.clear();
  insert_sql_.clear();
  update_sql_.clear();
  column_list_.clear();
  value_list_.clear();
}

void StatementBuilder::AppendColumn(std::string_view name, std::string value, bool in_set) {
  column_name_ = name;
  column_value_ = std::move(value);
  AppendEntry(column_list_, column_name_);
  AppendEntry(value_list_, column_value_);
  if (in_set) {
    if (!update_sql_.empty()) update_sql_ += ',';
    update_sql_ += column_name_;
    update_sql_ += '=';
    update_sql_ += column_value_;
  }
}

const std::string& StatementBuilder::Finish(const TableLiterals& table, std::string_view list_id_literal, bool active) {
  insert_sql_.assign("INSERT INTO ").append(table.table).append(" (").append(column_list_);
  insert_sql_.append(") VALUES (").append(value_list_).append(")");

  // The SET list is still in update_sql_: the head goes in front of it.
  update_sql_.insert(0, std::string("UPDATE ").append(table.table).append(" SET "));
  update_sql_.append(" WHERE [QBListId] = ").append(list_id_literal);

  statement_.clear();
  if (active) {
    statement_ += "IF (SELECT Count(";
    statement_ += table.key_column;
    statement_ += ") FROM [";
    statement_ += table.table;
    statement_ += "] WHERE [QBListID] = ";
    statement_ += list_id_literal;
    statement_ += ") <= 0";
    statement_ += kCrLf;
    statement_ += kTab;
    statement_ += insert_sql_;
    statement_ += kCrLf;
    statement_ += "Else";
    statement_ += kCrLf;
    statement_ += kTab;
  }
  statement_ += update_sql_;
  statement_ += kCrLf;
  return statement_;
}

}  // namespace brintavel
