#include "framework/runtime/forms/form_def.h"

#include <gtest/gtest.h>

namespace shenbao {
namespace {

const char* const kForm = R"form(# workers of a unit
form(name=d_worker style=grid title="职工 名单" print.preview=no)
header(height=24)
detail(height=20)
summary(height=30)
table(retrieve="select zgbh, xm, ndzw, gz from rs_worker where dwbh = :dwbh" update=rs_worker)
argument(name=dwbh type=char(10))
column(name=zgbh type=char(10) key=yes update=yes band=detail x=4 y=2 width=60 height=18)
column(name=xm type=char(20) dbname=name update=yes x=68 y=2 width=80 height=18 visible="=if(isnull(zgbh), 0, 1)")
column(name=ndzw type=char(40) initial=科员)
column(name=gz type=decimal(2) initial=0 x=150 y=2 width=60 height=18 format="#,##0.00" font.face=SimSun)
text(name=xm_t band=header x=68 y=2 width=80 height=18 text="姓名")
compute(name=total band=summary x=150 y=4 width=60 height=18 expression="sum(gz)" format="#,##0.00")
compute(name=share x=220 y=2 width=60 height=18 expression="if(total = 0, 0, gz / total)")
line(band=header x1=0 y1=22 x2=270 y2=22 pen.width=1)
report(name=r_detail band=summary x=0 y=30 width=400 height=60 form=d_sub arguments="zgbh, xm" newpage=yes)
)form";

FormDef parsed(const char* text = kForm) {
  std::string error;
  auto def = FormDef::parse(text, error);
  EXPECT_TRUE(def) << error;
  return def ? *def : FormDef();
}

TEST(FormDef, ParsesEveryPart) {
  const FormDef def = parsed();
  EXPECT_EQ(def.name, "d_worker");
  EXPECT_EQ(def.style, Style::Grid);
  EXPECT_EQ(def.form_property("title"), "职工 名单");
  EXPECT_EQ(def.form_property("print.preview"), "no");
  EXPECT_EQ(def.band_height[static_cast<int>(Band::Header)], 24);
  EXPECT_EQ(def.band_height[static_cast<int>(Band::Footer)], 0);
  EXPECT_EQ(def.retrieve_sql, "select zgbh, xm, ndzw, gz from rs_worker where dwbh = :dwbh");
  EXPECT_EQ(def.update_table, "rs_worker");
  ASSERT_EQ(def.arguments.size(), 1u);
  EXPECT_EQ(def.arguments[0].type.to_string(), "char(10)");

  ASSERT_EQ(def.columns.size(), 4u);
  EXPECT_TRUE(def.columns[0].key);
  EXPECT_EQ(def.columns[0].dbname, "zgbh");
  EXPECT_EQ(def.columns[1].dbname, "name");
  EXPECT_TRUE(def.columns[1].updatable);
  EXPECT_FALSE(def.columns[2].updatable);
  EXPECT_EQ(def.columns[2].initial, Value("科员"));
  ASSERT_TRUE(def.columns[3].initial);
  EXPECT_EQ(def.columns[3].initial->kind(), ValueKind::Number);

  // Shown columns are objects too (ndzw has no x and is not), first and in column order.
  ASSERT_EQ(def.objects.size(), 8u);
  const ObjectKind kinds[] = {ObjectKind::Column, ObjectKind::Column,  ObjectKind::Column, ObjectKind::Text,
                              ObjectKind::Compute, ObjectKind::Compute, ObjectKind::Line,   ObjectKind::Report};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(def.objects[i].kind, kinds[i]) << i;
  EXPECT_EQ(def.find_object("ndzw"), nullptr);
  const FormObject* gz = def.find_object("GZ");
  ASSERT_TRUE(gz);
  EXPECT_EQ(gz->column, 3);
  EXPECT_EQ(gz->slot, 3);
  EXPECT_EQ(gz->band, Band::Detail);
  EXPECT_EQ(gz->get_int("x"), 150);
  EXPECT_EQ(gz->get("font.face"), "SimSun");
  EXPECT_EQ(gz->find("type"), nullptr);

  // Attribute expressions and computed fields are compiled; slots follow the columns.
  const FormObject* xm = def.find_object("xm");
  ASSERT_TRUE(xm && xm->find("visible") && xm->find("visible")->expression);
  EXPECT_EQ(xm->find("visible")->expression->text(), "if(isnull(zgbh), 0, 1)");
  EXPECT_EQ(def.resolve_slot("zgbh"), 0);
  EXPECT_EQ(def.resolve_slot("total"), 4);
  EXPECT_EQ(def.resolve_slot("Share"), 5);
  EXPECT_EQ(def.resolve_slot("xm_t"), -1);
  EXPECT_EQ(def.resolve_slot("nope"), -1);
  EXPECT_EQ(def.compute_for_slot(5), def.find_object("share"));
  EXPECT_EQ(def.compute_for_slot(3), nullptr);
  EXPECT_EQ(def.compute_for_slot(6), nullptr);
  const FormObject* share = def.find_object("share");
  EXPECT_EQ(share->slot, 5);
  EXPECT_EQ(share->band, Band::Detail);
  EXPECT_EQ(share->find("expression")->expression->slots(), (std::vector<int>{3, 4}));
  EXPECT_EQ(def.objects[6].name, "");
  EXPECT_EQ(def.objects[6].band, Band::Header);
}

TEST(FormDef, ToTextRoundTrips) {
  const FormDef def = parsed();
  const std::string text = def.to_text();
  std::string error;
  const auto again = FormDef::parse(text, error);
  ASSERT_TRUE(again) << error << "\n" << text;
  EXPECT_EQ(again->to_text(), text);
  EXPECT_EQ(again->columns.size(), def.columns.size());
  EXPECT_EQ(again->objects.size(), def.objects.size());
  for (size_t i = 0; i < def.objects.size(); ++i) {
    EXPECT_EQ(again->objects[i].name, def.objects[i].name) << i;
    EXPECT_EQ(again->objects[i].band, def.objects[i].band) << i;
    EXPECT_EQ(again->objects[i].slot, def.objects[i].slot) << i;
    EXPECT_EQ(again->objects[i].properties.size(), def.objects[i].properties.size()) << i;
  }
  EXPECT_EQ(again->columns[1].dbname, "name");
  EXPECT_EQ(again->columns[2].initial, def.columns[2].initial);
  EXPECT_EQ(again->form_property("title"), "职工 名单");
  EXPECT_EQ(again->retrieve_sql, def.retrieve_sql);

  // Objects written before the columns still come out with column objects first.
  const auto mixed = FormDef::parse("text(name=t x=1)\ncolumn(name=a type=long x=2)\ncompute(name=c expression=a)", error);
  ASSERT_TRUE(mixed) << error;
  EXPECT_EQ(mixed->objects[0].name, "a");
  EXPECT_EQ(FormDef::parse(mixed->to_text(), error)->to_text(), mixed->to_text());
}

TEST(FormDef, RejectsBadDefinitions) {
  static const struct {
    const char* name;
    const char* text;
    const char* error;
  } cases[] = {
      {"syntax", "form(name=a\n", "line 1: form(...) is not closed with ')'"},
      {"unknown statement", "form(name=a)\nwidget(name=w)", "line 2: unknown statement kind 'widget'"},
      {"bad style", "form(style=fancy)", "line 1: bad style 'fancy'"},
      {"two forms", "form()\nform()", "line 2: a second form(...)"},
      {"two details", "detail(height=1)\ndetail(height=2)", "line 2: a second detail(...)"},
      {"bad band height", "header(height=tall)", "line 1: bad height 'tall'"},
      {"band property", "header(color=1)", "line 1: unknown property color of header"},
      {"table property", "table(select=x)", "line 1: unknown property select of table"},
      {"argument without type", "argument(name=a)", "line 1: argument a has no type"},
      {"argument twice", "argument(name=a type=long)\nargument(name=A type=long)", "line 2: argument A given twice"},
      {"column without type", "\ncolumn(name=a)", "line 2: column a has no type"},
      {"column bad type", "column(name=a type=varchar(10))", "line 1: bad type 'varchar(10)'"},
      {"column without name", "column(type=long)", "line 1: a column needs a name"},
      {"column bad key", "column(name=a type=long key=maybe)", "line 1: key must be yes or no, not 'maybe'"},
      {"column initial wrong", "column(name=a type=long initial=abc)",
       "line 1: column a: initial value: a text \"abc\" does not fit a long column"},
      {"column display without x", "column(name=a type=long width=10)",
       "line 1: column a has display properties (width) but no x"},
      {"duplicate column", "column(name=a type=long)\ncolumn(name=A type=long)", "line 2: name A is used twice"},
      {"object named as column", "column(name=a type=long)\ntext(name=a)", "line 2: text a: name a is used twice"},
      {"duplicate objects", "text(name=t)\nline(name=t)", "line 2: line t: name t is used twice"},
      {"bad object name", "text(name=a.b)", "line 1: text a.b: 'a.b' is not a name"},
      {"reserved object name", "text(name=datawindow)", "line 1: text datawindow: 'datawindow' is not a name"},
      {"bad object band", "text(name=t band=middle)", "line 1: text: bad band 'middle'"},
      {"compute without expression", "\n\ncompute(name=c)", "line 3: compute c: no expression"},
      {"bad compute expression", "column(name=a type=long)\ncompute(name=c expression=\"a +\")",
       "line 2: compute c: expression: expected a value but found end of expression"},
      {"unknown name in attribute", "text(name=t visible=\"=if(b, 1, 0)\")",
       "line 1: text t: visible: unknown name 'b'"},
      {"bad report arguments", "report(name=r arguments=\"x,\")", "line 1: report r: arguments: unknown name 'x'"},
      {"circular computes", "compute(name=c1 expression=c2)\ncompute(name=c2 expression=\"c1 + 1\")",
       "line 1: compute c1: computed fields read each other in a circle"},
      {"self reference", "compute(name=c expression=\"sum(c)\")",
       "line 1: compute c: computed fields read each other in a circle"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(FormDef::parse(c.text, error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

TEST(FormDef, Describe) {
  const FormDef def = parsed();
  static const struct {
    const char* paths;
    const char* answer;
  } cases[] = {
      {"xm.x", "68"},
      {"XM.X", "68"},
      {"xm.visible", "=if(isnull(zgbh), 0, 1)"},
      {"xm.type", "column"},
      {"xm.coltype", "char(20)"},
      {"xm.dbname", "name"},
      {"zgbh.key", "yes"},
      {"xm.band", "detail"},
      {"xm.format", "?"},
      {"xm.bogus", "!"},
      {"ndzw.coltype", "char(40)"},
      {"ndzw.initial", "科员"},
      {"ndzw.x", "?"},
      {"gz.font.face", "SimSun"},
      {"gz.font.height", "?"},
      {"total.expression", "sum(gz)"},
      {"total.type", "compute"},
      {"total.band", "summary"},
      {"r_detail.newpage", "yes"},
      {"xm_t.text", "姓名"},
      {"nobody.x", "!"},
      {"xm", "!"},
      {"xm.", "!"},
      {"datawindow.print.preview", "no"},
      {"form.title", "职工 名单"},
      {"DataWindow.Style", "grid"},
      {"datawindow.header.height", "24"},
      {"datawindow.footer.height", "0"},
      {"datawindow.table.update", "rs_worker"},
      {"datawindow.print.orientation", "?"},
      {"datawindow.nonsense", "!"},
      {"xm.x  xm.y\n gz.width", "68\n2\n60"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(def.describe(c.paths), c.answer) << c.paths;
}

TEST(FormDef, ModifyAppliesChanges) {
  static const struct {
    const char* modify;
    const char* paths;
    const char* answer;
  } cases[] = {
      {"xm.visible=0", "xm.visible", "0"},
      {"xm.x = 100  xm.y= 5", "xm.x xm.y", "100\n5"},
      {"xm_t.text=\"名 字\"", "xm_t.text", "名 字"},
      {"xm.color=rgb(255,0,0)", "xm.color", "rgb(255,0,0)"},
      {"gz.visible=\"=if(gz > 100, 1, 0)\"", "gz.visible", "=if(gz > 100, 1, 0)"},
      {"xm_t.band=footer", "xm_t.band", "footer"},
      {"datawindow.print.preview=yes", "datawindow.print.preview", "yes"},
      {"form.print.orientation=landscape", "datawindow.print.orientation", "landscape"},
      {"datawindow.summary.height=44", "datawindow.summary.height", "44"},
      {"datawindow.style=freeform", "datawindow.style", "freeform"},
      {"datawindow.header.height='100' datawindow.print.preview='yes'", "datawindow.header.height datawindow.print.preview",
       "100\nyes"},
      {"xm_t.text = '公文 写作' xm.x='7'", "xm_t.text xm.x", "公文 写作\n7"},
      {"create text(name=note band=footer x=1 y=1 text=\"页\")", "note.text note.band", "页\nfooter"},
      {"create line(band=header x1=\"270\" y1=0 x2=\"270\" y2=24)", "datawindow.header.height", "24"},
      {"destroy xm_t", "xm_t.text", "!"},
      {"destroy share", "share.type", "!"},
  };
  for (const auto& c : cases) {
    FormDef def = parsed();
    EXPECT_EQ(def.modify(c.modify), "") << c.modify;
    EXPECT_EQ(def.describe(c.paths), c.answer) << c.modify;
    std::string parse_error;
    const auto again = FormDef::parse(def.to_text(), parse_error);
    ASSERT_TRUE(again) << c.modify << ": " << parse_error;
    EXPECT_EQ(again->describe(c.paths), c.answer) << c.modify;
  }

  FormDef def = parsed();
  EXPECT_EQ(def.modify("datawindow.print.preview=yes"), "");
  EXPECT_EQ(def.form_property("print.preview"), "yes");
  EXPECT_EQ(def.modify("gz.visible=\"=if(gz > 100, 1, 0)\""), "");
  ASSERT_TRUE(def.find_object("gz")->find("visible")->expression);
  EXPECT_EQ(def.find_object("gz")->find("visible")->expression->slots(), std::vector<int>{3});
}

TEST(FormDef, CreateAndDestroyKeepSlotsConsistent) {
  FormDef def = parsed();
  ASSERT_EQ(def.modify("create line(band=header x1=\"270\" y1=0 x2=\"270\" y2=24 pen.width=2)"), "");
  const FormObject& line = def.objects.back();
  EXPECT_EQ(line.kind, ObjectKind::Line);
  EXPECT_EQ(line.band, Band::Header);
  EXPECT_EQ(line.get_int("x1"), 270);
  EXPECT_EQ(line.name, "");

  ASSERT_EQ(def.modify("create compute(name=double_pay band=detail x=300 y=2 width=60 height=18 "
                       "expression=\"gz * 2\")"),
            "");
  EXPECT_EQ(def.resolve_slot("double_pay"), 6);
  EXPECT_EQ(def.find_object("double_pay")->slot, 6);
  ASSERT_TRUE(def.find_object("double_pay")->find("expression")->expression);

  // Destroying the first computed field moves the later ones down and recompiles readers.
  ASSERT_EQ(def.modify("destroy share"), "");
  EXPECT_EQ(def.resolve_slot("double_pay"), 5);
  EXPECT_EQ(def.find_object("double_pay")->slot, 5);
  EXPECT_EQ(def.compute_for_slot(5), def.find_object("double_pay"));
  ASSERT_EQ(def.modify("create compute(name=reads band=summary expression=\"double_pay + total\")"), "");
  EXPECT_EQ(def.find_object("reads")->find("expression")->expression->slots(), (std::vector<int>{4, 5}));
}

TEST(FormDef, ModifyErrorsChangeNothing) {
  static const struct {
    const char* modify;
    const char* error;
  } cases[] = {
      {"xm.x=1 nobody.x=2", "nobody.x: unknown object"},
      {"xm.x=1 ndzw.visible=0", "ndzw.visible: column ndzw is not shown (has no x)"},
      {"xm.x=1 xm.visible=\"=if(salary, 1, 0)\"", "column xm: visible: unknown name 'salary'"},
      {"xm.x=1 xm_t.band=middle", "xm_t.band: bad band 'middle'"},
      {"xm.type=text", "xm.type: cannot be changed"},
      {"xm.coltype=long", "xm.coltype: cannot be changed"},
      {"xm.name=other", "xm.name: a column cannot be renamed"},
      {"datawindow.style=fancy", "datawindow.style: bad style 'fancy'"},
      {"datawindow.detail.height=-1", "datawindow.detail.height: bad height '-1'"},
      {"xm.x 1", "xm.x: expected '='"},
      {"xm.x=", "xm.x: missing value at the end"},
      {"xm_t.text='公文", "xm_t.text: quoted value without its closing '"},
      {"xm", "modify: expected obj.property=value, found 'xm'"},
      {"xm.2x=1", "xm.2x: not a property name"},
      {"xm.=1", "xm.: not a property name"},
      {"= 1", "modify: unexpected '= 1'"},
      {"create text(name=xm_t)", "text xm_t: name xm_t is used twice"},
      {"create text(name=t2 band=middle)", "create: text: bad band 'middle'"},
      {"create column(name=c type=long x=1)", "create column: columns cannot be added by modify"},
      {"create widget(name=w)", "create: unknown statement kind 'widget'"},
      {"create text(name=t2", "create: text(...) is not closed with ')'"},
      {"create compute(name=c2 expression=\"nope + 1\")", "compute c2: expression: unknown name 'nope'"},
      {"destroy nobody", "destroy nobody: unknown object"},
      {"destroy xm", "destroy xm: a column cannot be destroyed (set visible=0)"},
      {"destroy ndzw", "destroy ndzw: a column cannot be destroyed"},
      {"destroy total", "compute share: expression: unknown name 'total'"},
      {"xm_t.name=total", "compute total: name total is used twice"},
      {"total.expression=\"share\"", "compute total: computed fields read each other in a circle"},
  };
  const FormDef original = parsed();
  const std::string before = original.to_text();
  for (const auto& c : cases) {
    FormDef def = original;
    EXPECT_EQ(def.modify(c.modify), c.error) << c.modify;
    EXPECT_EQ(def.to_text(), before) << c.modify;
    EXPECT_EQ(def.find_object("share")->slot, 5) << c.modify;
  }
}

TEST(FormDef, ObjectPropertyReaders) {
  const FormDef def = parsed("text(name=t x=12 w=abc on=yes off=No)");
  const FormObject& t = *def.find_object("t");
  EXPECT_EQ(t.get_int("x", -1), 12);
  EXPECT_EQ(t.get_int("w", -1), -1);
  EXPECT_EQ(t.get_int("missing", 7), 7);
  EXPECT_TRUE(t.get_bool("on"));
  EXPECT_FALSE(t.get_bool("off", true));
  EXPECT_TRUE(t.get_bool("w", true));
  EXPECT_EQ(t.get("X"), "12");
  EXPECT_EQ(to_string(Style::Composite), "composite");
  EXPECT_EQ(to_string(Band::Summary), "summary");
  EXPECT_EQ(to_string(ObjectKind::GroupBox), "groupbox");
}

// On screen a form on the fine grid is drawn in pixels, enlarged until its lowest one-line
// field is 22 px high; a text of several lines laid out one line high rests three lines high,
// pushing what stands below it down and growing the box and the band that hold it.
TEST(FormDef, ScreenDefinitionIsLegibleAndShowsLongTextsOnSeveralLines) {
  const FormDef def = parsed(R"form(form(name=d_f style=freeform units=fine)
detail(height=400)
column(name=a type=char(20) x=0 y=40 width=320 height=64)
column(name=b type=char(500) x=0 y=120 width=640 height=64)
column(name=c type=char(20) x=0 y=200 width=320 height=64 visible="=if(isnull(a), 0, 1)")
text(name=b_t x=700 y=120 width=200 height=64 text="说明")
groupbox(name=g x=0 y=100 width=1000 height=200 text="上报")
)form");
  const FormDef screen = screen_definition(def);
  const auto at = [&](const char* name, const char* property) { return screen.find_object(name)->get_int(property); };
  // 7/32 and 1/4 pixels a unit, enlarged 22/16 times.
  EXPECT_EQ(at("a", "y"), 14);
  EXPECT_EQ(at("a", "height"), 22);
  EXPECT_EQ(at("b", "y"), 41);
  EXPECT_EQ(at("b", "height"), kRestingLinesPixels);
  EXPECT_EQ(at("b", "width"), 193);
  EXPECT_EQ(at("c", "y"), 69 + 35);
  EXPECT_EQ(at("b_t", "y"), 41);
  EXPECT_EQ(at("b_t", "height"), 22);
  EXPECT_EQ(at("g", "y"), 34);
  EXPECT_EQ(at("g", "height"), 69 + 35);
  EXPECT_EQ(screen.band_height[static_cast<int>(Band::Detail)], 138 + 35);
  EXPECT_TRUE(screen.find_object("c")->find("visible")->expression);
  const ScreenExtent extent = screen_extent(def);
  EXPECT_EQ(extent.width, 301 + 8);
  EXPECT_EQ(extent.height, 138 + 35 + 4);
  // A form in pixels with fields high enough is drawn as it is.
  const FormDef pixels = parsed("form(name=d_p style=freeform)\ndetail(height=60)\ncolumn(name=a type=char(20) x=4 y=2 width=80 height=24)");
  EXPECT_EQ(screen_definition(pixels).find_object("a")->get_int("height"), 24);
  EXPECT_EQ(screen_extent(pixels).height, 64);
}

}  // namespace
}  // namespace shenbao
