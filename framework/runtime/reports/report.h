#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace shenbao {

class DataStore;
class FormLibrary;

// What a printed page is made of. Positions and sizes are in form units (pixels at 96 per
// inch) from the top left corner of the paper; a line runs from (x, y) to (x + w, y + h).
enum class ItemKind { Text, Line, Rectangle, GroupBox, CheckBox };
enum class HAlign { Left, Center, Right };
enum class Border { None, Box, Underline };

std::string_view to_string(ItemKind kind);

struct ReportFont {
  std::string face = "宋体";  // as the definition names it; report_draw.cpp maps it to a font
  double size = 10;          // points
  int weight = 400;          // 400 normal, 700 bold
  bool italic = false;
  bool underline = false;
};

// Colours are 0xRRGGBB.
struct ReportItem {
  ItemKind kind = ItemKind::Text;
  std::string name;  // the object's name; "grid" for the rules of a grid
  int x = 0, y = 0, w = 0, h = 0;
  std::string text;  // text, column and computed field: what is shown; group box: its caption
  ReportFont font;
  HAlign align = HAlign::Left;
  Border border = Border::None;
  uint32_t color = 0x000000;       // text colour
  bool has_background = false;     // text: fill the box with `background` first
  uint32_t background = 0xFFFFFF;
  double pen_width = 1;            // line, rectangle, group box, box borders
  uint32_t pen_color = 0x000000;
  bool has_fill = false;           // rectangle: fill with `fill`
  uint32_t fill = 0xFFFFFF;
  bool checked = false;            // check box: the box holds a tick
  bool wrap = true;                // text: may break into lines (numbers stay on one)
};

struct ReportPage {
  std::vector<ReportItem> items;
  // The paper of this page when it differs from the report's (a landscape form printed
  // into a job that began with a portrait one); 0 for the report's size.
  int width = 0, height = 0;
};

// A laid-out report: the paper size and the items of each page, in drawing order.
struct ReportPages {
  int width = 794;    // A4 portrait at 96 per inch
  int height = 1123;
  std::string title;  // the definition's title (PDF metadata)
  std::vector<ReportPage> pages;
  // Problems met while laying out that did not stop it (a nested report that could not be
  // retrieved, an expression that does not parse); empty when all went well.
  std::vector<std::string> warnings;
};

// Where nested reports come from.
struct LayoutOptions {
  // The library nested definitions are loaded from; default_form_library() when null.
  const FormLibrary* library = nullptr;
  // Rows a window put into a nested report itself (a nested report without a table). When
  // set and it answers a store for a report object's name, that store is printed instead of
  // retrieving the nested definition.
  std::function<const DataStore*(std::string_view report_name)> nested_rows;
};

// Lays a data store's definition and rows out in pages:
// - the header band at the top of every page, the footer band at the bottom of every page;
// - the detail band once per row; a row that does not fit on the page goes to the next page
//   under a repeated header, and a band taller than a page is cut between its objects;
// - the summary band after the last row;
// - grid style: ruled cells around the header captions and each row;
// - composite style: each `report` object is its nested definition, retrieved through the
//   store's transaction with its `arguments` evaluated against the composite's row (or
//   naming the composite's own retrieval arguments) and laid out in turn; `newpage=yes`
//   starts it on a new page;
// - computed fields are evaluated once the pages are counted, so page() and pagecount()
//   give "page N of M" of this report.
// Invisible objects (a false `visible`, or an expression answering false for the row) are
// left out. A store without rows gives one page with its header, summary and footer.
ReportPages layout_report(const DataStore& store, const LayoutOptions& options = {});

// True when the store's definition asks to be shown as print preview (form property
// print.preview / datawindow.print.preview = yes).
bool in_print_preview(const DataStore& store);

// The pages a print preview shows: layout_report with the default options.
ReportPages preview_pages(const DataStore& store, const LayoutOptions& options = {});

// One line per item, "page N: kind name x y w h text" (newlines in texts as \n; a check box
// shows its state as "[x] " or "[ ] " before its text), for golden tests.
std::string dump(const ReportPages& pages);

// Drawing with cairo and pango (report_draw.cpp). Fonts: 宋体 → Noto Serif CJK SC,
// 楷体_GB2312 and 楷体 → AR PL UKai CN, 黑体 → Noto Sans CJK SC, anything else → Noto Serif
// CJK SC. A text is drawn as fit_text() answers, centred vertically in its box; one that does
// not fit even at the smallest size is cut at its box (the layout has reported it).
//
// All pages into one PDF (form units × 0.75 = PDF points). False and an error text when the
// file cannot be written.
bool write_pdf(const ReportPages& pages, const std::string& path, std::string& error);
// Page `page` (1-based) as a PNG of (width × scale) × (height × scale) pixels.
bool write_png(const ReportPages& pages, int page, const std::string& path, double scale, std::string& error);
// The same PNG in memory, for serving it without a file.
bool render_png(const ReportPages& pages, int page, double scale, std::string& png, std::string& error);

// The smallest type a text is printed in, in points: a text shrinks to fit its box down to
// this size (or its own size, when that is smaller) and no further.
constexpr double kMinTextPoints = 7;

// How a text item fits its box as it is drawn (report_draw.cpp): the size it is drawn at,
// the height its lines then take (form units) and whether they fit. A text is wrapped at
// characters within the box's width (less padding) unless `wrap` is false; one line may stand
// a little above and below a low box.
struct TextFit {
  double size = 0;
  double height = 0;
  bool fits = true;
};
TextFit fit_text(const ReportItem& item);
// The height the text's lines take at its own size within its box's width.
double text_height(const ReportItem& item);

// How much of the text (bytes, at a line's start) stands within the first `height` units of
// its box at its own size: the whole text when all of it does.
size_t text_lines_within(const ReportItem& item, double height);

// The font family that draws a definition's font face.
std::string font_family_for(std::string_view face);

}  // namespace shenbao
