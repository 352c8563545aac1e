#include "app/registry.h"

#include "declarations/cj/w_vorant_cj.h"
#include "declarations/departure/w_vorant_ct.h"
#include "declarations/departure/w_vorant_cz.h"
#include "declarations/jl/w_jl_print.h"
#include "declarations/jl/w_sb_jlry.h"
#include "declarations/jl/w_sb_sjjt.h"
#include "declarations/jl/w_vorant_jl.h"
#include "declarations/jl/w_vorant_jl_gwy.h"
#include "declarations/jl/w_vorant_jl_szf.h"
#include "declarations/px/w_px_print.h"
#include "declarations/px/w_px_type.h"
#include "declarations/px/w_vorant_px.h"
#include "declarations/rsjh/w_vorant_rsjh.h"
#include "declarations/rsjh/w_zrjh_edit.h"
#include "declarations/rsjh/w_zrjh_print.h"
#include "declarations/zw/w_vorant_zw.h"
#include "declarations/zw/w_zwzs_print.h"
#include "framework/declaration/w_audit_log.h"
#include "framework/declaration/w_sb_accept_preview.h"
#include "framework/declaration/w_sb_history.h"
#include "framework/declaration/w_sb_inbox.h"
#include "framework/declaration/w_rs_worker_changes.h"
#include "framework/declaration/w_sb_return.h"
#include "framework/host/host_session.h"
#include "settings/w_account_set.h"

namespace shenbao {
namespace {

template <typename W>
WindowFactory factory() {
  return [](Session& session) { return std::make_unique<W>(session); };
}

template <typename... W>
struct WindowList {};

// The category windows, in menu order; each states its class and caption in its descriptor.
using Categories = WindowList<w_vorant_zw, w_vorant_rsjh, w_vorant_px, w_vorant_jl, w_vorant_jl_szf, w_vorant_jl_gwy, w_sb_jlry,
                              w_sb_sjjt, w_vorant_cz, w_vorant_ct, w_vorant_cj>;
// The print windows that show one report; each states its class in its sheet.
using PrintSheets = WindowList<w_zwzs_print, w_zrjh_print, w_jl_sjxt_print, w_jl_szf_print>;

template <typename... W>
void add_categories(WindowRegistry& registry, WindowList<W...>) {
  (registry.add(W::descriptor().class_name, factory<W>(), W::descriptor().caption), ...);
}

template <typename... W>
void add_print_sheets(WindowRegistry& registry, WindowList<W...>) {
  (registry.add(W::kSheet.class_name, factory<W>()), ...);
}

template <typename... W>
std::vector<const CategoryDescriptor*> descriptors(WindowList<W...>) {
  return {&W::descriptor()...};
}

}  // namespace

void register_windows(WindowRegistry& registry) {
  add_categories(registry, Categories{});
  add_print_sheets(registry, PrintSheets{});
  registry.add(
      w_sb_inbox::kClassName,
      [](Session& session) { return std::make_unique<w_sb_inbox>(session, category_descriptors()); },
      w_sb_inbox::kCaption, std::string(kAcceptRight));
  registry.add(
      w_rs_worker_changes::kClassName,
      [](Session& session) { return std::make_unique<w_rs_worker_changes>(session, category_descriptors()); },
      w_rs_worker_changes::kCaption);
  registry.add(w_audit_log::kClassName, factory<w_audit_log>(), w_audit_log::kCaption, std::string(kAcceptRight));
  registry.add(w_sb_return::kClassName, factory<w_sb_return>());
  registry.add(w_sb_history::kClassName, factory<w_sb_history>());
  registry.add(w_sb_accept_preview::kClassName, factory<w_sb_accept_preview>());
  registry.add("w_zrjh_edit", factory<w_zrjh_edit>());
  registry.add("w_px_print", factory<w_px_print>());
  registry.add("w_px_type", factory<w_px_type>());
  registry.add("w_account_set", factory<w_account_set>());
}

std::vector<const CategoryDescriptor*> category_descriptors() { return descriptors(Categories{}); }

std::map<std::string, std::string> waiting_notes(Session& session) {
  std::map<std::string, std::string> notes;
  long total = 0;
  for (const auto& [class_name, count] : w_sb_inbox::waiting_counts(session.sqlca(), category_descriptors())) {
    if (count <= 0) continue;
    notes[class_name] = std::to_string(count) + " 件待审核";
    total += count;
  }
  if (total > 0) notes[w_sb_inbox::kClassName] = std::to_string(total) + " 件待审核";
  return notes;
}

}  // namespace shenbao

namespace shenbao {

void prepare_web_session(Session::Options& options, const WebUser& user) {
  apply_host(options);
  options.user = host_user(user.username, user.company_num, user.is_clerk() ? Role::Clerk : Role::Authority);
  // The authority starts at the declarations waiting for him, and his menu counts them.
  if (!user.is_clerk()) {
    options.open_at_start.push_back(w_sb_inbox::kClassName);
    options.menu_notes = waiting_notes;
  }
}

}  // namespace shenbao
