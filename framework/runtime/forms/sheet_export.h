#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/values/refusal.h"

namespace shenbao {

class DataStore;
struct FormObject;

// A column of a list as its grid shows it: the detail band's column or computed field, and
// the caption over it.
struct ListColumn {
  const FormObject* object = nullptr;
  std::string caption;
};

// The columns a grid or tabular form shows, left to right: the detail band's columns and
// computed fields that are not hidden, ordered by their x, each captioned by its shown header
// text `<name>_t`, or else by the shown header text nearest its left edge (as the browser
// draws the grid).
std::vector<ListColumn> shown_list_columns(const DataStore& store);

// Writes every row of a data store's primary buffer to an .xlsx workbook at `path`: one sheet
// named after `title`, the shown columns' captions as its frozen header row, and each cell as
// the list shows it — a code as its display name, a date as a spreadsheet date (yyyy-mm-dd, or
// yyyy-mm-dd hh:mm:ss with a time), a number as a number in its column's format (0.00% as a
// percentage), a text always as text, never a formula. Rows are written in order in constant
// memory, so a long list costs no more memory than a short one. Answers the number of rows
// written; a refusal (Failed) with the library's reason when the file cannot be written.
// Reads the data store only.
Result<long> export_sheet(const DataStore& store, std::string_view title, const std::string& path);

// The sheet name for a title: the characters a sheet name may not hold ([ ] : * ? / \) become
// spaces, apostrophes are taken off both ends, and it is cut to 31 characters; "Sheet1" when
// nothing is left.
std::string sheet_name(std::string_view title);

// The width of a text in a spreadsheet's character units: its longest line, a wide (CJK)
// character counting two.
size_t display_width(std::string_view text);

// The most a cell holds, in UTF-16 units, and the mark that ends a text cut to fit it.
inline constexpr size_t kCellTextLimit = 32767;
inline constexpr std::string_view kCutMark = "…[截断]";
// A text as a cell holds it: unchanged when it fits; else its start with kCutMark, the whole
// at most kCellTextLimit UTF-16 units, cut between characters.
std::string cell_text(std::string_view text);

}  // namespace shenbao
