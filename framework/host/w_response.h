#pragma once

#include "framework/runtime/windows/window.h"

namespace shenbao {

// Ancestor of the response windows: dialogs a window opens modally (Session::open_modal) with a
// structure in the message object, read with parameter<T>(), and that hand their answer back
// with close_with_return. They never open as sheets of the frame.
class w_response : public Window {
 public:
  using Window::Window;
  bool is_response() const override { return true; }
};

}  // namespace shenbao
