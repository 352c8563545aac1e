#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"
#include "tests/unit/test_database.h"

namespace shenbao::testing {

// A session of the application on the database `url`, as `username` of unit 001 with the
// rights of `role`, on 2009-06-15, its print jobs in /tmp. Fails the test and answers nullptr
// when it cannot start.
std::unique_ptr<Session> start_test_session(const std::string& url, const WindowRegistry& registry,
                                            const std::string& username, Role role);

// A test of the whole application on each database: a fresh database with the schema and the
// standard fixture, and the application's windows. Tests derive from it and start sessions.
class ApplicationDatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  std::unique_ptr<Session> start_session(const std::string& username, Role role) {
    return start_test_session(db.url(), registry, username, role);
  }

  TestDatabase db{GetParam()};
  WindowRegistry registry;
};

}  // namespace shenbao::testing
