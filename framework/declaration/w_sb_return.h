#pragma once

#include <string>

#include "framework/host/w_response.h"

namespace shenbao {

// What the reason is asked for, when not for a return: the dialog's title and its prompt.
struct ReasonRequest {
  std::string title;
  std::string prompt;
};

// "退回申报": asks the authority why a declaration goes back to its unit (or, opened with a
// ReasonRequest, why an acceptance is reversed). The reason (mle_reason, required, at most
// kReasonLimit characters) is handed back to the opener when "确定(&O)" is pressed; "取消(&C)"
// hands back nothing. The dialog writes nothing: the opener writes through the declaration
// gate.
class w_sb_return : public w_response {
 public:
  static constexpr const char* kClassName = "w_sb_return";
  static constexpr size_t kReasonLimit = 500;
  explicit w_sb_return(Session& session);

  void open() override;

  virtual void pb_1_clicked();  // 确定
  virtual void pb_2_clicked();  // 取消
};

}  // namespace shenbao
