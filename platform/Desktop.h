#pragma once

#include <QRect>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ref.h"

class QWidget;

namespace platform {

class FileType;
class FolderItem;

// Shows a modal message box with `text` and returns when the user dismisses it.
void MsgBox(std::string_view text);

// Shows the open-file dialog offering the files of the registered types that
// `filter` names (type names separated by ";"). Returns the chosen file, or nil
// when the user cancels.
Ref<FolderItem> GetOpenFolderItem(std::string_view filter);

// Hands a web or mail link to the system's default handler. Nothing is reported
// when the system cannot open it.
void ShowURL(std::string_view url);

// Access to the system clipboard's text.
class Clipboard {
public:
    // The clipboard's text as UTF-8.
    std::string Text() const;
    // Replaces the clipboard's content by `text`, read as UTF-8.
    void SetText(std::string_view text);
    // Ends the access; the text stays on the clipboard.
    void Close() {}
};

// The desktop's dialogs and services that the functions above use. The
// application uses Qt's; tests install their own to answer dialogs and record
// what was shown and opened, without a person.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    // The chosen file, or nullopt when cancelled; `types` are the files offered.
    virtual std::optional<std::filesystem::path> ChooseFileToOpen(const std::vector<const FileType*>& types) = 0;
    virtual void OpenURL(const std::string& url) = 0;
};

// Installs `services` in place of Qt's; nullptr returns to Qt's.
void SetDesktopServices(std::unique_ptr<DesktopServices> services);

// Where Qt's dialogs (the message box, the open-file dialog) stand. `over`
// names the window a dialog opens over (nullptr: the middle of the screen);
// once Qt has placed the dialog there, `clear` moves its frame off what it
// must not cover. Without either, a dialog opens over the active window. The
// application installs its own.
struct DialogPlacement {
    std::function<QWidget*()> over;
    std::function<QRect(const QRect& frame)> clear;
};
void SetDialogPlacement(DialogPlacement placement);

}  // namespace platform
