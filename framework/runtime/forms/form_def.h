#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/runtime/values/column_type.h"
#include "framework/runtime/forms/expression.h"
#include "framework/runtime/forms/syntax.h"
#include "framework/runtime/values/value.h"

namespace shenbao {

enum class Style { FreeForm, Grid, Tabular, Composite };
enum class Band { Header, Detail, Summary, Footer };
enum class ObjectKind { Text, Column, Compute, Line, Rectangle, GroupBox, Report };

std::string_view to_string(Style style);
std::string_view to_string(Band band);
std::string_view to_string(ObjectKind kind);

struct ColumnDef {
  std::string name;
  ColumnType type;
  std::string dbname;      // the column in the update table; the name when not given
  bool key = false;        // part of the update key
  bool updatable = false;  // written by update
  std::optional<Value> initial;  // value of a new row; null when not given
};

struct Argument {
  std::string name;
  ColumnType type;
};

// A property of an object. A value written "=expr" is an expression, compiled once against
// the form's columns and computed fields.
struct ObjectProperty {
  std::string name;
  std::string text;
  bool quoted = false;
  std::shared_ptr<const Expression> expression;
};

// A drawn object: text, column, computed field, line, rectangle, group box or nested report.
// Positions and sizes are in form units (pixels at 96 per inch; an A4 page is 794 x 1123).
struct FormObject {
  ObjectKind kind = ObjectKind::Text;
  std::string name;
  Band band = Band::Detail;
  std::vector<ObjectProperty> properties;
  int column = -1;  // index into FormDef::columns for a Column object
  int slot = -1;    // slot of a computed field (see FormDef::resolve_slot); a Column object's column index
  int line = 0;     // line of the definition text it was read from; 0 when created by modify

  const ObjectProperty* find(std::string_view property) const;
  std::string get(std::string_view property, std::string_view fallback = {}) const;
  int get_int(std::string_view property, int fallback = 0) const;
  bool get_bool(std::string_view property, bool fallback = false) const;
};

// A parsed form definition (see forms/README.md for the text it reads): presentation style,
// bands, data columns, retrieval SQL and arguments, update table and key, and the drawn
// objects with their properties and attribute expressions. Parsing, modify and create answer
// error texts and never throw; a FormDef is a value and may be copied freely.
class FormDef {
 public:
  static std::optional<FormDef> parse(std::string_view text, std::string& error);
  std::string to_text() const;

  // Applies a modify text: assignments `obj.prop=value` (`datawindow.` or `form.` for the form
  // itself), `create kind(...)` and `destroy name`. Answers "" on success; on an error answers
  // its text and leaves the definition unchanged.
  std::string modify(std::string_view text);
  // Answers the values of blank-separated property paths, one per line; "!" for an unknown
  // object or property, "?" for a property that is not set.
  std::string describe(std::string_view paths) const;

  int column_index(std::string_view name) const;  // -1 when unknown
  const FormObject* find_object(std::string_view name) const;
  FormObject* find_object(std::string_view name);
  // Slots of expressions: columns are 0..columns.size()-1, computed fields follow in
  // object order. -1 for an unknown name.
  int resolve_slot(std::string_view name) const;
  // The computed field whose slot is `slot`, or nullptr.
  const FormObject* compute_for_slot(int slot) const;

  std::string name;
  Style style = Style::FreeForm;
  std::vector<ObjectProperty> properties;  // form-level: title, print.preview, print.orientation, ...
  int band_height[4] = {0, 0, 0, 0};       // indexed by Band
  std::string retrieve_sql;
  std::string update_table;
  std::vector<Argument> arguments;
  std::vector<ColumnDef> columns;
  std::vector<FormObject> objects;

  std::string form_property(std::string_view name, std::string_view fallback = {}) const;
  void set_form_property(std::string_view name, std::string value);
};

// The size of a definition's unit in pixels. Definitions are in pixels unless their form
// property `units` says `fine`: then 32 units across are 7 pixels and 4 units down are one
// pixel, the finer grid that reports laid out by window scripts are written in (a 124-unit
// row is 31 pixels high). Positions, sizes, band heights and pen widths are in these units;
// font heights stay in points (a negative height is the same size).
struct UnitScale {
  double x = 1;
  double y = 1;
  bool is_pixels() const { return x == 1 && y == 1; }
};
UnitScale unit_scale(const FormDef& def);

// The size of a definition's unit as a free form is drawn on screen: unit_scale, enlarged
// (at most three times) so that its lowest one-line field is kLeastFieldPixels high. A form
// laid out on a print grid would otherwise show squeezed fields and captions broken into
// vertical glyphs. Fonts keep their sizes. Grids and other styles are drawn at unit_scale.
constexpr int kLeastFieldPixels = 22;
UnitScale screen_scale(const FormDef& def);

// How many pixels one unit of geometry property `property` is at `scale`; 0 for a property
// that is no position or size.
double pixels_per_unit(const UnitScale& scale, std::string_view property);

// A form as it is drawn on screen: its positions, sizes and bands in pixels at screen_scale
// (fonts keep their sizes). A free form's field of several lines that was given less height
// rests kRestingLinesPixels high (three lines), so that what was typed into it shows without
// opening it; what stands below it moves down, what holds it and its band grow with it.
// Expressions are left as they are.
constexpr int kRestingLinesPixels = 57;
FormDef screen_definition(const FormDef& def);

// The room a free form takes drawn whole on screen, in pixels: from its left edge to the right
// end of its rightmost object, and the height of its bands.
struct ScreenExtent {
  int width = 0;
  int height = 0;
};
ScreenExtent screen_extent(const FormDef& def);

}  // namespace shenbao
