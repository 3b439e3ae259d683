// Laying a list view out on a terminal: padded columns, or one block per row when they do not fit.

#include "platform/forms/terminal_grid.h"

#include <algorithm>
#include <ostream>

#include "platform/base/text.h"
#include "platform/forms/caret_escape.h"
#include "platform/forms/list_view.h"

namespace platform::forms {
namespace {

constexpr std::string_view kGap = "  ";

std::string PadTo(std::string text, size_t width) {
  for (size_t n = kv::CodePointCount(text); n < width; ++n) text += ' ';
  return text;
}

void TrimEnd(std::string& text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
}

// Cuts a text into pieces of at most width code points, at a blank when one lies in the second half.
std::vector<std::string> Wrap(std::string_view text, size_t width) {
  std::vector<std::string> pieces;
  width = std::max<size_t>(width, 1);
  while (kv::CodePointCount(text) > width) {
    std::string_view head = kv::LeftChars(text, width);
    const size_t blank = head.rfind(' ');
    if (blank != std::string_view::npos && blank > head.size() / 2) head = head.substr(0, blank);
    pieces.emplace_back(head);
    text.remove_prefix(head.size());
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  }
  if (!text.empty() || pieces.empty()) pieces.emplace_back(text);
  return pieces;
}

}  // namespace

std::string VisibleCell(std::string_view text) {
  return CaretEscape(text, LineBreaks::kMarked);
}

void WriteGrid(std::ostream& out, const std::vector<std::string>& headers,
               const std::vector<std::vector<std::string>>& rows, size_t width) {
  std::vector<std::string> shown_headers;
  for (const std::string& header : headers) shown_headers.push_back(VisibleCell(header));
  std::vector<std::vector<std::string>> shown_rows;
  for (const auto& row : rows) {
    std::vector<std::string> cells;
    for (size_t c = 0; c < headers.size(); ++c) cells.push_back(c < row.size() ? VisibleCell(row[c]) : "");
    shown_rows.push_back(std::move(cells));
  }

  std::vector<size_t> widths;
  for (const std::string& header : shown_headers) widths.push_back(kv::CodePointCount(header));
  for (const auto& row : shown_rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], kv::CodePointCount(row[c]));
  }
  size_t total = 0;
  for (size_t w : widths) total += w;
  if (!widths.empty()) total += kGap.size() * (widths.size() - 1);

  // The last column of a terminal is left free: a line that fills it wraps on some terminals.
  if (total < width) {
    auto write_line = [&out, &widths](const std::vector<std::string>& cells) {
      std::string line;
      for (size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) line += kGap;
        line += PadTo(cells[c], widths[c]);
      }
      TrimEnd(line);
      out << line << '\n';
    };
    write_line(shown_headers);
    std::vector<std::string> rule;
    for (size_t w : widths) rule.emplace_back(w, '-');
    write_line(rule);
    for (const auto& row : shown_rows) write_line(row);
    return;
  }

  for (size_t r = 0; r < rows.size(); ++r) {
    out << "Row " << r + 1 << " of " << rows.size() << '\n';
    std::vector<std::string> cells = rows[r];
    cells.resize(headers.size());
    WriteFields(out, headers, cells, width);
  }
}

void WriteFields(std::ostream& out, const std::vector<std::string>& labels, const std::vector<std::string>& values,
                 size_t width) {
  const size_t indent = 2;
  std::vector<std::string> shown_labels;
  size_t label_width = 0;
  for (const std::string& label : labels) {
    shown_labels.push_back(VisibleCell(label));
    label_width = std::max(label_width, kv::CodePointCount(shown_labels.back()));
  }
  // A label wider than half the screen would leave no room for the value beside it.
  label_width = std::min(label_width, std::max<size_t>(width / 2, 8));
  const size_t value_width = width > indent + label_width + 4 ? width - indent - label_width - 4 : 20;
  for (size_t c = 0; c < shown_labels.size(); ++c) {
    const std::string label(kv::LeftChars(shown_labels[c], label_width));
    const std::vector<std::string> pieces = Wrap(VisibleCell(c < values.size() ? values[c] : ""), value_width);
    for (size_t p = 0; p < pieces.size(); ++p) {
      std::string line(indent, ' ');
      line += PadTo(p == 0 ? label : "", label_width);
      line += p == 0 ? " : " : "   ";
      line += pieces[p];
      TrimEnd(line);
      out << line << '\n';
    }
  }
}

void WriteGrid(std::ostream& out, const ListView& grid, size_t width) {
  std::vector<std::string> headers;
  for (int c = 1; c <= grid.ColumnCount(); ++c) headers.push_back(grid.Column(c).Text);
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= grid.ItemCount(); ++r) {
    const ListItem& item = grid.Item(r);
    std::vector<std::string> cells = {item.Text()};
    for (int c = 1; c < grid.ColumnCount(); ++c) cells.push_back(item.SubItem(c));
    rows.push_back(std::move(cells));
  }
  WriteGrid(out, headers, rows, width);
}

}  // namespace platform::forms
