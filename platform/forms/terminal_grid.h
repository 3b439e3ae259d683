#pragma once

// A list view as terminal text: the grid of the results and its cells made safe to show.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace platform::forms {

class ListView;

// A cell's text on one terminal line: each line break (CR LF, CR or LF) becomes "↵", a tab and every other
// control character caret notation ("^I", "^[", "^?" for DEL and the eight-bit controls).
std::string VisibleCell(std::string_view text);

// A grid on a terminal `width` columns wide: a header line, a rule and one line per row, the columns padded to
// their widest cell and kept apart by two blanks, so a cell holding "|" cannot be taken for a column edge. When
// the columns do not fit the width, each row is written as a block instead: "Row n of m", then one line per cell
// with its header, a long value wrapped onto further lines.
void WriteGrid(std::ostream& out, const std::vector<std::string>& headers,
               const std::vector<std::vector<std::string>>& rows, size_t width);

// Labelled values one per line ("  Label : value"), the labels padded alike, a long value wrapped onto further
// lines; the values shown as VisibleCell does.
void WriteFields(std::ostream& out, const std::vector<std::string>& labels, const std::vector<std::string>& values,
                 size_t width);

// The report view of a list view through WriteGrid.
void WriteGrid(std::ostream& out, const ListView& grid, size_t width);

}  // namespace platform::forms
