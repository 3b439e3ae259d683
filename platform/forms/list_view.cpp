// The list view's items and sub-items, and its rows as fixed-width text.

#include "platform/forms/list_view.h"

#include <algorithm>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace platform::forms {
namespace {

[[noreturn]] void OutOfBounds() {
  throw kv::Error(kErrIndexOutOfBounds, "Index out of bounds");
}

// Pads or cuts a cell to a column width given in twips (about 120 twips to a character of the grid font).
std::string Cell(std::string_view text, int width_twips) {
  const size_t width = static_cast<size_t>(std::max(4, width_twips / 120));
  std::string cell(kv::LeftChars(text, width));
  for (size_t n = kv::CodePointCount(cell); n < width; ++n) cell += ' ';
  return cell;
}

std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

void ListItem::CheckIndex(int index) const {
  if (index < 1 || index >= owner_->ColumnCount()) throw kv::Error(kErrInvalidPropertyValue, "Invalid property value");
}

std::string ListItem::SubItem(int index) const {
  CheckIndex(index);
  const size_t at = static_cast<size_t>(index - 1);
  return at < sub_items_.size() ? sub_items_[at] : std::string();
}

void ListItem::SetSubItem(int index, std::string text) {
  CheckIndex(index);
  const size_t at = static_cast<size_t>(index - 1);
  if (sub_items_.size() <= at) sub_items_.resize(at + 1);
  sub_items_[at] = std::move(text);
}

ColumnHeader& ListView::AddColumn(std::string text, int width_twips) {
  columns_.push_back({std::move(text), width_twips});
  return columns_.back();
}

const ColumnHeader& ListView::Column(int index) const {
  if (index < 1 || index > ColumnCount()) OutOfBounds();
  return columns_[static_cast<size_t>(index - 1)];
}

ListItem& ListView::AddItem(std::string text) {
  return items_.emplace_back(*this, std::move(text));
}

ListItem& ListView::Item(int index) {
  if (index < 1 || index > ItemCount()) OutOfBounds();
  return items_[static_cast<size_t>(index - 1)];
}

const ListItem& ListView::Item(int index) const {
  if (index < 1 || index > ItemCount()) OutOfBounds();
  return items_[static_cast<size_t>(index - 1)];
}

void ListView::RemoveItem(int index) {
  if (index < 1 || index > ItemCount()) OutOfBounds();
  items_.erase(items_.begin() + (index - 1));
}

void ListView::DescribeLine(std::ostream& out) const {
  if (columns_.empty()) {
    out << Name() << ": " << items_.size() << " item(s)";
    return;
  }
  std::string line;
  for (const ColumnHeader& column : columns_) line += Cell(column.Text, column.Width) + " ";
  out << TrimEnd(line);
  for (const ListItem& item : items_) {
    line.clear();
    for (int c = 0; c < ColumnCount(); ++c) {
      line += Cell(c == 0 ? item.Text() : item.SubItem(c), columns_[static_cast<size_t>(c)].Width) + " ";
    }
    out << '\n' << TrimEnd(line);
  }
  if (items_.empty()) out << "\n(no rows)";
}

}  // namespace platform::forms
