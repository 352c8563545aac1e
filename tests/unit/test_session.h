#pragma once

#include <memory>
#include <string>

#include "framework/host/host_session.h"
#include "framework/runtime/windows/session.h"

namespace shenbao::testing {

// A session of the application on the database `url`, as `username` of unit 001 with the
// rights of `role`, on 2009-06-15, its print jobs in /tmp. Fails the test and answers nullptr
// when it cannot start.
std::unique_ptr<Session> start_test_session(const std::string& url, const WindowRegistry& registry,
                                            const std::string& username, Role role);

}  // namespace shenbao::testing
