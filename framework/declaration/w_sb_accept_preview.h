#pragma once

#include <vector>

#include "framework/declaration/register_changes.h"
#include "framework/host/w_response.h"

namespace shenbao {

// What the preview shows: the changes of an acceptance, rehearsed (not yet accepted) or made.
struct AcceptPreview {
  DeclarationKey declaration;
  bool accepted = false;
  std::vector<RegisterChange> changes;
};

// "入库预览": the register changes of one declaration's acceptance, one per row, with their
// count above the list and in the heading of every printed page, after the limits of the unit
// the acceptance would exceed (marked 超出核定: what, the approved number, the number after) and the workers whose
// register record changed since they were added to the declaration (marked 登记信息已变更); for a declaration not yet accepted what its acceptance would change (it
// was run and rolled back), for an accepted one what it changed. "打印(&P)" prints the list as
// a PDF. Opened modally with an AcceptPreview in the message object; without one it closes.
class w_sb_accept_preview : public w_response {
 public:
  static constexpr const char* kClassName = "w_sb_accept_preview";
  explicit w_sb_accept_preview(Session& session);

  void open() override;
  void resize(int new_width, int new_height) override;
  virtual void pb_print_clicked();
  virtual void pb_close_clicked();
};

}  // namespace shenbao
