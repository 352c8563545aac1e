// Laying a data store out in pages: bands, rows, page breaks, nested reports and computed
// fields that know their page.

#include "framework/runtime/reports/report.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "framework/runtime/forms/data_store.h"
#include "framework/runtime/forms/expression.h"
#include "framework/runtime/forms/form_def.h"

namespace shenbao {
namespace {

constexpr int kDefaultMargin = 24;     // a quarter inch around the printable area
constexpr int kArgumentSlotBase = 1 << 20;  // slots above this name the form's retrieval arguments
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<long long> to_integer(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  long long v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<double> to_double(std::string_view text) {
  std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size()) return std::nullopt;
  return v;
}

// A colour as definitions write it: rgb(r,g,b), or a colour number (blue × 65536 + green ×
// 256 + red, as rgb() computes it). Above 0xFFFFFF the numbers name system colours: window
// text (black), the window background (white) and "transparent". Answers nothing for
// transparent or unreadable text.
std::optional<uint32_t> parse_colour(std::string_view text) {
  const std::string t = lower(text);
  if (t.empty() || t == "transparent") return std::nullopt;
  long long number = 0;
  if (t.rfind("rgb(", 0) == 0 && t.back() == ')') {
    int parts[3] = {0, 0, 0};
    size_t pos = 4;
    for (int i = 0; i < 3; ++i) {
      const size_t end = t.find_first_of(",)", pos);
      if (end == std::string::npos) return std::nullopt;
      auto v = to_integer(std::string_view(t).substr(pos, end - pos));
      if (!v) return std::nullopt;
      parts[i] = static_cast<int>(std::clamp<long long>(*v, 0, 255));
      pos = end + 1;
    }
    number = parts[0] + parts[1] * 256LL + parts[2] * 65536LL;
  } else if (auto v = to_integer(t)) {
    number = *v;
  } else {
    return std::nullopt;
  }
  if (number == 536870912) return std::nullopt;        // transparent
  if (number == 33554432) return kBlack;                // window text
  if (number == 1073741824 || number == 1090519039) return kWhite;  // window background
  if (number == 67108864) return 0xF0F0F0;              // button face
  if (number < 0 || number > 0xFFFFFF) return std::nullopt;
  const uint32_t n = static_cast<uint32_t>(number);
  return ((n & 0xFF) << 16) | (n & 0xFF00) | ((n >> 16) & 0xFF);
}

bool truthy_text(const Value& v) {
  if (v.is_null()) return false;
  if (v.is_numeric()) return v.as_number() != 0;
  const std::string t = lower(v.to_string());
  if (t == "0" || t == "no" || t == "false" || t.empty()) return false;
  return true;
}

std::string normalise_format(std::string_view format) {
  return lower(format) == "[general]" ? std::string() : std::string(format);
}

// What expressions read while a report is laid out: the store's cells, the store's
// retrieval arguments (for the arguments of nested reports) and the page being printed.
class LayoutContext : public ExpressionContext {
 public:
  // `count_asked`, when given, is set when an expression reads pagecount().
  LayoutContext(const DataStore& store, long page, long page_count, bool* count_asked = nullptr)
      : store_(store), page_(page), page_count_(page_count), count_asked_(count_asked) {}
  Value slot_value(int slot, long row) const override {
    if (slot >= kArgumentSlotBase) {
      const auto& args = store_.retrieval_arguments();
      const size_t i = static_cast<size_t>(slot - kArgumentSlotBase);
      return i < args.size() ? args[i] : Value();
    }
    if (row < 1 || row > store_.rowcount()) return Value();
    return store_.slot_value(slot, row);
  }
  long row_count() const override { return store_.rowcount(); }
  long current_row() const override { return store_.getrow(); }
  long page() const override { return page_; }
  long page_count() const override {
    if (count_asked_) *count_asked_ = true;
    return page_count_;
  }
  DateTime today() const override { return store_.today(); }

 private:
  const DataStore& store_;
  long page_;
  long page_count_;
  bool* count_asked_;
};

// A computed field (or a text given by an expression) whose text waits until the pages are
// counted and its page is known.
struct Deferred {
  const DataStore* store = nullptr;
  std::shared_ptr<const Expression> expression;
  std::string format;
  long row = 0;
};

// Nested reports deeper than this are not laid out: a definition that contains itself, or
// two that contain each other, would otherwise never end.
constexpr size_t kMaxNesting = 8;

// An item of a band, with its position relative to the band's top.
struct Placed {
  ReportItem item;
  int deferred = -1;   // index into Layouter::deferred_
  bool grows = false;  // a text whose box grows down to hold all its lines
};

struct Block {
  std::vector<Placed> items;
  int height = 0;
};

// Where an item ended up: page, section (0 head, 1 body, 2 foot) and index.
struct Location {
  size_t page = 0;
  int section = 1;
  size_t index = 0;
};

struct PageParts {
  std::vector<ReportItem> head, body, foot;
  long first_row = 0, last_row = 0;  // rows of the top-level store on this page
  bool body_used = false;
};

// The vertical rules of a grid: x of each rule, and where the header cells start.
struct GridRules {
  std::vector<int> xs;
  int header_top = 0;
};

class Layouter {
 public:
  // `page_count`: what pagecount() answers while laying out (0 before the pages are counted).
  Layouter(const LayoutOptions& options, long page_count) : options_(options), known_page_count_(page_count) {}

  // True when a property other than a deferred text read pagecount(): the layout must be
  // made again with the count known.
  bool asked_page_count() const { return page_count_asked_; }

  ReportPages run(const DataStore& top) {
    top_ = &top;
    const FormDef& def = top.def();
    const bool landscape = lower(def.form_property("print.orientation")) == "landscape";
    // The layout runs in the definition's units, the paper and the default margins turned
    // into them; the items go back to pixels at the end.
    const UnitScale scale = unit_scale(def);
    scale_ = scale;
    const int paper_width = landscape ? 1123 : 794, paper_height = landscape ? 794 : 1123;
    out_.width = static_cast<int>(std::lround(paper_width / scale.x));
    out_.height = static_cast<int>(std::lround(paper_height / scale.y));
    margin_left_ = form_int(def, "print.margin.left", static_cast<int>(std::lround(kDefaultMargin / scale.x)));
    margin_top_ = form_int(def, "print.margin.top", static_cast<int>(std::lround(kDefaultMargin / scale.y)));
    margin_bottom_ = form_int(def, "print.margin.bottom", static_cast<int>(std::lround(kDefaultMargin / scale.y)));
    out_.title = def.form_property("title");
    if (out_.title.empty()) out_.title = def.name;
    top_header_ = def.band_height[static_cast<int>(Band::Header)];
    top_footer_ = def.band_height[static_cast<int>(Band::Footer)];

    new_page();
    lay_out(top, margin_left_, true);
    finish();
    if (!scale.is_pixels()) {
      for (ReportPage& page : out_.pages) {
        for (ReportItem& item : page.items) {
          const int x2 = static_cast<int>(std::lround((item.x + item.w) * scale.x));
          const int y2 = static_cast<int>(std::lround((item.y + item.h) * scale.y));
          item.x = static_cast<int>(std::lround(item.x * scale.x));
          item.y = static_cast<int>(std::lround(item.y * scale.y));
          item.w = x2 - item.x;
          item.h = y2 - item.y;
          item.pen_width *= scale.x;
        }
      }
      out_.width = paper_width;
      out_.height = paper_height;
    }
    return std::move(out_);
  }

 private:
  static int form_int(const FormDef& def, std::string_view name, int fallback) {
    auto v = to_integer(def.form_property(name));
    return v ? static_cast<int>(*v) : fallback;
  }

  int page_number() const { return current_page_; }
  int body_top() const { return margin_top_ + top_header_; }
  int body_bottom() const { return out_.height - margin_bottom_ - top_footer_; }

  void warn(std::string text) {
    if (std::find(out_.warnings.begin(), out_.warnings.end(), text) == out_.warnings.end())
      out_.warnings.push_back(std::move(text));
  }

  // ---- pages -------------------------------------------------------------------------

  void new_page() {
    pages_.emplace_back();
    current_page_ = static_cast<int>(pages_.size());
    cursor_ = body_top();
    // Nested reports that continue onto this page repeat their headers first.
    for (const Repeat& r : repeats_) {
      Block header = band_block(*r.store, Band::Header, *r.next_row, r.x);
      put(std::move(header), 1);
    }
  }

  // Puts a block at the cursor of the current page and advances the cursor.
  void put(Block block, int section, int at_y = -1) {
    PageParts& page = pages_.back();
    std::vector<ReportItem>& target = section == 0 ? page.head : section == 1 ? page.body : page.foot;
    const int y0 = at_y >= 0 ? at_y : cursor_;
    for (Placed& p : block.items) {
      p.item.y += y0;
      if (p.deferred >= 0) locations_[static_cast<size_t>(p.deferred)] = {pages_.size() - 1, section, target.size()};
      target.push_back(std::move(p.item));
    }
    if (at_y < 0) cursor_ += block.height;
  }

  // Places a body block, breaking the page first when it does not fit, and cutting it
  // between its objects when it is taller than a whole page.
  void flow(Block block) {
    if (block.items.empty()) {
      // An empty band only takes room; at the foot of a page it needs no page of its own.
      cursor_ = std::min(cursor_ + std::max(0, block.height), std::max(cursor_, body_bottom()));
      return;
    }
    while (cursor_ + block.height > body_bottom()) {
      if (pages_.back().body_used) {
        new_page();
        continue;
      }
      const int room = body_bottom() - cursor_;
      if (room <= 0) break;  // nothing fits even on a fresh page: let it run over
      Block rest = cut(block, room);
      if (!block.items.empty()) pages_.back().body_used = true;
      put(std::move(block), 1);
      if (rest.items.empty()) {
        // The rest of the band is empty room: it ends this page and needs none of its own.
        cursor_ = body_bottom();
        return;
      }
      block = std::move(rest);
      new_page();
      if (body_bottom() - cursor_ <= 0) break;
    }
    if (!block.items.empty()) pages_.back().body_used = true;
    put(std::move(block), 1);
  }

  // Splits `block` at a height of at most `room`: texts are not cut (the cut moves up to
  // the top of a text it would go through, unless that leaves nothing) except a text taller
  // than a page, which continues on the next page from the line that does not fit; rules and
  // frames are cut in two. `block` keeps the upper part; the lower part, moved up, is
  // answered.
  Block cut(Block& block, int room) {
    const int page_body = body_bottom() - body_top();
    const auto too_tall = [page_body](const ReportItem& it) { return it.kind == ItemKind::Text && it.h > page_body; };
    int at = room;
    for (bool moved = true; moved;) {
      moved = false;
      for (const Placed& p : block.items) {
        const ReportItem& it = p.item;
        const bool solid = it.kind == ItemKind::Text || it.kind == ItemKind::CheckBox;
        if (solid && !too_tall(it) && it.y < at && it.y + it.h > at && it.y > 0) {
          at = it.y;
          moved = true;
        }
      }
    }
    if (at <= 0) at = room;
    // A text taller than a page: the lines above the cut stay, the rest goes below.
    std::vector<Placed> continued;
    for (Placed& p : block.items) {
      ReportItem& it = p.item;
      if (!too_tall(it) || it.y >= at || it.y + it.h <= at || p.deferred >= 0) continue;
      const size_t split = text_lines_within(in_pixels(it), (at - it.y) * scale_.y);
      Placed below = p;
      below.item.text = it.text.substr(split);
      below.item.y = at;
      below.item.h = it.y + it.h - at;
      it.text.resize(split);
      it.h = at - it.y;
      continued.push_back(std::move(below));
    }
    for (Placed& p : continued) block.items.push_back(std::move(p));
    Block upper, lower;
    upper.height = at;
    lower.height = block.height - at;
    for (Placed& p : block.items) {
      ReportItem& it = p.item;
      if (it.kind == ItemKind::Line && it.h < 0) {
        // A line drawn upwards is the same line drawn downwards from its other end.
        it.x += it.w;
        it.y += it.h;
        it.w = -it.w;
        it.h = -it.h;
      }
      const int top = std::min(it.y, it.y + it.h), bottom = std::max(it.y, it.y + it.h);
      if (bottom <= at || (top < at && (it.kind == ItemKind::Text || it.kind == ItemKind::CheckBox))) {
        upper.items.push_back(std::move(p));
      } else if (top >= at) {
        it.y -= at;
        lower.items.push_back(std::move(p));
      } else if (it.kind == ItemKind::Line) {
        // The part of the line above the cut stays; the rest continues on the next page.
        const double t = static_cast<double>(at - it.y) / it.h;
        const int x_at = it.x + static_cast<int>(std::lround(it.w * t));
        Placed below = p;
        below.item.x = x_at;
        below.item.y = 0;
        below.item.w = it.x + it.w - x_at;
        below.item.h = it.y + it.h - at;
        it.w = x_at - it.x;
        it.h = at - it.y;
        upper.items.push_back(std::move(p));
        lower.items.push_back(std::move(below));
      } else {
        // A frame: its upper part closes at the cut, the lower part opens there.
        Placed below = p;
        below.item.y = 0;
        below.item.h = it.y + it.h - at;
        if (below.item.kind == ItemKind::GroupBox) {
          below.item.kind = ItemKind::Rectangle;
          below.item.text.clear();
        }
        it.h = at - it.y;
        upper.items.push_back(std::move(p));
        lower.items.push_back(std::move(below));
      }
    }
    block = std::move(upper);
    return lower;
  }

  // ---- forms -------------------------------------------------------------------------

  void lay_out(const DataStore& store, int x, bool top) {
    const FormDef& def = store.def();
    const long rows = store.rowcount();
    long next_row = rows > 0 ? 1 : 0;
    if (!top) {
      flow(band_block(store, Band::Header, next_row, x));
      repeats_.push_back({&store, x, &next_row});
    }
    if (def.style == Style::Composite) {
      lay_out_composite(store, x, top, next_row);
    } else {
      for (long row = 1; row <= rows; ++row) {
        next_row = row;
        flow(band_block(store, Band::Detail, row, x));
        if (top) note_row(row);
      }
    }
    if (!top) repeats_.pop_back();
    flow(band_block(store, Band::Summary, rows, x));
    if (!top) flow(band_block(store, Band::Footer, rows, x));
  }

  void note_row(long row) {
    PageParts& page = pages_.back();
    if (page.first_row == 0) page.first_row = row;
    page.last_row = row;
  }

  // A composite: for each of its rows (or once, when it has no columns of its own), its
  // nested reports in the order they stand, each laid out in full.
  void lay_out_composite(const DataStore& store, int x, bool top, long& next_row) {
    const FormDef& def = store.def();
    std::vector<const FormObject*> reports;
    for (const FormObject& o : def.objects)
      if (o.kind == ObjectKind::Report) reports.push_back(&o);
    std::stable_sort(reports.begin(), reports.end(), [](const FormObject* a, const FormObject* b) {
      const int ay = a->get_int("y"), by = b->get_int("y");
      return ay != by ? ay < by : a->get_int("x") < b->get_int("x");
    });
    const long rows = def.columns.empty() ? 1 : store.rowcount();
    for (long row = 1; row <= rows; ++row) {
      const long data_row = def.columns.empty() ? (store.rowcount() > 0 ? 1 : 0) : row;
      next_row = data_row;
      if (top && data_row > 0) note_row(data_row);
      std::vector<const FormObject*> shown;
      for (const FormObject* report : reports)
        if (visible(store, *report, data_row)) shown.push_back(report);
      // The composite's own objects of the detail band stand over the band's start, except
      // those below a nested report: they follow it down as far as it grew.
      Block own = band_block(store, Band::Detail, data_row, x);
      Block over;
      std::vector<Block> below(shown.size());
      for (Placed& p : own.items) {
        const int item_top = std::min(p.item.y, p.item.y + p.item.h);
        int follows = -1;
        for (size_t i = 0; i < shown.size(); ++i)
          if (bottom_of(*shown[i]) <= item_top) follows = static_cast<int>(i);
        (follows < 0 ? over : below[static_cast<size_t>(follows)]).items.push_back(std::move(p));
      }
      if (!over.items.empty()) {
        put(std::move(over), 1, cursor_);
        pages_.back().body_used = true;
      }
      int previous_bottom = 0;
      for (size_t i = 0; i < shown.size(); ++i) {
        const FormObject& report = *shown[i];
        const bool newpage = lower(report.get("newpage")) == "yes" || report.get("newpage") == "1";
        if (newpage && pages_.back().body_used) new_page();
        else if (!newpage) cursor_ += std::max(0, report.get_int("y") - previous_bottom);
        previous_bottom = bottom_of(report);
        lay_out_nested(store, report, data_row, x);
        if (below[i].items.empty()) continue;
        int extent = 0;
        for (Placed& p : below[i].items) {
          p.item.y -= previous_bottom;
          extent = std::max({extent, p.item.y, p.item.y + p.item.h});
        }
        below[i].height = extent;
        flow(std::move(below[i]));
        previous_bottom += extent;
      }
    }
  }

  static int bottom_of(const FormObject& report) { return report.get_int("y") + report.get_int("height"); }

  void lay_out_nested(const DataStore& store, const FormObject& report, long row, int x) {
    if (nesting_.size() >= kMaxNesting) {
      warn("report " + report.name + ": nested more than " + std::to_string(kMaxNesting) +
           " deep (does a report contain itself?)");
      return;
    }
    const DataStore* nested = nested_store(store, report, row);
    if (!nested) return;
    nesting_.push_back(&report);
    lay_out(*nested, x + report.get_int("x"), false);
    nesting_.pop_back();
  }

  // The nested report's rows: the ones a window supplied, else its definition retrieved
  // with the report's arguments.
  const DataStore* nested_store(const DataStore& parent, const FormObject& report, long row) {
    if (options_.nested_rows) {
      if (const DataStore* supplied = options_.nested_rows(report.name)) return supplied;
    }
    if (const DataStore* own = parent.nested_report(report.name)) return own;
    const FormDef& def = parent.def();
    const std::string form = report.get("form");
    const FormLibrary& library = options_.library ? *options_.library : default_form_library();
    auto nested = std::make_unique<DataStore>(library);
    if (nested->set_dataobject(form) < 0) {
      warn("report " + report.name + ": " + nested->last_error());
      return nullptr;
    }
    nested->set_today(parent.today());
    nested->settransobject(parent.transobject());
    SlotResolver resolver = [&def](std::string_view name) {
      const int slot = def.resolve_slot(name);
      if (slot >= 0) return slot;
      for (size_t i = 0; i < def.arguments.size(); ++i)
        if (lower(def.arguments[i].name) == lower(name)) return kArgumentSlotBase + static_cast<int>(i);
      return -1;
    };
    std::string error;
    const auto expressions = Expression::parse_list(report.get("arguments"), resolver, error);
    if (!error.empty()) {
      warn("report " + report.name + " arguments: " + error);
      return nullptr;
    }
    std::vector<Value> arguments;
    LayoutContext context(parent, page_number(), known_page_count_, &page_count_asked_);
    for (const auto& e : expressions) arguments.push_back(e->evaluate(context, row));
    const FormDef& nested_def = nested->def();
    if (!nested_def.retrieve_sql.empty() || nested_def.style == Style::Composite) {
      if (!nested->transobject()) {
        warn("report " + report.name + ": no transaction to retrieve " + form);
      } else if (nested->retrieve(arguments) < 0) {
        warn("report " + report.name + ": " + nested->last_error());
      }
    }
    owned_.push_back(std::move(nested));
    return owned_.back().get();
  }

  // ---- bands -------------------------------------------------------------------------

  Value evaluate(const DataStore& store, const ObjectProperty& p, long row) {
    if (!p.expression) return Value(p.text);
    LayoutContext context(store, page_number(), known_page_count_, &page_count_asked_);
    return p.expression->evaluate(context, row);
  }

  // Registers an item whose text is evaluated when the pages are known.
  void defer(Placed& placed, const DataStore& store, std::shared_ptr<const Expression> expression,
             std::string format, long row) {
    placed.deferred = static_cast<int>(deferred_.size());
    deferred_.push_back({&store, std::move(expression), std::move(format), row});
    locations_.emplace_back();
  }

  std::string property(const DataStore& store, const FormObject& o, std::string_view name, long row,
                       std::string_view fallback = {}) {
    const ObjectProperty* p = o.find(name);
    if (!p) return std::string(fallback);
    if (!p->expression) return p->text;
    return evaluate(store, *p, row).to_string();
  }

  bool visible(const DataStore& store, const FormObject& o, long row) {
    const ObjectProperty* p = o.find("visible");
    return !p || truthy_text(evaluate(store, *p, row));
  }

  void style_item(const DataStore& store, const FormObject& o, long row, ReportItem& item) {
    item.font.face = property(store, o, "font.face", row, "宋体");
    if (auto size = to_double(property(store, o, "font.height", row))) item.font.size = std::abs(*size);
    if (item.font.size <= 0) item.font.size = 10;
    if (auto weight = to_integer(property(store, o, "font.weight", row))) item.font.weight = static_cast<int>(*weight);
    const std::string italic = lower(property(store, o, "font.italic", row));
    item.font.italic = italic == "yes" || italic == "1";
    const std::string underline = lower(property(store, o, "font.underline", row));
    item.font.underline = underline == "yes" || underline == "1";

    const std::string align = lower(property(store, o, "align", row, property(store, o, "alignment", row)));
    item.align = (align == "center" || align == "2")  ? HAlign::Center
                 : (align == "right" || align == "1") ? HAlign::Right
                                                      : HAlign::Left;
    const std::string border = lower(property(store, o, "border", row));
    item.border = (border == "box" || border == "2" || border == "1" || border == "5" || border == "6") ? Border::Box
                  : (border == "underline" || border == "4")                                          ? Border::Underline
                                                                                                       : Border::None;
    if (auto c = parse_colour(property(store, o, "color", row))) item.color = *c;
    // A background is painted only when it is a colour and not switched to transparent.
    const std::string mode = property(store, o, "background.mode", row);
    if (auto c = parse_colour(property(store, o, "background.color", row)); c && mode != "1") {
      item.has_background = true;
      item.background = *c;
    }
  }

  // A whole-number property (a position or size), evaluated for the row when it is an
  // expression; `fallback` when it is missing or not a number.
  int int_property(const DataStore& store, const FormObject& o, std::string_view name, long row, int fallback = 0) {
    const ObjectProperty* p = o.find(name);
    if (!p) return fallback;
    if (!p->expression) return o.get_int(name, fallback);
    const Value v = evaluate(store, *p, row);
    if (v.kind() == ValueKind::Long) return static_cast<int>(v.as_long());
    if (v.is_numeric()) return static_cast<int>(std::lround(v.as_number()));
    if (auto n = to_integer(v.to_string())) return static_cast<int>(*n);
    return fallback;
  }

  void geometry(const DataStore& store, const FormObject& o, long row, int x, ReportItem& item) {
    item.x = x + int_property(store, o, "x", row);
    item.y = int_property(store, o, "y", row);
    item.w = int_property(store, o, "width", row);
    item.h = int_property(store, o, "height", row);
  }

  std::shared_ptr<const Expression> compute_expression(const DataStore& store, const FormObject& o) {
    const ObjectProperty* p = o.find("expression");
    if (!p) return nullptr;
    if (p->expression) return p->expression;
    auto& cached = compiled_[&o];
    if (cached) return cached;
    std::string error;
    const FormDef& def = store.def();
    std::string_view text = p->text;
    if (!text.empty() && text.front() == '=') text.remove_prefix(1);
    cached = Expression::parse(text, [&def](std::string_view name) { return def.resolve_slot(name); }, error);
    if (!cached) warn("compute " + o.name + ": " + error);
    return cached;
  }

  // The objects of one band for one row (0: no row), relative to the band's top.
  Block band_block(const DataStore& store, Band band, long row, int x) {
    const FormDef& def = store.def();
    Block block;
    block.height = std::max(0, def.band_height[static_cast<int>(band)]);
    for (const FormObject& o : def.objects) {
      if (o.band != band || o.kind == ObjectKind::Report) continue;
      if (!visible(store, o, row)) continue;
      Placed placed;
      ReportItem& item = placed.item;
      item.name = o.name;
      switch (o.kind) {
        case ObjectKind::Text: {
          item.kind = ItemKind::Text;
          geometry(store, o, row, x, item);
          style_item(store, o, row, item);
          placed.grows = grows(store, o, band, row);
          const ObjectProperty* text = o.find("text");
          if (text && text->expression) {
            defer(placed, store, text->expression, std::string(), row);  // it may name page()
          } else if (text) {
            item.text = text->text;
          }
          break;
        }
        case ObjectKind::Column: {
          if (!o.find("x") || o.column < 0 || o.column >= static_cast<int>(def.columns.size())) continue;
          item.kind = ItemKind::Text;
          geometry(store, o, row, x, item);
          style_item(store, o, row, item);
          column_text(store, o, row, item);
          placed.grows = grows(store, o, band, row);
          break;
        }
        case ObjectKind::Compute: {
          item.kind = ItemKind::Text;
          geometry(store, o, row, x, item);
          style_item(store, o, row, item);
          if (auto expression = compute_expression(store, o))
            defer(placed, store, expression, normalise_format(property(store, o, "format", row)), row);
          break;
        }
        case ObjectKind::Line:
          item.kind = ItemKind::Line;
          item.x = x + int_property(store, o, "x1", row);
          item.y = int_property(store, o, "y1", row);
          item.w = int_property(store, o, "x2", row) - int_property(store, o, "x1", row);
          item.h = int_property(store, o, "y2", row) - int_property(store, o, "y1", row);
          pen(store, o, row, item);
          break;
        case ObjectKind::Rectangle:
          item.kind = ItemKind::Rectangle;
          geometry(store, o, row, x, item);
          pen(store, o, row, item);
          if (auto c = parse_colour(property(store, o, "brush.color", row))) {
            item.has_fill = true;
            item.fill = *c;
          }
          break;
        case ObjectKind::GroupBox:
          item.kind = ItemKind::GroupBox;
          geometry(store, o, row, x, item);
          style_item(store, o, row, item);
          pen(store, o, row, item);
          item.text = property(store, o, "text", row);
          break;
        case ObjectKind::Report:
          continue;
      }
      block.items.push_back(std::move(placed));
    }
    fit_texts(block, def.name);
    if (def.style == Style::Grid) add_grid_rules(store, band, x, block);
    return block;
  }

  // Whether a text object's box grows to hold its lines: `height.autosize`, or any value of a
  // grid's row (the row grows, as a table's does). Page headers and footers keep their
  // height: their texts shrink.
  bool grows(const DataStore& store, const FormObject& o, Band band, long row) {
    if (band == Band::Header || band == Band::Footer) return false;
    if (o.find("height.autosize")) return truthy_text(Value(property(store, o, "height.autosize", row)));
    return store.def().style == Style::Grid && band == Band::Detail && o.kind == ObjectKind::Column;
  }

  // Fits the texts of a block into their boxes: a growing box takes the height its lines
  // need, and what stands below it moves down (what spans its bottom stretches); any other
  // text shrinks as far as the smallest size. A text that still does not fit is reported.
  void fit_texts(Block& block, const std::string& form) {
    for (size_t i = 0; i < block.items.size(); ++i) {
      Placed& p = block.items[i];
      if (p.deferred >= 0 || p.item.kind != ItemKind::Text || p.item.text.empty()) continue;
      if (p.grows && !fits_on_one_line(p.item)) {
        const int need = static_cast<int>(std::ceil((text_height(in_pixels(p.item)) + 2) / scale_.y));
        if (need > p.item.h) grow_at(block, p.item.y + p.item.h, need - p.item.h);
      }
      fit_item(block.items[i].item, form);
    }
  }

  // Shrinks a text to the size that fits its box, or reports that none does.
  void fit_item(ReportItem& item, const std::string& form) {
    if (item.kind != ItemKind::Text || item.text.empty() || fits_on_one_line(item)) return;
    const ReportItem shown = in_pixels(item);
    const TextFit fit = fit_text(shown);
    item.font.size = fit.size;
    if (!fit.fits)
      warn(form + ": the text of " + item.name + " does not fit its box (" + std::to_string(shown.w) + " x " +
           std::to_string(shown.h) + ") even at " + std::to_string(static_cast<int>(fit.size)) + " pt");
  }

  // A text item's box in pixels, as it will be drawn.
  ReportItem in_pixels(const ReportItem& item) const {
    ReportItem out = item;
    out.w = static_cast<int>(std::lround(item.w * scale_.x));
    out.h = static_cast<int>(std::lround(item.h * scale_.y));
    return out;
  }

  // True without measuring when the text is sure to stand on one line at its size: no
  // character is wider than the font's size.
  bool fits_on_one_line(const ReportItem& item) const {
    if (item.text.find('\n') != std::string::npos) return false;
    size_t chars = 0;
    for (unsigned char c : item.text) chars += (c & 0xC0) != 0x80;
    const double em = item.font.size * 96.0 / 72.0;
    return static_cast<double>(chars) * em <= item.w * scale_.x - 8;
  }

  // The block grown by `delta` at `edge`: what starts at or below it moves down, what spans
  // it (the frames and rules of the row, the texts beside) stretches.
  static void grow_at(Block& block, int edge, int delta) {
    for (Placed& p : block.items) {
      ReportItem& it = p.item;
      const int top = std::min(it.y, it.y + it.h), bottom = std::max(it.y, it.y + it.h);
      if (top >= edge) {
        it.y += delta;
      } else if (bottom >= edge) {
        if (it.h >= 0) {
          it.h += delta;
        } else {
          it.y += delta;
          it.h -= delta;
        }
      }
    }
    block.height += delta;
  }

  void pen(const DataStore& store, const FormObject& o, long row, ReportItem& item) {
    if (auto w = to_double(property(store, o, "pen.width", row))) item.pen_width = std::max(0.0, *w);
    if (auto c = parse_colour(property(store, o, "pen.color", row))) item.pen_color = *c;
  }

  // A column as the paper shows it: a drop-down's display name, a check box, or the value
  // in the column's format (an edit mask serves as the format when there is none).
  void column_text(const DataStore& store, const FormObject& o, long row, ReportItem& item) {
    const int column = o.column + 1;
    const Value value = row >= 1 && row <= store.rowcount() ? store.getitem(row, column) : Value();
    const std::string edit = lower(o.get("edit"));
    if (edit == "checkbox") {
      item.kind = ItemKind::CheckBox;
      item.checked = !value.is_null() && value.to_string() == o.get("checkbox.on", "1");
      item.text = o.get("checkbox.text");
      return;
    }
    if (value.is_null()) return;
    if (edit == "dropdown" || o.find("dddw.name")) {
      item.text = store.display_value(row, column);
      if (item.text == value.to_string()) {
        if (auto name = code_list_name(store, o, value)) item.text = *name;
      }
      return;
    }
    std::string format = property(store, o, "format", row);
    if (format.empty() && edit == "mask") format = o.get("mask");
    item.text = format_value(value, normalise_format(format));
    item.wrap = !value.is_numeric();
  }

  // The display name of a drop-down's code when the store's own code list does not have it
  // (a list that was never fetched): the code list retrieved once for this report.
  std::optional<std::string> code_list_name(const DataStore& store, const FormObject& o, const Value& value) {
    auto& list = code_lists_[{&store, &o}];
    if (!list) {
      const FormLibrary& library = options_.library ? *options_.library : default_form_library();
      list = std::make_unique<DataStore>(library);
      if (list->set_dataobject(o.get("dddw.name")) < 0) {
        warn("column " + o.name + ": " + list->last_error());
      } else if (store.transobject() && !list->def().retrieve_sql.empty()) {
        list->settransobject(store.transobject());
        if (list->retrieve() < 0) warn("column " + o.name + ": " + list->last_error());
      }
    }
    if (!list->has_definition()) return std::nullopt;
    const std::string data = o.get("dddw.data"), display = o.get("dddw.display");
    for (long r = 1; r <= list->rowcount(); ++r) {
      if (same_code(list->getitem(r, data), value)) return list->getitem(r, display).to_string();
    }
    return std::nullopt;
  }

  // Grid style rules: a cell around each header caption and each value of a row.
  void add_grid_rules(const DataStore& store, Band band, int x, Block& block) {
    if (band != Band::Header && band != Band::Detail) return;
    const GridRules& rules = grid_rules(store);
    if (rules.xs.size() < 2) return;
    const FormDef& def = store.def();
    const int header_h = def.band_height[static_cast<int>(Band::Header)];
    auto rule = [&](int x1, int y1, int x2, int y2) {
      Placed p;
      p.item.kind = ItemKind::Line;
      p.item.name = "grid";
      p.item.x = x + x1;
      p.item.y = y1;
      p.item.w = x2 - x1;
      p.item.h = y2 - y1;
      block.items.push_back(std::move(p));
    };
    const int left = rules.xs.front(), right = rules.xs.back();
    const int top = band == Band::Header ? rules.header_top : 0;
    if (band == Band::Header || header_h <= 0) rule(left, top, right, top);
    for (int rx : rules.xs) rule(rx, top, rx, block.height);
    rule(left, block.height, right, block.height);
  }

  const GridRules& grid_rules(const DataStore& store) {
    auto [it, inserted] = grid_rules_.try_emplace(&store);
    if (!inserted) return it->second;
    GridRules& rules = it->second;
    const FormDef& def = store.def();
    std::vector<std::pair<int, int>> cells;
    for (const FormObject& o : def.objects) {
      if (o.band != Band::Detail || (o.kind != ObjectKind::Column && o.kind != ObjectKind::Compute)) continue;
      if (o.kind == ObjectKind::Column && !o.find("x")) continue;
      const ObjectProperty* v = o.find("visible");
      if (v && !v->expression && !truthy_text(Value(v->text))) continue;
      cells.emplace_back(o.get_int("x"), o.get_int("x") + o.get_int("width"));
    }
    std::sort(cells.begin(), cells.end());
    if (cells.empty()) return rules;
    rules.xs.push_back(cells.front().first - 2);
    for (size_t i = 1; i < cells.size(); ++i) {
      const int boundary = (cells[i - 1].second + cells[i].first) / 2;
      if (boundary > rules.xs.back()) rules.xs.push_back(boundary);
    }
    rules.xs.push_back(std::max(rules.xs.back() + 1, cells.back().second + 2));
    // The header cells start above the highest caption of a column: a text over one column
    // only, or one named as its column with "_t". A title over several columns stays
    // outside the cells.
    int top = -1;
    for (const FormObject& o : def.objects) {
      if (o.band != Band::Header || o.kind != ObjectKind::Text) continue;
      const int ox = o.get_int("x"), ow = o.get_int("width");
      const auto over = std::count_if(cells.begin(), cells.end(), [&](const auto& c) {
        return ox < c.second && ox + ow > c.first;
      });
      const bool caption = over == 1 || (o.name.size() > 2 && o.name.ends_with("_t") &&
                                         def.column_index(o.name.substr(0, o.name.size() - 2)) >= 0);
      if (caption) top = top < 0 ? o.get_int("y") : std::min(top, o.get_int("y"));
    }
    rules.header_top = std::max(0, top < 0 ? 0 : top - 2);
    return rules;
  }

  // ---- finishing ---------------------------------------------------------------------

  // Page headers and footers of the top-level form, computed fields with their page
  // numbers, and the pages in drawing order.
  void finish() {
    const long count = static_cast<long>(pages_.size());
    long previous_last = top_->rowcount() > 0 ? 1 : 0;
    for (size_t i = 0; i < pages_.size(); ++i) {
      PageParts& page = pages_[i];
      const long first = page.first_row ? page.first_row : previous_last;
      const long last = page.last_row ? page.last_row : first;
      previous_last = last;
      current_page_ = static_cast<int>(i) + 1;
      Block header = band_block(*top_, Band::Header, first, margin_left_);
      place_on(i, std::move(header), 0, margin_top_);
      Block footer = band_block(*top_, Band::Footer, last, margin_left_);
      place_on(i, std::move(footer), 2, body_bottom());
    }
    for (size_t d = 0; d < deferred_.size(); ++d) {
      const Deferred& job = deferred_[d];
      const Location& at = locations_[d];
      if (at.page >= pages_.size()) continue;
      LayoutContext context(*job.store, static_cast<long>(at.page) + 1, count);
      const Value value = job.expression->evaluate(context, job.row);
      PageParts& page = pages_[at.page];
      std::vector<ReportItem>& items = at.section == 0 ? page.head : at.section == 1 ? page.body : page.foot;
      if (at.index >= items.size()) continue;
      items[at.index].text = format_value(value, job.format);
      items[at.index].wrap = !value.is_numeric();
      fit_item(items[at.index], job.store->def().name);
    }
    for (PageParts& parts : pages_) {
      ReportPage page;
      page.items.reserve(parts.head.size() + parts.body.size() + parts.foot.size());
      for (auto* section : {&parts.head, &parts.body, &parts.foot})
        for (ReportItem& item : *section) page.items.push_back(std::move(item));
      out_.pages.push_back(std::move(page));
    }
  }

  void place_on(size_t page_index, Block block, int section, int y) {
    PageParts& page = pages_[page_index];
    std::vector<ReportItem>& target = section == 0 ? page.head : section == 1 ? page.body : page.foot;
    for (Placed& p : block.items) {
      p.item.y += y;
      if (p.deferred >= 0) locations_[static_cast<size_t>(p.deferred)] = {page_index, section, target.size()};
      target.push_back(std::move(p.item));
    }
  }

  struct Repeat {
    const DataStore* store;
    int x;
    const long* next_row;
  };

  const LayoutOptions& options_;
  UnitScale scale_;
  long known_page_count_ = 0;
  bool page_count_asked_ = false;
  std::vector<const FormObject*> nesting_;  // the nested reports being laid out, outermost first
  const DataStore* top_ = nullptr;
  ReportPages out_;
  int margin_left_ = kDefaultMargin, margin_top_ = kDefaultMargin, margin_bottom_ = kDefaultMargin;
  int top_header_ = 0, top_footer_ = 0;
  std::vector<PageParts> pages_;
  int cursor_ = 0;
  int current_page_ = 0;
  std::vector<Repeat> repeats_;
  std::vector<Deferred> deferred_;
  std::vector<Location> locations_;
  std::map<const FormObject*, std::shared_ptr<const Expression>> compiled_;
  std::map<const DataStore*, GridRules> grid_rules_;
  std::map<std::pair<const DataStore*, const FormObject*>, std::unique_ptr<DataStore>> code_lists_;
  std::vector<std::unique_ptr<DataStore>> owned_;
};

void append_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
}

}  // namespace

std::string_view to_string(ItemKind kind) {
  switch (kind) {
    case ItemKind::Text: return "text";
    case ItemKind::Line: return "line";
    case ItemKind::Rectangle: return "rectangle";
    case ItemKind::GroupBox: return "groupbox";
    case ItemKind::CheckBox: return "checkbox";
  }
  return "?";
}

ReportPages layout_report(const DataStore& store, const LayoutOptions& options) {
  if (!store.has_definition()) {
    ReportPages empty;
    empty.warnings.push_back("the store has no definition");
    return empty;
  }
  Layouter first(options, 0);
  ReportPages pages = first.run(store);
  if (first.asked_page_count()) {
    // A visibility or other property read pagecount(): lay out again with the count known.
    const long count = static_cast<long>(pages.pages.size());
    pages = Layouter(options, count).run(store);
  }
  return pages;
}

bool in_print_preview(const DataStore& store) {
  if (!store.has_definition()) return false;
  std::string v = lower(store.def().form_property("print.preview"));
  // modify texts write the value in single quotes: print.preview='yes'
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') v = v.substr(1, v.size() - 2);
  return v == "yes" || v == "1" || v == "true";
}

ReportPages preview_pages(const DataStore& store, const LayoutOptions& options) {
  return layout_report(store, options);
}

std::string dump(const ReportPages& pages) {
  std::string out;
  for (size_t p = 0; p < pages.pages.size(); ++p) {
    for (const ReportItem& item : pages.pages[p].items) {
      out += "page " + std::to_string(p + 1) + ": ";
      out += to_string(item.kind);
      out += ' ';
      out += item.name.empty() ? "-" : item.name;
      for (int v : {item.x, item.y, item.w, item.h}) out += ' ' + std::to_string(v);
      if (item.kind == ItemKind::CheckBox) out += item.checked ? " [x]" : " [ ]";
      if (!item.text.empty()) {
        out += ' ';
        append_escaped(out, item.text);
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace shenbao
