#include "app/registry.h"

#include "declarations/px/w_px_print.h"
#include "declarations/px/w_px_type.h"
#include "declarations/px/w_vorant_px.h"
#include "declarations/zw/w_vorant_zw.h"
#include "declarations/zw/w_zwzs_print.h"
#include "framework/host/host_session.h"
#include "settings/w_account_set.h"

namespace shenbao {
namespace {

template <typename W>
WindowFactory factory() {
  return [](Session& session) { return std::make_unique<W>(session); };
}

// A category window: its class and menu caption come from its descriptor.
template <typename W>
void add_category(WindowRegistry& registry) {
  registry.add(W::descriptor().class_name, factory<W>(), W::descriptor().caption);
}

// A print window: its class comes from its sheet.
template <typename W>
void add_print_sheet(WindowRegistry& registry) {
  registry.add(W::kSheet.class_name, factory<W>());
}

}  // namespace

void register_windows(WindowRegistry& registry) {
  add_category<w_vorant_zw>(registry);
  add_print_sheet<w_zwzs_print>(registry);
  add_category<w_vorant_px>(registry);
  registry.add("w_px_print", factory<w_px_print>());
  registry.add("w_px_type", factory<w_px_type>());
  registry.add("w_account_set", factory<w_account_set>());
}

}  // namespace shenbao

namespace shenbao {

void prepare_web_session(Session::Options& options, const WebUser& user) {
  apply_host(options);
  options.user = host_user(user.username, user.company_num, user.is_clerk() ? Role::Clerk : Role::Authority);
}

}  // namespace shenbao
