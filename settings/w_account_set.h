#pragma once

#include "framework/host/w_rs_sheet.h"

namespace shenbao {

// "设置提取时间": asks for the period of an extraction and hands it back as one string,
// "yyyy-mm-dd/yyyy-mm-dd", through the message object. Opened modally; closed without
// "确定" it returns nothing.
class w_account_set : public w_rs_sheet {
 public:
  explicit w_account_set(Session& session);
  void open() override;
  virtual void pb_1_clicked();
};

}  // namespace shenbao
