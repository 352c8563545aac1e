#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "framework/runtime/windows/window.h"

namespace shenbao {

// The layout of a window that shows one list (dw_1): its buttons in a row at the bottom right,
// the last named rightmost, and the list filling the window from where it starts down to them.
inline void lay_out_list_window(Window& window, std::initializer_list<std::string_view> buttons) {
  constexpr int kMargin = 8;
  int right = window.width - kMargin;
  int top = window.height - kMargin;
  for (auto name = std::rbegin(buttons); name != std::rend(buttons); ++name) {
    Control& button = *window.control(*name);
    button.x = right - button.width;
    button.y = window.height - button.height - kMargin;
    right = button.x - kMargin;
    top = std::min(top, button.y);
  }
  FormControl& list = *window.form("dw_1");
  list.width = window.width - 2 * kMargin;
  list.height = top - list.y - kMargin;
}

// A filter's text without the blanks around it.
inline std::string trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// `text` for a LIKE pattern of a list's filter, with '!' as its escape character
// (`… like :pattern escape '!'`): what the user typed matches as typed.
inline std::string like_escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '!' || c == '%' || c == '_') out += '!';
    out += c;
  }
  return out;
}

}  // namespace shenbao
