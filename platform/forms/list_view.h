#pragma once

// The report-view list control: column headers and items with sub-items.

#include <deque>
#include <string>
#include <vector>

#include "platform/forms/control.h"

namespace platform::forms {

inline constexpr int lvwIcon = 0;
inline constexpr int lvwSmallIcon = 1;
inline constexpr int lvwList = 2;
inline constexpr int lvwReport = 3;

// Index out of range in a list view's collections.
inline constexpr int64_t kErrIndexOutOfBounds = 35600;

struct ColumnHeader {
  std::string Text;
  int Width = 0;  // twips
};

class ListView;

// One row: its text is the first column, sub-item i (1-based) the column i + 1.
class ListItem {
 public:
  explicit ListItem(const ListView& owner, std::string text) : owner_(&owner), text_(std::move(text)) {}
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  // Sub-items exist for columns 2..n: index 1 .. column count - 1, else an invalid property value (380).
  // A sub-item never set reads "".
  std::string SubItem(int index) const;
  void SetSubItem(int index, std::string text);

 private:
  void CheckIndex(int index) const;
  const ListView* owner_;
  std::string text_;
  std::vector<std::string> sub_items_;
};

// The list view of the common controls, as the system uses it: report view with column headers and rows.
// Collections are 1-based like the platform's; an index out of range raises 35600 "Index out of bounds".
class ListView : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "ListView"; }

  int View() const { return view_; }
  void SetView(int view) { view_ = view; }

  ColumnHeader& AddColumn(std::string text, int width_twips);
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const ColumnHeader& Column(int index) const;
  void ClearColumns() { columns_.clear(); }

  // Rows keep their address while others are added.
  ListItem& AddItem(std::string text = "");
  int ItemCount() const { return static_cast<int>(items_.size()); }
  ListItem& Item(int index);
  const ListItem& Item(int index) const;
  void RemoveItem(int index);
  // Removes every row; the columns stay.
  void Clear() { items_.clear(); }

  // The grid as a text table, one line per row, columns padded to their header widths.
  void DescribeLine(std::ostream& out) const override;

 private:
  int view_ = lvwIcon;
  std::vector<ColumnHeader> columns_;
  std::deque<ListItem> items_;
};

}  // namespace platform::forms
