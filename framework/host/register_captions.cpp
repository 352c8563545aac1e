#include "framework/host/register_captions.h"

#include <iterator>

namespace shenbao {
namespace {

struct Caption {
  std::string_view name;
  std::string_view caption;
};

constexpr Caption kTables[] = {
    {"rs_main", "人员登记"},       {"rs_info_company", "单位信息"}, {"gg_bumen_bm", "部门"},
    {"rs_sub_jl_2", "奖励记录"},   {"rs_sub_jl", "奖励记录"},       {"rs_sub_education", "培训记录"},
    {"rs_sub_punish", "惩戒记录"},
};

// Column captions shared by the register's tables; the reward, training and punishment records
// use the names of the declaration forms that fill them.
constexpr Caption kColumns[] = {
    {"company_num", "单位编号"},     {"worker_code", "人员编号"},   {"book_code", "单位"},
    {"worker_name", "姓名"},         {"sex", "性别"},               {"card_no", "身份证号"},
    {"birthday", "出生日期"},        {"csny", "出生年月"},          {"people_standing", "个人身份"},
    {"post", "职务"},                {"jb", "级别"},                {"department", "部门"},
    {"first_degree", "学历"},        {"stuff_status", "人员状态"},  {"a_vc1", "变动类别"},
    {"a_vc2", "变动日期"},           {"a_date1", "变动时间"},       {"company_name", "单位名称"},
    {"dept", "主管部门"},            {"company_property", "单位性质"}, {"now_mans", "实有人数"},
    {"bz_mans", "编制总人数"},       {"xzbz_mans", "行政编制"},     {"fsbz_mans", "行政附属编制"},
    {"gg_bm_id", "部门编号"},        {"gg_bm_mc", "部门名称"},      {"jl_name", "奖励名称"},
    {"jl_type", "奖励类别"},         {"jl_reason", "奖励原因"},     {"jl_date", "奖励日期"},
    {"jl_company", "奖励单位"},      {"glory_name", "荣誉称号"},    {"ry_jb", "荣誉级别"},
    {"jlsj", "奖励时间"},            {"px_property", "培训性质"},   {"px_mode", "培训方式"},
    {"px_content", "培训内容"},      {"px_type", "培训类别"},       {"px_result", "培训结果"},
    {"px_start_date", "培训开始日期"}, {"px_end_date", "培训结束日期"}, {"px_xf", "学分"},
    {"px_km", "培训科目"},           {"punish_name", "处分名称"},   {"punish_reason", "处分原因"},
    {"punish_date", "处分日期"},     {"cfsj", "处分时间"},          {"rescind_date", "解除日期"},
    {"jccfsj", "解除时间"},
};

std::string_view find(const Caption* first, const Caption* last, std::string_view name) {
  for (const Caption* c = first; c != last; ++c)
    if (c->name == name) return c->caption;
  return {};
}

}  // namespace

std::string_view register_table_caption(std::string_view table) {
  return find(std::begin(kTables), std::end(kTables), table);
}

std::string_view register_column_caption(std::string_view table, std::string_view column) {
  if (register_table_caption(table).empty()) return {};
  return find(std::begin(kColumns), std::end(kColumns), column);
}

}  // namespace shenbao
