#include "app/registry.h"

#include "declarations/zw/w_vorant_zw.h"
#include "declarations/zw/w_zwzs_print.h"
#include "settings/w_account_set.h"

namespace shenbao {
namespace {

template <typename W>
WindowFactory factory() {
  return [](Session& session) { return std::make_unique<W>(session); };
}

}  // namespace

void register_windows(WindowRegistry& registry) {
  registry.add("w_vorant_zw", factory<w_vorant_zw>(), "职位职数上报");
  registry.add("w_zwzs_print", factory<w_zwzs_print>());
  registry.add("w_account_set", factory<w_account_set>());
}

}  // namespace shenbao
