// A strict reader of the recorded statement scripts, so converter tests compare statements, not bytes.

#include "tests/support/sql/sql_script.h"

#include <cctype>

namespace kv::test_support::sql {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  bool Peek(std::string_view piece) const { return text_.substr(pos_, piece.size()) == piece; }

  void Expect(std::string_view piece) {
    if (!Peek(piece)) Fail("expected \"" + Printable(piece) + "\"");
    pos_ += piece.size();
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw ParseError(
        pos_, why + " at offset " + std::to_string(pos_) + ", found \"" + Printable(text_.substr(pos_, 40)) + "\"");
  }

  // A table or key name: letters, digits and "_".
  std::string Identifier() {
    const size_t start = pos_;
    while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      ++pos_;
    }
    if (pos_ == start) Fail("expected a name");
    return std::string(text_.substr(start, pos_ - start));
  }

  // "[Name]", brackets kept.
  std::string BracketedName() {
    const size_t start = pos_;
    Expect("[");
    while (pos_ < text_.size() && text_[pos_] != ']') {
      const char c = text_[pos_];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') Fail("unexpected character in a column name");
      ++pos_;
    }
    Expect("]");
    return std::string(text_.substr(start, pos_ - start));
  }

  Literal Value() {
    if (Peek("'")) return TextLiteral();
    return NumberLiteral();
  }

  Literal TextLiteral() {
    Expect("'");
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) Fail("a text literal that never ends");
      const char c = text_[pos_++];
      if (c != '\'') {
        out += c;
      } else if (pos_ < text_.size() && text_[pos_] == '\'') {
        out += '\'';
        ++pos_;
      } else {
        return Text(std::move(out));
      }
    }
  }

  Literal NumberLiteral() {
    const size_t start = pos_;
    if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
    const size_t digits = pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == digits) Fail("expected a literal");
    if (Peek(".")) {
      ++pos_;
      const size_t fraction = pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (pos_ == fraction) Fail("a number without digits after its decimal sign");
    }
    return Number(std::string(text_.substr(start, pos_ - start)));
  }

 private:
  static std::string Printable(std::string_view piece) {
    std::string out;
    for (char c : piece) {
      if (c == '\r')
        out += "\\r";
      else if (c == '\n')
        out += "\\n";
      else if (c == '\t')
        out += "\\t";
      else
        out += c;
    }
    return out;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

void ParseUpdate(Reader& r, Statement& s) {
  r.Expect("UPDATE ");
  const std::string table = r.Identifier();
  if (s.has_insert && table != s.table) r.Fail("UPDATE of another table than the INSERT");
  s.table = table;
  r.Expect(" SET ");
  for (bool first = true; first || r.Peek(","); first = false) {
    if (!first) r.Expect(",");
    std::string name = r.BracketedName();
    r.Expect("=");
    s.set.emplace_back(std::move(name), r.Value());
  }
  r.Expect(" WHERE [QBListId] = ");
  s.where_list_id = r.TextLiteral();
  r.Expect("\r\n");
}

Statement ParseStatement(Reader& r) {
  Statement s;
  if (r.Peek("IF ")) {
    s.has_insert = true;
    r.Expect("IF (SELECT Count(");
    s.key_column = r.Identifier();
    r.Expect(") FROM [");
    s.table = r.Identifier();
    r.Expect("] WHERE [QBListID] = ");
    s.if_list_id = r.TextLiteral();
    r.Expect(") <= 0\r\n\tINSERT INTO ");
    if (r.Identifier() != s.table) r.Fail("INSERT into another table than the IF head names");
    r.Expect(" (");
    for (bool first = true; first || r.Peek(","); first = false) {
      if (!first) r.Expect(",");
      s.columns.push_back(r.BracketedName());
    }
    r.Expect(") VALUES (");
    for (bool first = true; first || r.Peek(","); first = false) {
      if (!first) r.Expect(",");
      s.values.push_back(r.Value());
    }
    r.Expect(")\r\nElse\r\n\t");
    if (s.values.size() != s.columns.size())
      r.Fail("INSERT with " + std::to_string(s.columns.size()) + " columns and " + std::to_string(s.values.size()) +
             " values");
  }
  ParseUpdate(r, s);
  return s;
}

}  // namespace

Literal Text(std::string text) {
  return Literal{true, std::move(text)};
}
Literal Number(std::string text) {
  return Literal{false, std::move(text)};
}

ParseError::ParseError(size_t offset, const std::string& what) : std::runtime_error(what), offset_(offset) {}

const Literal& Statement::InsertValue(std::string_view column) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == column) return values[i];
  }
  throw std::out_of_range("no INSERT column " + std::string(column));
}

const Literal& Statement::SetValue(std::string_view column) const {
  for (const auto& [name, value] : set) {
    if (name == column) return value;
  }
  throw std::out_of_range("no SET entry " + std::string(column));
}

bool Statement::InSet(std::string_view column) const {
  for (const auto& entry : set) {
    if (entry.first == column) return true;
  }
  return false;
}

std::vector<Statement> ParseScript(std::string_view script) {
  Reader r(script);
  std::vector<Statement> out;
  while (!r.AtEnd()) out.push_back(ParseStatement(r));
  return out;
}

}  // namespace kv::test_support::sql
