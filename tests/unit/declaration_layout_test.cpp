// Every category window, at the size it opens with, shows each of its buttons whole: no two
// visible buttons cover each other, and none lies outside the window. A button added to the
// ancestor or to a category is held to this without being listed here.

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

TEST_P(DeclarationLayoutTest, ButtonsOfEveryCategoryWindowStandApartInsideIt) {
  auto session = start_session("clerk001", Role::Both);
  ASSERT_TRUE(session);
  for (const CategoryDescriptor* category : category_descriptors()) {
    SCOPED_TRACE(category->class_name);
    ASSERT_TRUE(session->post({"open", category->class_name}).ok());
    std::vector<Box> buttons;
    int width = 0, height = 0;
    session->read_quietly([&] {
      const Window* window = session->active_window();
      width = window->width;
      height = window->height;
      for (const auto& control : window->controls()) {
        if (control->kind() == ControlKind::Button && control->visible)
          buttons.push_back({control->name(), control->x, control->y, control->width, control->height});
      }
    });
    for (size_t i = 0; i < buttons.size(); ++i) {
      const Box& a = buttons[i];
      EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= width && a.y + a.height <= height)
          << a.name << " at " << a.x << "," << a.y << " outside " << width << "x" << height;
      for (size_t j = i + 1; j < buttons.size(); ++j)
        EXPECT_FALSE(cover(a, buttons[j])) << a.name << " at x " << a.x << " and " << buttons[j].name << " at x "
                                           << buttons[j].x << " cover each other";
    }
    ASSERT_TRUE(session->post({"close"}).ok());
  }
}

// The layout does not depend on the database.
INSTANTIATE_TEST_SUITE_P(Databases, DeclarationLayoutTest, ::testing::Values(Backend::SQLite), backend_name);

}  // namespace
}  // namespace shenbao::testing
