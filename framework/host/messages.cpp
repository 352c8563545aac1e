#include "framework/host/messages.h"

#include <iterator>

namespace shenbao {
namespace {

struct MessageText {
  HostMessage message;
  const char* title;
  const char* text;
  Icon icon;
  Buttons buttons;
  int default_button = 1;  // 2: a question whose Yes goes past a warning has No pressed by Enter
};

constexpr MessageText kMessages[] = {
    {HostMessage::DeclarationMissing, "提示", "请先维护单位申报信息！", Icon::Information, Buttons::Ok},
    {HostMessage::UnitMissing, "提示", "请先选择单位！", Icon::Information, Buttons::Ok},
    {HostMessage::DateRangeInvalid, "提示", "请输入正确的申报时间（yyyy-mm-dd）！", Icon::Exclamation, Buttons::Ok},
    {HostMessage::WorkerNotInUnit, "提示", "单位人员中没有编号为{}的人员！", Icon::Exclamation, Buttons::Ok},
    {HostMessage::WorkerAlreadyDeclared, "提示", "该人员已在本次申报中！", Icon::Information, Buttons::Ok},
    {HostMessage::WorkerDataIncomplete, "提示", "人员信息未能全部复制：{}", Icon::Exclamation, Buttons::Ok},
    {HostMessage::UnsavedChanges, "提示", "申报数据已修改，是否保存？", Icon::Question, Buttons::YesNo},
    {HostMessage::ConfirmDeleteDeclaration, "提示", "确定要删除该申报吗？", Icon::Question, Buttons::YesNo},
    {HostMessage::ConfirmDeleteWorker, "提示", "确定要删除该人员吗？", Icon::Question, Buttons::YesNo},
    {HostMessage::SaveFailed, "提示", "保存失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::ChangedByOthers, "提示", "数据已被他人修改，请重新打开后再保存！", Icon::Exclamation, Buttons::Ok},
    {HostMessage::DeleteFailed, "提示", "删除失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::ConfirmAccept, "提示", "确定要将本次申报数据入库吗？", Icon::Question, Buttons::YesNo},
    {HostMessage::Accepted, "提示", "数据入库成功！", Icon::Information, Buttons::Ok},
    {HostMessage::AcceptFailed, "提示", "数据入库失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::AlreadyAccepted, "提示", "该申报已入库，不能重复入库！", Icon::Information, Buttons::Ok},
    {HostMessage::AcceptRightMissing, "提示", "只有人事主管部门可以数据入库！", Icon::StopSign, Buttons::Ok},
    {HostMessage::NumberLimit, "系统提示", "人员编号已超出系统的极限，请与系统管理员联系", Icon::Exclamation, Buttons::Ok},
    {HostMessage::LetterMissing, "提示", "申报函件格式缺失：", Icon::StopSign, Buttons::Ok},
    {HostMessage::PrintFailed, "提示", "打印失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::AuthorityCannotChange, "提示", "人事主管部门不能修改单位申报！", Icon::StopSign, Buttons::Ok},
    {HostMessage::AcceptedNoChange, "提示", "该申报已入库，不能修改！", Icon::StopSign, Buttons::Ok},
    {HostMessage::AcceptedNoDelete, "提示", "该申报已入库，不能删除！", Icon::StopSign, Buttons::Ok},
    {HostMessage::NotSubmitted, "提示", "该申报尚未上报，不能入库！", Icon::StopSign, Buttons::Ok},
    {HostMessage::ReturnReasonMissing, "提示", "请填写退回原因！", Icon::Exclamation, Buttons::Ok},
    {HostMessage::Returned, "提示", "已退回该申报。", Icon::Information, Buttons::Ok},
    {HostMessage::ReturnRightMissing, "提示", "只有人事主管部门可以退回申报！", Icon::StopSign, Buttons::Ok},
    {HostMessage::NotSubmittedNoReturn, "提示", "该申报尚未上报，不能退回！", Icon::StopSign, Buttons::Ok},
    {HostMessage::AcceptedNoReturn, "提示", "该申报已入库，不能退回！", Icon::StopSign, Buttons::Ok},
    {HostMessage::PreviewRightMissing, "提示", "只有人事主管部门可以预览入库！", Icon::StopSign, Buttons::Ok},
    {HostMessage::PreviewFailed, "提示", "入库预览失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::ReverseRightMissing, "提示", "只有人事主管部门可以撤销入库！", Icon::StopSign, Buttons::Ok},
    {HostMessage::NotAcceptedNoReverse, "提示", "该申报尚未入库，不能撤销！", Icon::StopSign, Buttons::Ok},
    {HostMessage::Reversed, "提示", "已撤销入库。", Icon::Information, Buttons::Ok},
    {HostMessage::RegisterChangedSince, "提示", "以下登记信息在入库后已被修改，不能撤销：", Icon::StopSign, Buttons::Ok},
    {HostMessage::ReverseFailed, "提示", "撤销入库失败！", Icon::StopSign, Buttons::Ok},
    {HostMessage::LimitsExceeded, "提示", "本次入库后将超出核定职数或编制：\n{}\n确定要入库吗？", Icon::Question,
     Buttons::YesNo, 2},
};

// The table lists the messages in the order of the enumeration, each once.
constexpr bool in_order() {
  for (size_t i = 0; i < std::size(kMessages); ++i) {
    if (static_cast<size_t>(kMessages[i].message) != i) return false;
  }
  return std::size(kMessages) == static_cast<size_t>(HostMessage::LimitsExceeded) + 1;
}
static_assert(in_order(), "kMessages holds every HostMessage once, in order");

const MessageText& find(HostMessage message) { return kMessages[static_cast<size_t>(message)]; }

}  // namespace

std::string host_message_text(HostMessage message, std::string_view detail) {
  std::string text = find(message).text;
  if (const size_t at = text.find("{}"); at != std::string::npos) return text.replace(at, 2, detail);
  if (detail.empty()) return text;
  // A text that ends in a colon runs on; the others take the reason on a line of its own.
  const bool runs_on = text.size() >= 3 && text.compare(text.size() - 3, 3, "：") == 0;
  return text + (runs_on ? "" : "\n") + std::string(detail);
}

int say(Session& session, HostMessage message, std::string_view detail) {
  const MessageText& m = find(message);
  return session.message_box(m.title, host_message_text(message, detail), m.icon, m.buttons, m.default_button);
}

}  // namespace shenbao
