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
#include "platform/QtText.h"
#include "platform/Text.h"

namespace platform {

namespace {

DialogPlacement& Placement() {
    static DialogPlacement placement;
    return placement;
}

QWidget* DialogParent() {
    return Placement().over ? Placement().over() : QApplication::activeWindow();
}

// A dialog that, once Qt has placed it over its parent (or in the middle of
// the screen), moves as the placement says.
template <class Dialog>
class PlacedDialog final : public Dialog {
public:
    using Dialog::Dialog;

protected:
    void showEvent(QShowEvent* event) override {
        Dialog::showEvent(event);
        if (!Placement().clear) return;
        const QRect frame = this->frameGeometry();
        const QRect clear = Placement().clear(frame);
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

void SetDialogPlacement(DialogPlacement placement) {
    Placement() = std::move(placement);
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
