// Drawing laid-out report pages with cairo and pango: one drawing function for the PDF
// surface (printing) and the image surface (preview PNGs).

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "framework/runtime/reports/report.h"

namespace shenbao {
namespace {

constexpr double kPdfPointsPerUnit = 72.0 / 96.0;
constexpr double kTextPadding = 4;  // between a text and the sides of its box

struct CairoDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct GObjectDeleter {
  void operator()(void* object) const { g_object_unref(object); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoDeleter>;
using ContextPtr = std::unique_ptr<PangoContext, GObjectDeleter>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;

void set_colour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

LayoutPtr make_layout(PangoContext* context, const ReportFont& font, double size) {
  LayoutPtr layout(pango_layout_new(context));
  PangoFontDescription* desc = pango_font_description_new();
  const std::string family = font_family_for(font.face);
  pango_font_description_set_family(desc, family.c_str());
  pango_font_description_set_weight(desc, font.weight >= 600 ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(desc, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_size(desc, static_cast<int>(std::lround(size * PANGO_SCALE)));
  pango_layout_set_font_description(layout.get(), desc);
  pango_font_description_free(desc);
  PangoAttrList* attrs = pango_attr_list_new();
  // A word broken across lines gets no hyphen: the paper shows exactly what was typed.
  pango_attr_list_insert(attrs, pango_attr_insert_hyphens_new(FALSE));
  if (font.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  pango_layout_set_attributes(layout.get(), attrs);
  pango_attr_list_unref(attrs);
  return layout;
}

// Font options of every context that measures or draws texts: unhinted metrics give the same
// line breaks on paper, on screen and in the layout that measures them first.
void set_text_options(PangoContext* context) {
  // Font sizes are points; user space is 96 per inch.
  pango_cairo_context_set_resolution(context, 96);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
}

struct Fitted {
  LayoutPtr layout;
  double size = 0;
  double text_w = 0, text_h = 0;
  bool fits = false;
};

// The text laid out at `size` within `w` (less padding).
Fitted lay_text(PangoContext* context, const std::string& text, const ReportFont& font, HAlign align, double w,
                bool wrap, double size) {
  Fitted f;
  f.size = size;
  f.layout = make_layout(context, font, size);
  PangoLayout* layout = f.layout.get();
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  if (wrap) {
    pango_layout_set_width(layout, static_cast<int>(std::max(1.0, w - 2 * kTextPadding) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, align == HAlign::Center  ? PANGO_ALIGN_CENTER
                                       : align == HAlign::Right ? PANGO_ALIGN_RIGHT
                                                                : PANGO_ALIGN_LEFT);
  }
  // Wrapped lines sit closer than the fonts' generous default line height.
  if (pango_layout_get_line_count(layout) > 1) pango_layout_set_line_spacing(layout, 0.85f);
  PangoRectangle logical{};
  pango_layout_get_extents(layout, nullptr, &logical);
  f.text_w = static_cast<double>(logical.width) / PANGO_SCALE;
  f.text_h = static_cast<double>(logical.height) / PANGO_SCALE;
  return f;
}

// The text at its own size when it fits the box, else at the largest size in half points
// down to the smallest that fits; the smallest size when none does.
Fitted fit_in(PangoContext* context, const std::string& text, const ReportFont& font, HAlign align, double w,
              double h, bool wrap) {
  const double size = font.size > 0 ? font.size : 10;
  const double least = std::min(size, kMinTextPoints);
  const double width = std::max(1.0, w - 2 * kTextPadding);
  auto attempt = [&](double s) {
    Fitted f = lay_text(context, text, font, align, w, wrap, s);
    // One line may stand a little above and below a low box; several lines must fit.
    f.fits = wrap ? pango_layout_get_line_count(f.layout.get()) <= 1 || f.text_h <= h + 1 : f.text_w <= width + 0.5;
    return f;
  };
  Fitted best = attempt(size);
  if (best.fits || size <= least) return best;
  Fitted smallest = attempt(least);
  if (!smallest.fits) return smallest;
  // Half points from `least` (fits) to `size` (does not): the largest that fits.
  int low = 0, high = static_cast<int>(std::ceil((size - least) * 2));
  best = std::move(smallest);
  while (high - low > 1) {
    const int mid = (low + high) / 2;
    Fitted f = attempt(least + mid * 0.5);
    if (f.fits) {
      low = mid;
      best = std::move(f);
    } else {
      high = mid;
    }
  }
  return best;
}

// The context the layout measures texts with, one per thread (pango contexts are not shared
// between threads).
PangoContext* measuring_context() {
  thread_local ContextPtr context = [] {
    ContextPtr c(pango_font_map_create_context(pango_cairo_font_map_get_default()));
    set_text_options(c.get());
    return c;
  }();
  return context.get();
}

// Draws on one cairo context whose user space is form units. On a raster surface, rules are
// snapped to whole device pixels so that ruled tables stay crisp and evenly thick.
class PageDrawer {
 public:
  PageDrawer(cairo_t* cr, bool raster) : cr_(cr), raster_(raster) {
    context_.reset(pango_cairo_create_context(cr));
    set_text_options(context_.get());
  }

  void draw(const ReportPage& page) {
    for (const ReportItem& item : page.items) {
      cairo_save(cr_);
      switch (item.kind) {
        case ItemKind::Text: draw_text_item(item); break;
        case ItemKind::Line: draw_line(item); break;
        case ItemKind::Rectangle: draw_rectangle(item); break;
        case ItemKind::GroupBox: draw_group_box(item); break;
        case ItemKind::CheckBox: draw_check_box(item); break;
      }
      cairo_restore(cr_);
    }
  }

 private:
  // Device pixels a pen of `width` units covers (at least one).
  double device_pen(double width) const {
    double dx = width, dy = 0;
    cairo_user_to_device_distance(cr_, &dx, &dy);
    return std::max(1.0, std::round(std::hypot(dx, dy)));
  }
  // Snaps a coordinate along one axis so that a rule of `pen` device pixels covers whole
  // pixels.
  double snap(double v, bool horizontal_axis, double pen) const {
    if (!raster_) return v;
    double x = horizontal_axis ? v : 0, y = horizontal_axis ? 0 : v;
    cairo_user_to_device(cr_, &x, &y);
    double& d = horizontal_axis ? x : y;
    d = (static_cast<long>(pen) % 2 == 1) ? std::floor(d) + 0.5 : std::round(d);
    cairo_device_to_user(cr_, &x, &y);
    return horizontal_axis ? x : y;
  }
  void set_pen(double width) {
    double pen = device_pen(width);
    double ux = pen, uy = 0;
    cairo_device_to_user_distance(cr_, &ux, &uy);
    cairo_set_line_width(cr_, raster_ ? std::hypot(ux, uy) : std::max(width, 0.5));
  }

  void stroke_rule(double x1, double y1, double x2, double y2, double width, uint32_t colour) {
    const double pen = device_pen(width);
    if (x1 == x2) x1 = x2 = snap(x1, true, pen);
    if (y1 == y2) y1 = y2 = snap(y1, false, pen);
    set_pen(width);
    set_colour(cr_, colour);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
    cairo_move_to(cr_, x1, y1);
    cairo_line_to(cr_, x2, y2);
    cairo_stroke(cr_);
  }

  void rectangle_path(double x, double y, double w, double h, double width) {
    const double pen = device_pen(width);
    const double l = snap(x, true, pen), r = snap(x + w, true, pen);
    const double t = snap(y, false, pen), b = snap(y + h, false, pen);
    cairo_rectangle(cr_, l, t, r - l, b - t);
  }

  void draw_line(const ReportItem& item) {
    if (item.pen_width <= 0) return;
    stroke_rule(item.x, item.y, item.x + item.w, item.y + item.h, item.pen_width, item.pen_color);
  }

  void draw_rectangle(const ReportItem& item) {
    if (item.has_fill) {
      set_colour(cr_, item.fill);
      cairo_rectangle(cr_, item.x, item.y, item.w, item.h);
      cairo_fill(cr_);
    }
    if (item.pen_width <= 0) return;
    rectangle_path(item.x, item.y, item.w, item.h, item.pen_width);
    set_pen(item.pen_width);
    set_colour(cr_, item.pen_color);
    cairo_stroke(cr_);
  }

  // Draws a text in its box as fit_text() decides: wrapped (unless `wrap` is false, as for
  // numbers), shrunk no further than the smallest size, centred vertically. A text that still
  // does not fit is cut at its box (from its first line on), so that it never covers its
  // neighbours; the layout has reported it.
  void show_text(const std::string& text, const ReportFont& font, HAlign align, uint32_t colour, double x,
                 double y, double w, double h, bool wrap = true) {
    if (text.empty()) return;
    Fitted fitted = fit_in(context_.get(), text, font, align, w, h, wrap);
    const double width = std::max(1.0, w - 2 * kTextPadding);
    double left = x + kTextPadding;
    if (!wrap && align != HAlign::Left) {
      const double free = width - fitted.text_w;
      left += align == HAlign::Right ? free : free / 2;
    }
    cairo_save(cr_);
    if (!fitted.fits) {
      cairo_rectangle(cr_, x, y, w, h);
      cairo_clip(cr_);
    }
    set_colour(cr_, colour);
    // Lines that overflow the box start at its top, so their beginning is read.
    const bool overflows_down = !fitted.fits && wrap;
    cairo_move_to(cr_, left, overflows_down ? y : y + (h - fitted.text_h) / 2);
    pango_cairo_update_layout(cr_, fitted.layout.get());
    pango_cairo_show_layout(cr_, fitted.layout.get());
    cairo_restore(cr_);
  }

  void draw_text_item(const ReportItem& item) {
    if (item.has_background) {
      set_colour(cr_, item.background);
      cairo_rectangle(cr_, item.x, item.y, item.w, item.h);
      cairo_fill(cr_);
    }
    if (item.border == Border::Box) {
      rectangle_path(item.x, item.y, item.w, item.h, item.pen_width);
      set_pen(item.pen_width);
      set_colour(cr_, item.pen_color);
      cairo_stroke(cr_);
    } else if (item.border == Border::Underline) {
      stroke_rule(item.x, item.y + item.h, item.x + item.w, item.y + item.h, item.pen_width, item.pen_color);
    }
    show_text(item.text, item.font, item.align, item.color, item.x, item.y, item.w, item.h, item.wrap);
  }

  // A frame whose top rule leaves a gap for the caption at its top left.
  void draw_group_box(const ReportItem& item) {
    double caption_w = 0, caption_h = 0;
    if (!item.text.empty()) {
      LayoutPtr layout = make_layout(context_.get(), item.font, item.font.size);
      pango_layout_set_text(layout.get(), item.text.c_str(), static_cast<int>(item.text.size()));
      PangoRectangle logical{};
      pango_layout_get_extents(layout.get(), nullptr, &logical);
      caption_w = static_cast<double>(logical.width) / PANGO_SCALE;
      caption_h = static_cast<double>(logical.height) / PANGO_SCALE;
    }
    const double top = item.y + caption_h / 2;
    const double left = item.x, right = item.x + item.w, bottom = item.y + item.h;
    const double gap_start = left + 8, gap_end = std::min(right - 4, gap_start + caption_w + 2 * kTextPadding);
    const uint32_t pen = item.pen_color;
    if (caption_w > 0) {
      stroke_rule(left, top, gap_start, top, item.pen_width, pen);
      stroke_rule(gap_end, top, right, top, item.pen_width, pen);
    } else {
      stroke_rule(left, top, right, top, item.pen_width, pen);
    }
    stroke_rule(right, top, right, bottom, item.pen_width, pen);
    stroke_rule(left, bottom, right, bottom, item.pen_width, pen);
    stroke_rule(left, top, left, bottom, item.pen_width, pen);
    if (caption_w > 0)
      show_text(item.text, item.font, HAlign::Left, item.color, gap_start, item.y, caption_w + 2 * kTextPadding,
                caption_h);
  }

  // A small box, ticked when checked, with the check box's text to its right.
  void draw_check_box(const ReportItem& item) {
    const double side = std::max(6.0, std::min<double>(13, item.h - 2));
    const double bx = item.x + kTextPadding, by = item.y + (item.h - side) / 2;
    rectangle_path(bx, by, side, side, 1);
    set_pen(1);
    set_colour(cr_, item.pen_color);
    cairo_stroke(cr_);
    if (item.checked) {
      set_colour(cr_, item.color);
      cairo_set_line_width(cr_, std::max(1.2, side / 8));
      cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
      cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
      cairo_move_to(cr_, bx + side * 0.2, by + side * 0.52);
      cairo_line_to(cr_, bx + side * 0.42, by + side * 0.76);
      cairo_line_to(cr_, bx + side * 0.82, by + side * 0.22);
      cairo_stroke(cr_);
    }
    const double text_x = bx + side + 2;
    show_text(item.text, item.font, item.align, item.color, text_x, item.y, item.x + item.w - text_x, item.h);
  }

  cairo_t* cr_;
  bool raster_;
  ContextPtr context_;
};

bool check(cairo_surface_t* surface, const std::string& what, std::string& error) {
  const cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) return true;
  error = what + ": " + cairo_status_to_string(status);
  return false;
}

// The page drawn on a white image of (width × scale) × (height × scale) pixels.
SurfacePtr draw_image(const ReportPages& pages, int page, double scale, std::string& error) {
  if (page < 1 || page > static_cast<int>(pages.pages.size())) {
    error = "no page " + std::to_string(page) + " (the report has " + std::to_string(pages.pages.size()) + ")";
    return nullptr;
  }
  if (!(scale > 0) || scale > 8) {
    error = "scale must be above 0 and at most 8";
    return nullptr;
  }
  const ReportPage& drawn = pages.pages[static_cast<size_t>(page - 1)];
  const int w = std::max(1, static_cast<int>(std::ceil((drawn.width > 0 ? drawn.width : pages.width) * scale)));
  const int h = std::max(1, static_cast<int>(std::ceil((drawn.height > 0 ? drawn.height : pages.height) * scale)));
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
  if (!check(surface.get(), "image", error)) return nullptr;
  CairoPtr cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_paint(cr.get());
  cairo_scale(cr.get(), scale, scale);
  PageDrawer(cr.get(), true).draw(drawn);
  cr.reset();
  cairo_surface_flush(surface.get());
  if (!check(surface.get(), "image", error)) return nullptr;
  return surface;
}

cairo_status_t append_to_string(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

TextFit fit_text(const ReportItem& item) {
  TextFit out;
  out.size = item.font.size > 0 ? item.font.size : 10;
  if (item.text.empty()) return out;
  const Fitted f = fit_in(measuring_context(), item.text, item.font, item.align, item.w, item.h, item.wrap);
  out.size = f.size;
  out.height = f.text_h;
  out.fits = f.fits;
  return out;
}

double text_height(const ReportItem& item) {
  if (item.text.empty()) return 0;
  const double size = item.font.size > 0 ? item.font.size : 10;
  return lay_text(measuring_context(), item.text, item.font, item.align, item.w, item.wrap, size).text_h;
}

size_t text_lines_within(const ReportItem& item, double height) {
  if (item.text.empty()) return 0;
  const double size = item.font.size > 0 ? item.font.size : 10;
  const Fitted f = lay_text(measuring_context(), item.text, item.font, item.align, item.w, item.wrap, size);
  if (f.text_h <= height) return item.text.size();
  PangoLayoutIter* iter = pango_layout_get_iter(f.layout.get());
  size_t end = 0;
  do {
    PangoRectangle logical{};
    pango_layout_iter_get_line_extents(iter, nullptr, &logical);
    if (static_cast<double>(logical.y + logical.height) / PANGO_SCALE > height) {
      end = static_cast<size_t>(pango_layout_iter_get_index(iter));
      break;
    }
  } while (pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  return std::min(end, item.text.size());
}

std::string font_family_for(std::string_view face) {
  if (face == "楷体_GB2312" || face == "楷体" || face == "KaiTi" || face == "KaiTi_GB2312") return "AR PL UKai CN";
  if (face == "黑体" || face == "SimHei" || face == "微软雅黑" || face == "Microsoft YaHei") return "Noto Sans CJK SC";
  return "Noto Serif CJK SC";
}

bool write_pdf(const ReportPages& pages, const std::string& path, std::string& error) {
  SurfacePtr surface(cairo_pdf_surface_create(path.c_str(), pages.width * kPdfPointsPerUnit,
                                              pages.height * kPdfPointsPerUnit));
  if (!check(surface.get(), path, error)) return false;
  if (!pages.title.empty()) cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, pages.title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "shenbao");
  CairoPtr cr(cairo_create(surface.get()));
  cairo_scale(cr.get(), kPdfPointsPerUnit, kPdfPointsPerUnit);
  {
    PageDrawer drawer(cr.get(), false);
    if (pages.pages.empty()) {
      cairo_show_page(cr.get());  // a PDF needs a page; a report without pages prints a blank one
    }
    for (const ReportPage& page : pages.pages) {
      cairo_pdf_surface_set_size(surface.get(), (page.width > 0 ? page.width : pages.width) * kPdfPointsPerUnit,
                                 (page.height > 0 ? page.height : pages.height) * kPdfPointsPerUnit);
      drawer.draw(page);
      cairo_show_page(cr.get());
    }
  }
  cr.reset();
  cairo_surface_finish(surface.get());
  return check(surface.get(), path, error);
}

bool write_png(const ReportPages& pages, int page, const std::string& path, double scale, std::string& error) {
  SurfacePtr surface = draw_image(pages, page, scale, error);
  if (!surface) return false;
  const cairo_status_t status = cairo_surface_write_to_png(surface.get(), path.c_str());
  if (status != CAIRO_STATUS_SUCCESS) {
    error = path + ": " + cairo_status_to_string(status);
    return false;
  }
  return true;
}

bool render_png(const ReportPages& pages, int page, double scale, std::string& png, std::string& error) {
  SurfacePtr surface = draw_image(pages, page, scale, error);
  if (!surface) return false;
  png.clear();
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), append_to_string, &png);
  if (status != CAIRO_STATUS_SUCCESS) {
    error = std::string("png: ") + cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace shenbao
