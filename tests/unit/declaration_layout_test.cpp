// Every category window, at the size it opens with and at the sizes of a clerk's screens,
// shows each of its controls whole: no two visible controls cover each other, and none lies
// outside the window. A button added to the ancestor or to a category is held to this
// without being listed here.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/registry.h"
#include "tests/unit/test_session.h"

namespace shenbao::testing {
namespace {

struct Box {
  std::string name;
  int x, y, width, height;
};

bool cover(const Box& a, const Box& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

class DeclarationLayoutTest : public ApplicationDatabaseTest {};

TEST_P(DeclarationLayoutTest, ControlsOfEveryCategoryWindowStandApartInsideIt) {
  auto session = start_session("clerk001", Role::Both);
  ASSERT_TRUE(session);
  for (const CategoryDescriptor* category : category_descriptors()) {
    ASSERT_TRUE(session->post({"open", category->class_name}).ok());
    // At the size it opens with, resized to the screens a clerk has, and to the room the
    // browser's page leaves a window on those screens (beside the menu, under the tabs).
    for (const auto& size : std::vector<std::pair<int, int>>{{0, 0}, {1280, 800}, {1024, 768}, {1080, 680}, {870, 650}}) {
      SCOPED_TRACE(std::string(category->class_name) + " at " + std::to_string(size.first) + "x" + std::to_string(size.second));
      if (size.first > 0) {
        Event resize;
        resize.kind = "resize";
        resize.args = {std::to_string(size.first), std::to_string(size.second)};
        ASSERT_TRUE(session->post(resize).ok());
      }
      std::vector<Box> boxes;
      std::vector<std::string> sideways;
      int width = 0, height = 0;
      session->read_quietly([&] {
        const Window* window = session->active_window();
        width = window->width;
        height = window->height;
        for (const auto& control : window->controls()) {
          if (control->visible)
            boxes.push_back({control->name(), control->x, control->y, control->width, control->height});
          // A free form scrolls down only: drawn at most a little smaller, as the browser may
          // (to 0.91, web/js/form_view.js), it fits its box's width beside a scroll bar.
          const auto* form = dynamic_cast<const FormControl*>(control.get());
          if (form && control->visible && form->store().has_definition() && form->store().def().style == Style::FreeForm &&
              screen_extent(form->store().def()).width * 0.91 + 12 > form->width)
            sideways.push_back(control->name() + " (" + std::to_string(screen_extent(form->store().def()).width) +
                               " px in " + std::to_string(form->width) + ")");
        }
      });
      EXPECT_EQ(sideways, std::vector<std::string>{}) << "forms that scroll sideways";
      for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& a = boxes[i];
        EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= width && a.y + a.height <= height)
            << a.name << " at " << a.x << "," << a.y << " " << a.width << "x" << a.height << " outside " << width
            << "x" << height;
        for (size_t j = i + 1; j < boxes.size(); ++j)
          EXPECT_FALSE(cover(a, boxes[j])) << a.name << " at " << a.x << "," << a.y << " and " << boxes[j].name
                                           << " at " << boxes[j].x << "," << boxes[j].y << " cover each other";
      }
    }
    ASSERT_TRUE(session->post({"close"}).ok());
  }
}

// On a screen high enough the unit form shows whole: it is as high as its form, and the
// worker form starts below it.
TEST_P(DeclarationLayoutTest, UnitFormTakesItsFormsHeight) {
  auto session = start_session("clerk001", Role::Both);
  ASSERT_TRUE(session);
  for (const CategoryDescriptor* category : category_descriptors()) {
    SCOPED_TRACE(category->class_name);
    ASSERT_TRUE(session->post({"open", category->class_name}).ok());
    Event resize;
    resize.kind = "resize";
    resize.args = {"1600", "1200"};
    ASSERT_TRUE(session->post(resize).ok());
    session->read_quietly([&] {
      const Window* window = session->active_window();
      const auto* unit = dynamic_cast<const FormControl*>(window->control("dw_3"));
      const auto* worker = dynamic_cast<const FormControl*>(window->control("dw_4"));
      ASSERT_TRUE(unit && worker);
      EXPECT_GE(unit->height, screen_extent(unit->store().def()).height) << unit->store().def().name;
      EXPECT_GE(worker->y, unit->y + unit->height);
    });
    ASSERT_TRUE(session->post({"close"}).ok());
  }
}

// The layout does not depend on the database.
INSTANTIATE_TEST_SUITE_P(Databases, DeclarationLayoutTest, ::testing::Values(Backend::SQLite), backend_name);

}  // namespace
}  // namespace shenbao::testing
