#include "platform/Desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QShowEvent>
#include <QStringList>
#include <QUrl>

#include "platform/Files.h"
#include "platform/MenuBarView.h"
#include "platform/QtText.h"
#include "platform/Text.h"
#include "platform/Window.h"

namespace platform {

namespace {

// The window that a dialog opens over: the active window of the program;
// from the menu-bar window (or with none active) the program's front window,
// where the user's work is; nullptr, the middle of the screen, when there is
// none. Never the menu-bar window, a strip at the screen's edge.
QWidget* DialogParent() {
    QWidget* active = QApplication::activeWindow();
    if (active && active != MenuBarWindow::Current()) return active;
    for (std::int32_t index = 0; index < WindowCount(); ++index) {
        if (QWidget* window = WindowAt(index)->Widget(); window->isVisible()) return window;
    }
    return nullptr;
}

// A dialog that, once Qt has placed it over its parent (or in the middle of
// the screen), moves clear of the menu-bar window should it cover it.
template <class Dialog>
class PlacedDialog final : public Dialog {
public:
    using Dialog::Dialog;

protected:
    void showEvent(QShowEvent* event) override {
        Dialog::showEvent(event);
        const QRect frame = this->frameGeometry();
        const QRect clear = MenuBarWindow::KeptClear(frame);
        if (clear != frame) this->move(this->pos() + (clear.topLeft() - frame.topLeft()));
    }
};

// The dialogs and services of the Qt desktop.
class QtDesktopServices final : public DesktopServices {
public:
    void ShowMessage(const std::string& text) override {
        PlacedDialog<QMessageBox> box(DialogParent());
        box.setWindowTitle(QApplication::applicationDisplayName());
        box.setTextFormat(Qt::PlainText);
        box.setText(FromUtf8(text));
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }

    std::optional<std::filesystem::path> ChooseFileToOpen(const std::vector<const FileType*>& types) override {
        QStringList filters;
        for (const FileType* type : types) {
            QStringList patterns;
            for (const QString& extension : FromUtf8(type->Extensions).split(';', Qt::SkipEmptyParts)) {
                patterns << QStringLiteral("*") + (extension.startsWith('.') ? extension : '.' + extension);
            }
            filters << QStringLiteral("%1 (%2)").arg(FromUtf8(type->Name), patterns.join(' '));
        }
        PlacedDialog<QFileDialog> dialog(DialogParent(), QString(), QString(), filters.join(";;"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return std::filesystem::path(dialog.selectedFiles().constFirst().toStdString());
    }

    void OpenURL(const std::string& url) override {
        QDesktopServices::openUrl(QUrl(FromUtf8(url)));
    }
};

std::unique_ptr<DesktopServices>& Services() {
    static std::unique_ptr<DesktopServices> services = std::make_unique<QtDesktopServices>();
    return services;
}

}  // namespace

void SetDesktopServices(std::unique_ptr<DesktopServices> services) {
    Services() = services ? std::move(services) : std::make_unique<QtDesktopServices>();
}

void MsgBox(std::string_view text) {
    Services()->ShowMessage(std::string(text));
}

Ref<FolderItem> GetOpenFolderItem(std::string_view filter) {
    std::vector<const FileType*> types;
    std::int64_t fields = CountFields(filter, ";");
    for (std::int64_t index = 1; index <= fields; ++index) {
        if (const FileType* type = RegisteredFileType(NthField(filter, ";", index))) types.push_back(type);
    }
    const auto chosen = Services()->ChooseFileToOpen(types);
    if (!chosen) return nullptr;
    return Make<FolderItem>(*chosen);
}

void ShowURL(std::string_view url) {
    Services()->OpenURL(std::string(url));
}

std::string Clipboard::Text() const {
    return QGuiApplication::clipboard()->text().toStdString();
}

void Clipboard::SetText(std::string_view text) {
    QGuiApplication::clipboard()->setText(FromUtf8(text));
}

}  // namespace platform
