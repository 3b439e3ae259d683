#pragma once

// The column tables that the table-driven converters are written as: what a column reads of its record, how its
// literal is formed and whether it stands in the update's SET list.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sync_control/converters/record_sets.h"
#include "sync_control/converters/sql_literal.h"

namespace brintavel {

// What a column reads of its record element: the text of a child, or of a child path "A/B"; nullopt when the
// element has no such child.
class RecordChildren {
 public:
  virtual ~RecordChildren() = default;
  // The text as a view, valid while the record is being read.
  virtual std::optional<std::string_view> ChildView(std::string_view path) const = 0;
  // Whether the path selects anything, its text unread.
  virtual bool HasChild(std::string_view path) const { return ChildView(path).has_value(); }
  // The text as a string of its own.
  std::optional<std::string> Child(std::string_view path) const {
    const std::optional<std::string_view> text = ChildView(path);
    if (!text) return std::nullopt;
    return std::string(*text);
  }
};

// Everything a column value may depend on.
struct ColumnContext {
  const RecordChildren& children;
  RecordRow& record;
  int64_t position;       // of the record element in its list, from 0, skipped records included
  std::string_view user;  // KalvorUser
};

enum class ColumnKind {
  Key,                // 9000000 + position
  Literal,            // `source` is the literal itself, the same for every record
  ChildText,          // text of child `source`, cut to `width`, apostrophes doubled
  ChildNumber,        // text of child `source` unquoted, when it is a plain decimal number
  ChildDate,          // text of child `source` read as a date, "mm/dd/yyyy hh:mm:ss"
  ActiveFlag,         // -1 when child `source` is exactly "1" or "true", else 0
  CreatedFormatted,   // member 2, "mm/dd/yyyy hh:mm:ss"
  ModifiedFormatted,  // member 3, "mm/dd/yyyy hh:mm:ss"
  ModifiedGeneral,    // member 3 in the general date-time text, cut to `width`
  UserName,           // KalvorUser cut to `width`, apostrophes doubled
  Custom,             // `custom` forms the literal from the child text (nullopt when missing) and the context
};

enum class InSet { No, Yes, WhenValueIs };

using CustomValue = std::string (*)(const std::optional<std::string>& child, const ColumnContext& context);

// One column of a converter's table. `missing` is the literal when the source child is absent; `unformed` the
// literal when a value cannot be formed from a present child (a text that is no number or no date, a number
// out of range), by default the same as `missing`. No column ever keeps the value of the column before it.
struct Column {
  std::string_view name;  // with its brackets: "[ClassName]"
  ColumnKind kind = ColumnKind::Literal;
  std::string_view source = {};
  size_t width = kNoWidth;
  std::string_view missing = kEmptyTextLiteral;
  InSet in_set = InSet::No;
  std::string_view set_when = {};  // with InSet::WhenValueIs: the literal that puts the column in the SET list
  std::optional<std::string_view> unformed = std::nullopt;
  CustomValue custom = nullptr;
  int keep_in = 0;  // when not 0: the child's raw text is also stored in this text member of the record
};

struct ColumnValue {
  std::string literal;
  bool in_set = false;
};

// Forms one column's literal for a record and tells whether it enters the SET list.
ColumnValue EvaluateColumn(const Column& column, const ColumnContext& context);
// The same literal appended to `out` (a statement's value list in the making); returns whether it enters the SET
// list.
bool AppendColumnLiteral(const Column& column, const ColumnContext& context, std::string& out);

// Shorthands for the column tables.
constexpr Column KeyColumn(std::string_view name) {
  return {.name = name, .kind = ColumnKind::Key};
}
constexpr Column EmptyTextColumn(std::string_view name) {
  return {.name = name, .kind = ColumnKind::Literal, .source = kEmptyTextLiteral};
}
constexpr Column ConstantColumn(std::string_view name, std::string_view literal) {
  return {.name = name, .kind = ColumnKind::Literal, .source = literal};
}
constexpr Column TextColumn(std::string_view name, std::string_view child, size_t width, bool in_set = true) {
  return {.name = name,
          .kind = ColumnKind::ChildText,
          .source = child,
          .width = width,
          .in_set = in_set ? InSet::Yes : InSet::No};
}

}  // namespace brintavel
