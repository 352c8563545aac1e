#pragma once

#include <optional>
#include <vector>

#include "framework/declaration/sb1.h"

namespace shenbao {

// What sets one reward kind apart from the others. The three kinds (provincial-system,
// provincial-government, civil-servant) share the worker form d_jl_worker_form and its table
// rs_w00033, whose rows they tell apart by pkid; each has its own unit table and form.
struct RewardKind {
  const char* class_name;
  const char* caption;
  const char* unit_table;
  const char* unit_form;
  std::optional<PrintButton> print = std::nullopt;
  const char* worker_list = "d_worker_list";
  std::vector<WorkerCopy> worker_copies = {};
  std::vector<const char*> functions = {"wf_rystate"};
};

// The descriptor of a reward kind: its differences, and what all three share.
CategoryDescriptor reward_descriptor(const RewardKind& kind);

// The provincial-system and provincial-government kinds: a unit form and its two-page print,
// workers entered by hand. They mark no declaration status in the worker list.
class w_vorant_reward : public sb1 {
 public:
  using sb1::sb1;
  int wf_rystate() override;
};

}  // namespace shenbao
