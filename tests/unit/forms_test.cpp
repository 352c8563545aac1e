#include <gtest/gtest.h>

#include <filesystem>

#include "framework/runtime/forms/data_store.h"

namespace shenbao {
namespace {

// Every definition the application ships must load: a broken one would only show when a
// clerk opens the window that uses it.
TEST(Forms, EveryShippedDefinitionLoads) {
  size_t loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(default_form_library().folder())) {
    if (entry.path().extension() != ".form") continue;
    DataStore store;
    EXPECT_EQ(store.set_dataobject(entry.path().stem().string()), 1) << store.last_error();
    ++loaded;
  }
  EXPECT_GT(loaded, 0u) << "no definitions found in " << default_form_library().folder();
}

}  // namespace
}  // namespace shenbao
