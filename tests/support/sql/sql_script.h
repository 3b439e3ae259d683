#pragma once

// Reads a statement script of the sync control back into statements and literals, strictly: every fixed piece
// (IF head, CR LF, TAB, Else, the INSERT and UPDATE words, the WHERE clause) must stand exactly where the script
// form puts it, and every literal must be well formed. A literal that ends early or never ends therefore shows
// up as a parse error at the place where the script stops making sense.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::test_support::sql {

// A literal of the script: a text ('...' with '' standing for one apostrophe; `text` holds it decoded) or an
// unquoted number (`text` holds it as written).
struct Literal {
  bool is_text = false;
  std::string text;

  friend bool operator==(const Literal&, const Literal&) = default;
};

Literal Text(std::string text);
Literal Number(std::string text);

struct Statement {
  // True for the IF/INSERT/Else/UPDATE form, false for an UPDATE alone.
  bool has_insert = false;
  std::string table;
  std::string key_column;                            // inside Count(...) of the IF head
  Literal if_list_id;                                // compared with [QBListID] in the IF head
  std::vector<std::string> columns;                  // INSERT column names, brackets included
  std::vector<Literal> values;                       // INSERT values, one per column
  std::vector<std::pair<std::string, Literal>> set;  // UPDATE SET entries, brackets included
  Literal where_list_id;                             // compared with [QBListId] in the WHERE clause

  // The INSERT value or SET value of a column (brackets included); throws when there is none.
  const Literal& InsertValue(std::string_view column) const;
  const Literal& SetValue(std::string_view column) const;
  bool InSet(std::string_view column) const;
};

class ParseError : public std::runtime_error {
 public:
  ParseError(size_t offset, const std::string& what);
  size_t offset() const { return offset_; }

 private:
  size_t offset_;
};

// Every statement of a script, in order. Throws ParseError at the first thing that is not the script form.
std::vector<Statement> ParseScript(std::string_view script);

}  // namespace kv::test_support::sql
