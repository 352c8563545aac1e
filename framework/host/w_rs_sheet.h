#pragma once

#include <memory>
#include <string>

#include "framework/runtime/windows/session.h"
#include "framework/runtime/windows/window.h"

namespace shenbao {

// Ancestor of the print windows and dialogs: a plain window of the frame. Print windows read
// their declaration with parameter<s_com>() (structures.h), the structure the opener left in the
// message object; w_print_sheet is the ancestor of those that show one report.
class w_rs_sheet : public Window {
 public:
  using Window::Window;
};

}  // namespace shenbao
