#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ref.h"

namespace platform {

// One item of a menu tree: the bar is the root, its children are the menus,
// their children the commands. Items are found and bound by their Name.
class MenuItem {
public:
    MenuItem() = default;
    virtual ~MenuItem() = default;
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    // True: every menu update enables the item by itself. False: it is enabled
    // only when an enabling handler calls Enable during the update.
    bool AutoEnable() const { return autoEnable_; }
    void SetAutoEnable(bool autoEnable) { autoEnable_ = autoEnable; }
    // The caption; "-" makes the item a separator line.
    const std::string& Text() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }
    // "Cmd+" and one letter: the Command key on macOS, Ctrl elsewhere.
    const std::string& KeyboardShortcut() const { return shortcut_; }
    void SetKeyboardShortcut(std::string shortcut) { shortcut_ = std::move(shortcut); }

    bool IsSeparator() const { return text_ == "-"; }

    // Enables the item for the current menu update.
    void Enable() { enabled_ = true; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

    // Adds `item` as the last child.
    void Append(const Ref<MenuItem>& item);
    std::int32_t Count() const { return static_cast<std::int32_t>(children_.size()); }
    // The child at `index`; OutOfBoundsException outside 0 to Count() - 1.
    Ref<MenuItem> Item(std::int32_t index) const;
    // The direct child of that Name, or nil.
    Ref<MenuItem> Child(std::string_view name) const;
    // The item of that Name anywhere below this one (depth first), or nil.
    Ref<MenuItem> Lookup(std::string_view name) const;

private:
    std::string name_;
    bool autoEnable_ = true;
    std::string text_;
    std::string shortcut_;
    bool enabled_ = false;
    std::vector<Ref<MenuItem>> children_;
};

// The item the platform places in the application menu as "About".
class AppleMenuItem : public MenuItem {};

// The item the platform places in the application menu as "Quit"; choosing it
// quits the application unless a handler bound to its name handles it.
class QuitMenuItem : public MenuItem {};

// The root of a menu tree, installed on the application and on windows.
class MenuBar : public MenuItem {};

// A handler bound to a menu item's Name; its result says whether it handled
// the choice.
using MenuHandler = std::function<bool()>;

// The handlers that an application or a window binds to menu item names.
class MenuHandlers {
public:
    void Add(std::string name, MenuHandler handler) { handlers_[std::move(name)] = std::move(handler); }
    // Runs the handler bound to `name`; false when none is bound or it did not
    // handle the choice.
    bool Run(std::string_view name) const {
        const auto found = handlers_.find(name);
        return found != handlers_.end() && found->second && found->second();
    }

private:
    std::map<std::string, MenuHandler, std::less<>> handlers_;
};

}  // namespace platform
