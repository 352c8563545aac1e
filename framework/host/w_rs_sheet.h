#pragma once

#include <memory>
#include <string>

#include "framework/runtime/session.h"
#include "framework/runtime/window.h"

namespace shenbao {

// Ancestor of the print windows and dialogs: a plain window of the frame. Print windows read
// their declaration from the s_com the opener left in the message object.
class w_rs_sheet : public Window {
 public:
  using Window::Window;

 protected:
  // The s_com handed to this window when it was opened; nullptr when there was none.
  std::shared_ptr<s_com> take_s_com() const {
    return std::static_pointer_cast<s_com>(session().message.powerobjectparm);
  }
};

}  // namespace shenbao
