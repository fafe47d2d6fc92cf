#pragma once

#include <functional>

#include "platform/Ref.h"

namespace platform {

class MenuItem;

// What the framework's windows, controls and menu bars tell the application's
// runtime about the user's doings: callbacks that the runtime connects and
// hands to each of them as it is made, so that they never reach up to it.
struct EventHost {
    // Runs program code on behalf of an event, as Dispatch does.
    std::function<void(const std::function<void()>& handler)> dispatch;
    // The menus are about to be seen: their enabled states are brought up to
    // date, as UpdateMenus does.
    std::function<void()> updateMenus;
    // The user chose a menu item, as HandleMenuCommand runs it.
    std::function<void(const Ref<MenuItem>& item)> chooseMenuItem;
};

}  // namespace platform
