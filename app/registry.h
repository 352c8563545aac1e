#pragma once

#include "framework/runtime/session.h"

namespace shenbao {

// Every window the application can open, by class name; the category windows also appear in
// the frame's menu. The only place that lists them all.
void register_windows(WindowRegistry& registry);

}  // namespace shenbao
