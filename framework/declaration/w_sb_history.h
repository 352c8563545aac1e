#pragma once

#include "framework/declaration/declaration_gate.h"
#include "framework/host/w_response.h"

namespace shenbao {

// "申报记录": the steps of one declaration as its history holds them (created, saved,
// submitted, returned with the reason, resubmitted, accepted …), newest first: when, what, who,
// from where and why. Read-only. Opened modally with the DeclarationKey in the message object;
// without one it closes at once.
class w_sb_history : public w_response {
 public:
  static constexpr const char* kClassName = "w_sb_history";
  explicit w_sb_history(Session& session);

  void open() override;
  void resize(int new_width, int new_height) override;
  virtual void pb_close_clicked();
};

}  // namespace shenbao
