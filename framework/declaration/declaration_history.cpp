#include "framework/declaration/declaration_history.h"

#include <iterator>
#include <string>

namespace shenbao {
namespace {

struct StepNames {
  DeclarationStep step;
  std::string_view code;
  std::string_view words;
};

constexpr StepNames kSteps[] = {
    {DeclarationStep::Created, "created", "创建"},       {DeclarationStep::Saved, "saved", "保存"},
    {DeclarationStep::Submitted, "submitted", "上报"},   {DeclarationStep::Withdrawn, "withdrawn", "撤回上报"},
    {DeclarationStep::Returned, "returned", "退回"},     {DeclarationStep::Resubmitted, "resubmitted", "重新上报"},
    {DeclarationStep::Accepted, "accepted", "入库"},     {DeclarationStep::Deleted, "deleted", "删除"},
    {DeclarationStep::Reversed, "reversed", "撤销入库"},
};

constexpr bool in_order() {
  for (size_t i = 0; i < std::size(kSteps); ++i)
    if (static_cast<size_t>(kSteps[i].step) != i) return false;
  return std::size(kSteps) == static_cast<size_t>(DeclarationStep::Reversed) + 1;
}
static_assert(in_order(), "kSteps holds every DeclarationStep once, in order");

const StepNames& names(DeclarationStep step) { return kSteps[static_cast<size_t>(step)]; }

}  // namespace

std::string_view step_code(DeclarationStep step) { return names(step).code; }
std::string_view step_words(DeclarationStep step) { return names(step).words; }

std::string step_words_sql(std::string_view column) {
  // Codes and words are the program's own constants, never a user's.
  std::string sql = "case " + std::string(column);
  for (const StepNames& s : kSteps) sql += " when '" + std::string(s.code) + "' then '" + std::string(s.words) + "'";
  return sql + " else " + std::string(column) + " end";
}

}  // namespace shenbao
