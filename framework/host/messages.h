#pragma once

#include <string>
#include <string_view>

#include "framework/runtime/windows/session.h"

namespace shenbao {

// The host's own messages, each text written once (messages.cpp) so that every window says
// the same thing at the same moment. A question answers 1 for Yes.
enum class HostMessage {
  DeclarationMissing,        // 请先维护单位申报信息！
  UnitMissing,               // 请先选择单位！
  DateRangeInvalid,          // 请输入正确的申报时间（yyyy-mm-dd）！
  WorkerNotInUnit,           // 单位人员中没有编号为{}的人员！
  WorkerAlreadyDeclared,     // 该人员已在本次申报中！
  WorkerDataIncomplete,      // 人员信息未能全部复制：{}
  UnsavedChanges,            // 申报数据已修改，是否保存？
  ConfirmDeleteDeclaration,  // 确定要删除该申报吗？
  ConfirmDeleteWorker,       // 确定要删除该人员吗？
  SaveFailed,                // 保存失败！ + reason
  ChangedByOthers,           // 数据已被他人修改，请重新打开后再保存！
  DeleteFailed,              // 删除失败！ + reason
  ConfirmAccept,             // 确定要将本次申报数据入库吗？
  Accepted,                  // 数据入库成功！
  AcceptFailed,              // 数据入库失败！ + reason
  AlreadyAccepted,           // 该申报已入库，不能重复入库！
  AcceptRightMissing,        // 只有人事主管部门可以数据入库！
  NumberLimit,               // 人员编号已超出系统的极限，请与系统管理员联系 (系统提示)
  LetterMissing,             // 申报函件格式缺失： + reason
  PrintFailed,               // 打印失败！ + reason
  AuthorityCannotChange,     // 人事主管部门不能修改单位申报！
  AcceptedNoChange,          // 该申报已入库，不能修改！
  AcceptedNoDelete,          // 该申报已入库，不能删除！
  NotSubmitted,              // 该申报尚未上报，不能入库！
  ReturnReasonMissing,       // 请填写退回原因！
  Returned,                  // 已退回该申报。
  ReturnRightMissing,        // 只有人事主管部门可以退回申报！
  NotSubmittedNoReturn,      // 该申报尚未上报，不能退回！
  AcceptedNoReturn,          // 该申报已入库，不能退回！
  PreviewRightMissing,       // 只有人事主管部门可以预览入库！
  PreviewFailed,             // 入库预览失败！ + reason
  ReverseRightMissing,       // 只有人事主管部门可以撤销入库！
  NotAcceptedNoReverse,      // 该申报尚未入库，不能撤销！
  Reversed,                  // 已撤销入库。
  RegisterChangedSince,      // 以下登记信息在入库后已被修改，不能撤销： + one line per row
  ReverseFailed,             // 撤销入库失败！ + reason
  LimitsExceeded,            // 本次入库后将超出核定职数或编制： + one line per limit + 确定要入库吗？ (No by default)
};

// The text of a message: `detail` takes the place of "{}" in it, or follows it on a new line
// (the database's reason after "保存失败！").
std::string host_message_text(HostMessage message, std::string_view detail = {});

// Shows the message with its title, icon and buttons; answers the button pressed.
int say(Session& session, HostMessage message, std::string_view detail = {});

// Status line texts after an action that needs no box.
inline constexpr const char* kSavedStatus = "保存成功";
inline constexpr const char* kDeletedStatus = "删除成功";
inline constexpr const char* kNewDeclarationStatus = "已新增申报，请填写后保存";
// After "已将" and the worker's name.
inline constexpr const char* kWorkerAddedStatus = "加入申报，请填写后保存";
inline constexpr const char* kAcceptedStatus = "数据入库成功";
inline constexpr const char* kReversedStatus = "已撤销入库";
// Around the number of worker rows an extraction wrote: "已提取12条人员信息".
inline constexpr const char* kExtractedStatusBefore = "已提取";
inline constexpr const char* kExtractedStatusAfter = "条人员信息";
// Before the reason of the return, when a returned declaration is selected.
inline constexpr const char* kReturnedStatus = "已退回：";

}  // namespace shenbao
