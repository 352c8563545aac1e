#include "framework/runtime/forms/sheet_export.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/expression.h"

namespace shenbao {
namespace {

// A property as the browser reads it: a text that is empty, 0, false, no or n is false.
bool truthy(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  const auto first = text.find_first_not_of(" \t");
  text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t") - first + 1);
  return !(text.empty() || text == "0" || text == "false" || text == "no" || text == "n");
}

// Hidden when its visible property is a plain false; one given by an expression is shown
// (the browser draws the column for every row and hides cells row by row).
bool shown(const FormObject& object) {
  const ObjectProperty* visible = object.find("visible");
  return !visible || visible->expression || truthy(visible->text);
}

long number_of(const std::string& text) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  return end == text.c_str() ? 0 : v;
}

// Decodes one UTF-8 character at `i` (advancing it); a malformed byte counts as one character.
char32_t next_code_point(std::string_view text, size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (n == 1 || i + n > text.size()) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  i += n;
  return cp;
}

// East Asian wide and full-width characters, which a spreadsheet draws two columns wide.
bool is_wide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
         (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Control characters other than tab and line breaks cannot stand in the sheet's XML; no entry
// takes them, so a cell holding one leaves it out.
std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 || c == '\t' || c == '\n' || c == '\r') out.push_back(c);
  }
  return out;
}

constexpr double kMinWidth = 6;
constexpr double kMaxWidth = 60;

// How a column's cells are written.
enum class CellKind { Text, Number, Date, CheckBox };

struct SheetColumn {
  const FormObject* object = nullptr;
  int column = 0;  // the data column, from 1; 0 for a computed field
  CellKind kind = CellKind::Text;
  std::string format;        // a number's display format
  bool with_time = false;    // a date-time column whose format shows the time
  std::string checkbox_on;   // the stored value of a ticked check box
  lxw_format* number_format = nullptr;
  size_t width = 0;
};

// The workbook, closed (and its file written) or freed on every path.
struct Workbook {
  lxw_workbook* book = nullptr;
  ~Workbook() {
    if (book) workbook_close(book);
  }
  lxw_error close() {
    lxw_workbook* b = book;
    book = nullptr;
    return workbook_close(b);
  }
};

Refusal failed(const std::string& path, lxw_error error) {
  return Refusal::technical(RefusalCode::Failed, path + ": " + lxw_strerror(error));
}

}  // namespace

std::vector<ListColumn> shown_list_columns(const DataStore& store) {
  const FormDef& def = store.def();
  const UnitScale scale = unit_scale(def);
  std::vector<const FormObject*> detail;
  std::vector<const FormObject*> headers;
  for (const auto& object : def.objects) {
    if (object.band == Band::Detail && (object.kind == ObjectKind::Column || object.kind == ObjectKind::Compute) &&
        shown(object))
      detail.push_back(&object);
    if (object.band == Band::Header && object.kind == ObjectKind::Text && shown(object)) headers.push_back(&object);
  }
  std::stable_sort(detail.begin(), detail.end(), [](const FormObject* a, const FormObject* b) {
    return number_of(a->get("x")) < number_of(b->get("x"));
  });
  std::vector<ListColumn> columns;
  for (const FormObject* object : detail) {
    const std::string name =
        object->column >= 0 ? def.columns[static_cast<size_t>(object->column)].name : object->name;
    std::string caption;
    const FormObject* named = nullptr;
    for (const FormObject* h : headers) {
      if (h->name == name + "_t") named = h;
    }
    if (!named) {
      // Else the header text nearest the column's left edge, within 8 pixels, stands over it
      // (a report laid out by a script hides the generated captions and writes its own).
      const long x = number_of(object->get("x"));
      double nearest = 8;
      for (const FormObject* h : headers) {
        const double distance = std::abs(static_cast<double>(number_of(h->get("x")) - x)) * scale.x;
        if (distance < nearest) {
          named = h;
          nearest = distance;
        }
      }
    }
    if (named) caption = named->get("text");
    columns.push_back({object, std::move(caption)});
  }
  return columns;
}

std::string sheet_name(std::string_view title) {
  std::string name;
  for (char c : title) {
    const bool refused = c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\' ||
                         static_cast<unsigned char>(c) < 0x20;
    name.push_back(refused ? ' ' : c);
  }
  while (!name.empty() && name.front() == '\'') name.erase(name.begin());
  while (!name.empty() && name.back() == '\'') name.pop_back();
  // At most 31 characters, cut between characters.
  size_t i = 0;
  for (int count = 0; i < name.size() && count < 31; ++count) next_code_point(name, i);
  name.resize(i);
  if (name.find_first_not_of(' ') == std::string::npos) return "Sheet1";
  return name;
}

size_t display_width(std::string_view text) {
  size_t widest = 0;
  size_t line = 0;
  for (size_t i = 0; i < text.size();) {
    const char32_t cp = next_code_point(text, i);
    if (cp == '\n') {
      widest = std::max(widest, line);
      line = 0;
    } else {
      line += is_wide(cp) ? 2 : 1;
    }
  }
  return std::max(widest, line);
}

std::string cell_text(std::string_view text) {
  // Cells hold at most 32,767 UTF-16 units. A longer text keeps as much of its start as fits
  // with the mark "…[截断]" after it (5 units), so that a reader sees it was cut; the list
  // itself keeps the whole text.
  constexpr size_t kMarkUnits = 5;
  size_t units = 0;
  size_t cut = std::string_view::npos;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    units += next_code_point(text, i) > 0xFFFF ? 2 : 1;
    if (units > kCellTextLimit - kMarkUnits && cut == std::string_view::npos) cut = start;
    if (units > kCellTextLimit) return std::string(text.substr(0, cut)) + std::string(kCutMark);
  }
  return std::string(text);
}

Result<long> export_sheet(const DataStore& store, std::string_view title, const std::string& path) {
  if (!store.has_definition()) return Refusal::technical(RefusalCode::BadRequest, "the list has no definition");
  const FormDef& def = store.def();

  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  Workbook workbook;
  workbook.book = workbook_new_opt(path.c_str(), &options);
  if (!workbook.book) return Refusal::technical(RefusalCode::Failed, path + ": cannot create the workbook");
  const std::string name = sheet_name(title);
  lxw_worksheet* sheet = workbook_add_worksheet(workbook.book, name.c_str());
  if (!sheet) return Refusal::technical(RefusalCode::Failed, "cannot add the sheet " + name);

  lxw_format* header_format = workbook_add_format(workbook.book);
  format_set_bold(header_format);
  format_set_bg_color(header_format, 0xE8EEF5);
  format_set_border(header_format, LXW_BORDER_THIN);
  lxw_format* date_format = workbook_add_format(workbook.book);
  format_set_num_format(date_format, "yyyy-mm-dd");
  lxw_format* datetime_format = workbook_add_format(workbook.book);
  format_set_num_format(datetime_format, "yyyy-mm-dd hh:mm:ss");
  // Texts are wrapped only where they hold line breaks, as the grid shows them.
  lxw_format* wrapped_format = workbook_add_format(workbook.book);
  format_set_text_wrap(wrapped_format);

  std::vector<SheetColumn> columns;
  for (ListColumn& shown_column : shown_list_columns(store)) {
    SheetColumn c;
    c.object = shown_column.object;
    const FormObject& object = *c.object;
    const std::string format = object.get("format");
    const bool general = format.empty() || format == "[general]" || format == "[GENERAL]";
    if (object.kind == ObjectKind::Column) {
      c.column = object.column + 1;
      const ColumnDef& column = def.columns[static_cast<size_t>(object.column)];
      if (object.get("edit") == "checkbox") {
        c.kind = CellKind::CheckBox;
        c.checkbox_on = object.get("checkbox.on", "1");
      } else if (object.find("dddw.name")) {
        c.kind = CellKind::Text;  // a code shows its name
      } else if (column.type.is_date()) {
        c.kind = CellKind::Date;
        c.with_time = format.find("hh") != std::string::npos;
      } else if (column.type.is_numeric()) {
        c.kind = CellKind::Number;
      }
    } else {
      c.kind = CellKind::Number;  // a computed field's numbers; its texts stay texts below
    }
    if (!general) {
      c.format = format;
      if (c.kind == CellKind::Number) {
        c.number_format = workbook_add_format(workbook.book);
        format_set_num_format(c.number_format, format.c_str());
      }
    }
    c.width = display_width(shown_column.caption);
    lxw_error rc = worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(columns.size()),
                                          cell_text(printable(shown_column.caption)).c_str(), header_format);
    if (rc != LXW_NO_ERROR) return failed(path, rc);
    columns.push_back(std::move(c));
  }
  if (!columns.empty()) worksheet_freeze_panes(sheet, 1, 0);

  const long rows = store.rowcount();
  if (rows >= static_cast<long>(LXW_ROW_MAX)) {
    return Refusal::for_user(RefusalCode::Failed, "列表超过 Excel 工作表的最大行数，不能导出。",
                             std::to_string(rows) + " rows");
  }
  for (long r = 1; r <= rows; ++r) {
    const auto sheet_row = static_cast<lxw_row_t>(r);
    for (size_t i = 0; i < columns.size(); ++i) {
      SheetColumn& c = columns[i];
      const auto sheet_col = static_cast<lxw_col_t>(i);
      const Value value = c.column > 0 ? store.getitem(r, c.column) : store.getitem_any(r, c.object->name);
      if (value.is_null() && c.kind != CellKind::CheckBox) continue;  // an empty cell
      lxw_error rc = LXW_NO_ERROR;
      std::string text;
      if (c.kind == CellKind::Number && value.is_numeric()) {
        rc = worksheet_write_number(sheet, sheet_row, sheet_col, value.as_number(), c.number_format);
        text = format_value(value, c.format);
      } else if (c.kind == CellKind::Date && value.kind() == ValueKind::DateTime && value.as_datetime().year() >= 1900) {
        const DateTime d = value.as_datetime();
        const bool with_time = c.with_time || d.has_time();
        lxw_datetime when = {d.year(), d.month(), d.day(), d.hour(), d.minute(), static_cast<double>(d.second())};
        rc = worksheet_write_datetime(sheet, sheet_row, sheet_col, &when, with_time ? datetime_format : date_format);
        text = with_time ? d.to_sql_text() : d.date().to_string();  // for the width only
      } else {
        // Everything else as the list shows it, and always as a text: a value that begins
        // with = + - or @ stays what it says and is never read as a formula.
        if (c.kind == CellKind::CheckBox) {
          text = !value.is_null() && same_code(Value(c.checkbox_on), value) ? "是" : "否";
        } else if (c.column > 0) {
          text = store.display_value(r, c.column);
        } else {
          text = format_value(value, c.format);
        }
        text = cell_text(printable(text));
        if (!text.empty()) {
          const bool multiline = text.find('\n') != std::string::npos;
          rc = worksheet_write_string(sheet, sheet_row, sheet_col, text.c_str(), multiline ? wrapped_format : nullptr);
        }
      }
      if (rc != LXW_NO_ERROR) return failed(path, rc);
      if (c.width < kMaxWidth) c.width = std::max(c.width, display_width(text));
    }
  }
  // Widths that fit the widest text, within bounds (a long remark would else make its column
  // wider than any screen). Set after the rows: the sheet writes its columns when it closes.
  for (size_t i = 0; i < columns.size(); ++i) {
    const double width = std::clamp(static_cast<double>(columns[i].width) + 2, kMinWidth, kMaxWidth);
    worksheet_set_column(sheet, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i), width, nullptr);
  }
  if (lxw_error rc = workbook.close(); rc != LXW_NO_ERROR) return failed(path, rc);
  return rows;
}

}  // namespace shenbao
