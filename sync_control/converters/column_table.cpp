// Turns one column of a table into its statement literal, so that every table-driven converter forms its
// values the same way.

#include "sync_control/converters/column_table.h"

#include "platform/base/error.h"

namespace brintavel {
namespace {

// The literal of a column whose source is present; throws a kv::Error when it cannot be formed.
std::string FormValue(const Column& column, const std::optional<std::string>& child, const ColumnContext& context) {
  switch (column.kind) {
    case ColumnKind::Key:
      return KeyLiteral(context.position);
    case ColumnKind::Literal:
      return std::string(column.source);
    case ColumnKind::ChildText:
      return TextLiteral(*child, column.width);
    case ColumnKind::ChildNumber:
      if (!IsPlainDecimal(*child)) throw kv::TypeMismatch();
      return *child;
    case ColumnKind::ChildDate:
      return FormattedDateLiteral(kv::ParseDateTime(*child));
    case ColumnKind::ActiveFlag:
      return ActiveFlagLiteral(child);
    case ColumnKind::CreatedFormatted:
      return FormattedDateLiteral(context.record.TimeCreated());
    case ColumnKind::ModifiedFormatted:
      return FormattedDateLiteral(context.record.TimeModified());
    case ColumnKind::ModifiedGeneral:
      return GeneralDateLiteral(context.record.TimeModified(), column.width);
    case ColumnKind::UserName:
      return TextLiteral(context.user, column.width);
    case ColumnKind::Custom:
      if (column.custom == nullptr) throw kv::Error(kv::kErrObjectRequired, "Object required");
      return column.custom(child, context);
  }
  throw kv::TypeMismatch();
}

bool ReadsChild(ColumnKind kind) {
  return kind == ColumnKind::ChildText || kind == ColumnKind::ChildNumber || kind == ColumnKind::ChildDate ||
         kind == ColumnKind::ActiveFlag || kind == ColumnKind::Custom;
}

}  // namespace

ColumnValue EvaluateColumn(const Column& column, const ColumnContext& context) {
  std::optional<std::string> child;
  if (ReadsChild(column.kind) && !column.source.empty()) child = context.children.Child(column.source);
  if (child && column.keep_in != 0) context.record.SetText(column.keep_in, *child);

  ColumnValue out;
  // A custom value and the active flag decide for themselves what a missing child means.
  const bool missing =
      !child && ReadsChild(column.kind) && column.kind != ColumnKind::ActiveFlag && column.kind != ColumnKind::Custom;
  if (missing) {
    out.literal = std::string(column.missing);
  } else {
    try {
      out.literal = FormValue(column, child, context);
    } catch (const kv::Error&) {
      out.literal = std::string(child ? column.unformed.value_or(column.missing) : column.missing);
    }
  }
  switch (column.in_set) {
    case InSet::No:
      out.in_set = false;
      break;
    case InSet::Yes:
      out.in_set = true;
      break;
    case InSet::WhenValueIs:
      out.in_set = out.literal == column.set_when;
      break;
  }
  return out;
}

}  // namespace brintavel
