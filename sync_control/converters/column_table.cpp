// Turns one column of a table into its statement literal, so that every table-driven converter forms its
// values the same way.

#include "sync_control/converters/column_table.h"

#include "platform/base/error.h"

namespace brintavel {
namespace {

// Appends the literal of a column whose source is present; throws a kv::Error when it cannot be formed.
void FormValue(const Column& column, const std::optional<std::string_view>& child, const ColumnContext& context,
               std::string& out) {
  switch (column.kind) {
    case ColumnKind::Key:
      AppendKeyLiteral(out, context.position);
      return;
    case ColumnKind::Literal:
      out += column.source;
      return;
    case ColumnKind::ChildText:
      AppendTextLiteral(out, *child, column.width);
      return;
    case ColumnKind::ChildNumber:
      if (!IsPlainDecimal(*child)) throw kv::TypeMismatch();
      out += *child;
      return;
    case ColumnKind::ChildDate:
      out += FormattedDateLiteral(kv::ParseDateTime(*child));
      return;
    case ColumnKind::ActiveFlag:
      out += child && IsActiveText(*child) ? "-1" : "0";
      return;
    case ColumnKind::CreatedFormatted:
      out += FormattedDateLiteral(context.record.TimeCreated());
      return;
    case ColumnKind::ModifiedFormatted:
      out += FormattedDateLiteral(context.record.TimeModified());
      return;
    case ColumnKind::ModifiedGeneral:
      AppendTextLiteral(out, kv::GeneralDateText(context.record.TimeModified()), column.width);
      return;
    case ColumnKind::UserName:
      AppendTextLiteral(out, context.user, column.width);
      return;
    case ColumnKind::Custom: {
      if (column.custom == nullptr) throw kv::Error(kv::kErrObjectRequired, "Object required");
      const std::optional<std::string> text = child ? std::optional<std::string>(*child) : std::nullopt;
      out += column.custom(text, context);
      return;
    }
  }
  throw kv::TypeMismatch();
}

bool ReadsChild(ColumnKind kind) {
  return kind == ColumnKind::ChildText || kind == ColumnKind::ChildNumber || kind == ColumnKind::ChildDate ||
         kind == ColumnKind::ActiveFlag || kind == ColumnKind::Custom;
}

}  // namespace

bool AppendColumnLiteral(const Column& column, const ColumnContext& context, std::string& out) {
  std::optional<std::string_view> child;
  if (ReadsChild(column.kind) && !column.source.empty()) child = context.children.ChildView(column.source);
  if (child && column.keep_in != 0) context.record.SetText(column.keep_in, *child);

  const size_t start = out.size();
  // A custom value and the active flag decide for themselves what a missing child means.
  const bool missing =
      !child && ReadsChild(column.kind) && column.kind != ColumnKind::ActiveFlag && column.kind != ColumnKind::Custom;
  if (missing) {
    out += column.missing;
  } else {
    try {
      FormValue(column, child, context, out);
    } catch (const kv::Error&) {
      out.resize(start);
      out += child ? column.unformed.value_or(column.missing) : column.missing;
    }
  }
  switch (column.in_set) {
    case InSet::No:
      return false;
    case InSet::Yes:
      return true;
    case InSet::WhenValueIs:
      return std::string_view(out).substr(start) == column.set_when;
  }
  return false;
}

ColumnValue EvaluateColumn(const Column& column, const ColumnContext& context) {
  ColumnValue value;
  value.in_set = AppendColumnLiteral(column, context, value.literal);
  return value;
}

}  // namespace brintavel
