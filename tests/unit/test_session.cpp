#include "tests/unit/test_session.h"

#include <gtest/gtest.h>

#include "app/database_setup.h"
#include "app/registry.h"

namespace shenbao::testing {

std::unique_ptr<Session> start_test_session(const std::string& url, const WindowRegistry& registry,
                                            const std::string& username, Role role) {
  Session::Options options;
  options.database_url = url;
  options.user = host_user(username, "001", role);
  apply_host(options);
  options.registry = &registry;
  options.print_folder = "/tmp";
  options.today = DateTime::from_civil(2009, 6, 15);
  std::string error;
  auto session = Session::start(options, error);
  EXPECT_TRUE(session) << error;
  return session;
}

void ApplicationDatabaseTest::SetUp() {
  SHENBAO_REQUIRE_DATABASE(db);
  std::string error;
  ASSERT_TRUE(create_database(db.sqlca(), true, "", error)) << error;
  register_windows(registry);
}

}  // namespace shenbao::testing
