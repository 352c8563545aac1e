#pragma once

#include <string>

#include "framework/host/structures.h"
#include "framework/host/w_rs_sheet.h"

namespace shenbao {

// "培训情况": the unit summary per subject (dw_1) and the declared workers with a tick for
// each subject without credits (dw_2), in preview. "打印预览(&V)" switches to the list
// "应培未培公务员名单" generated for the declaration's current subjects (dw_3), and back;
// there "打印(&P)" prints the summary and the list into one job "培训情况打印". Reads only.
class w_px_print : public w_rs_sheet {
 public:
  explicit w_px_print(Session& session);

  void open() override;
  void resize(int new_width, int new_height) override;
  // Captions of the unit's own subjects in dw_2.
  int uf_modify(const std::string& pkid, const std::string& company_num);
  // Generates dw_3 from the current subjects: 0, or -1 after saying why.
  int uf_print(const std::string& pkid, const std::string& company_num);
  virtual void pb_2_clicked();  // 打印预览: between the two views
  virtual void pb_3_clicked();  // 打印
  virtual void pb_1_clicked();  // 退出

  FormControl& dw_1() const { return *form("dw_1"); }
  FormControl& dw_2() const { return *form("dw_2"); }
  FormControl& dw_3() const { return *form("dw_3"); }

 private:
  s_com declaration_;
};

}  // namespace shenbao
