// Putting the column literals together into the IF ... UPDATE ... ELSE INSERT statement of one record.

#include "sync_control/converters/statement_script.h"

namespace brintavel {
namespace {
constexpr std::string_view kCrLf = "\r\n";
constexpr char kTab = '\t';
}  // namespace

void StatementBuilder::Clear() {
  statement_.clear();
  insert_sql_.clear();
  update_sql_.clear();
  // The column list of a table is mostly the same for every record: it stays, and each name is checked against it.
  column_end_ = 0;
  value_list_.clear();
  value_start_ = 0;
}

std::string& StatementBuilder::BeginColumn(std::string_view name) {
  const size_t comma = column_end_ > 0 ? 1 : 0;
  const size_t end = column_end_ + comma + name.size();
  const bool same = end <= column_list_.size() && (comma == 0 || column_list_[column_end_] == ',') &&
                    column_list_.compare(column_end_ + comma, name.size(), name) == 0 &&
                    (end == column_list_.size() || column_list_[end] == ',');
  if (!same) {
    column_list_.resize(column_end_);
    if (comma != 0) column_list_ += ',';
    column_list_ += name;
  }
  name_start_ = column_end_ + comma;
  column_end_ = end;
  if (!value_list_.empty()) value_list_ += ',';
  value_start_ = value_list_.size();
  return value_list_;
}

void StatementBuilder::EndColumn(bool in_set) {
  value_end_ = value_list_.size();
  if (in_set) {
    if (!update_sql_.empty()) update_sql_ += ',';
    update_sql_.append(column_list_, name_start_, column_end_ - name_start_);
    update_sql_ += '=';
    update_sql_.append(value_list_, value_start_, value_end_ - value_start_);
  }
}

void StatementBuilder::UpdateColumnPieces() {
  if (column_end_ == 0) return;
  column_name_.assign(column_list_, name_start_, column_end_ - name_start_);
  column_value_.assign(value_list_, value_start_, value_end_ - value_start_);
}

void StatementBuilder::AppendColumn(std::string_view name, std::string_view value, bool in_set) {
  BeginColumn(name) += value;
  EndColumn(in_set);
  UpdateColumnPieces();
}

const std::string& StatementBuilder::Finish(const TableLiterals& table, std::string_view list_id_literal, bool active) {
  column_list_.resize(column_end_);
  UpdateColumnPieces();
  // The statement is written once, in order; the INSERT and UPDATE pieces are then read back out of it.
  statement_.clear();
  size_t insert_start = 0, insert_end = 0;
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
    insert_start = statement_.size();
    statement_ += "INSERT INTO ";
    statement_ += table.table;
    statement_ += " (";
    statement_ += column_list_;
    statement_ += ") VALUES (";
    statement_ += value_list_;
    statement_ += ")";
    insert_end = statement_.size();
    statement_ += kCrLf;
    statement_ += "Else";
    statement_ += kCrLf;
    statement_ += kTab;
  }
  const size_t update_start = statement_.size();
  statement_ += "UPDATE ";
  statement_ += table.table;
  statement_ += " SET ";
  statement_ += update_sql_;
  statement_ += " WHERE [QBListId] = ";
  statement_ += list_id_literal;
  const size_t update_end = statement_.size();
  statement_ += kCrLf;

  update_sql_.assign(statement_, update_start, update_end - update_start);
  if (active) {
    insert_sql_.assign(statement_, insert_start, insert_end - insert_start);
  } else {
    insert_sql_.assign("INSERT INTO ").append(table.table).append(" (").append(column_list_);
    insert_sql_.append(") VALUES (").append(value_list_).append(")");
  }
  return statement_;
}

}  // namespace brintavel
