#pragma once

#include <memory>
#include <string>

#include "framework/runtime/session.h"
#include "framework/runtime/window.h"

namespace shenbao {

// Ancestor of the print windows and dialogs: a plain window of the frame. Print windows read
// their declaration with parameter<s_com>(), the structure the opener left in the message object.
class w_rs_sheet : public Window {
 public:
  using Window::Window;
};

}  // namespace shenbao
