#include "platform/Controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "platform/Picture.h"
#include "platform/QtText.h"

namespace platform {

namespace {

QColor ToQColor(Color color) {
    return QColor(color.red, color.green, color.blue);
}

// Design values that this platform has no use for are accepted only with
// their neutral setting, so a design that relies on one fails loudly.
void RequireNeutral(const Property& property, bool neutral) {
    if (!neutral) throw InvalidArgumentException("The design property " + property.name + " is not supported here.");
}

}  // namespace

QFont PlatformFont(std::string_view family) {
    QFont font = QApplication::font();
    if (family == "Osaka") {
        font.setFamilies({QStringLiteral("Osaka"), QStringLiteral("Noto Sans CJK JP"),
                          QStringLiteral("Hiragino Sans"), QStringLiteral("Noto Sans")});
        font.setStyleHint(QFont::SansSerif);
    } else if (family != "System" && !family.empty()) {
        font.setFamilies({FromUtf8(family)});
    }
    return font;
}

// Control ------------------------------------------------------------------

Control::Control(const ControlSite& site, std::string name)
    : parent_(site.parent), events_(site.events), name_(std::move(name)) {}

Control::~Control() {
    delete widget_.data();
}

void Control::SetWidget(QWidget* widget) {
    widget_ = widget;
    widget->setObjectName(FromUtf8(name_));
    widget->show();
}

std::string Control::AccessibleName() const {
    return widget_ ? widget_->accessibleName().toStdString() : std::string();
}

void Control::SetAccessibleName(const std::string& name) {
    if (widget_) widget_->setAccessibleName(FromUtf8(name));
}

void Control::SetProperties(const PropertyList& properties) {
    for (const Property& property : properties) {
        if (!ApplyProperty(property)) {
            throw InvalidArgumentException("The control " + name_ + " has no design property " + property.name + ".");
        }
    }
}

bool Control::ApplyProperty(const Property& p) {
    QWidget* w = widget_;
    const std::string_view name = p.name;
    if (name == "Name") {
        RequireNeutral(p, PropertyAs<std::string>(p) == name_);
    } else if (name == "Left") {
        w->move(PropertyAs<std::int32_t>(p), w->y());
    } else if (name == "Top") {
        w->move(w->x(), PropertyAs<std::int32_t>(p));
    } else if (name == "Width") {
        w->resize(PropertyAs<std::int32_t>(p), w->height());
    } else if (name == "Height") {
        w->resize(w->width(), PropertyAs<std::int32_t>(p));
    } else if (name == "Enabled") {
        w->setEnabled(PropertyAs<bool>(p));
    } else if (name == "Visible") {
        w->setVisible(PropertyAs<bool>(p));
    } else if (name == "HelpTag") {
        w->setToolTip(FromUtf8(PropertyAs<std::string>(p)));
    } else if (name == "TabIndex") {
        tabIndex_ = PropertyAs<std::int32_t>(p);
    } else if (name == "TabStop") {
        w->setFocusPolicy(PropertyAs<bool>(p) ? Qt::StrongFocus : Qt::NoFocus);
    } else if (name == "LockLeft" || name == "LockTop") {
        PropertyAs<bool>(p);  // controls always keep their left and top edges
    } else if (name == "LockRight" || name == "LockBottom") {
        RequireNeutral(p, !PropertyAs<bool>(p));
    } else if (name == "TabPanelIndex") {
        RequireNeutral(p, PropertyAs<std::int32_t>(p) == 0);
    } else if (name == "InitialParent") {
        RequireNeutral(p, PropertyAs<std::string>(p).empty());
    } else if (name == "AutoDeactivate") {
        PropertyAs<bool>(p);  // controls always dim with an inactive window
    } else {
        return false;
    }
    return true;
}

// TextControl --------------------------------------------------------------

void TextControl::SetTextSize(double size) {
    textSize_ = size;
    UpdateFont();
}

bool TextControl::ApplyProperty(const Property& p) {
    const std::string_view name = p.name;
    if (name == "TextFont") {
        textFont_ = PropertyAs<std::string>(p);
    } else if (name == "Bold") {
        bold_ = PropertyAs<bool>(p);
    } else if (name == "Italic") {
        italic_ = PropertyAs<bool>(p);
    } else if (name == "Underline") {
        underline_ = PropertyAs<bool>(p);
    } else {
        return Control::ApplyProperty(p);
    }
    UpdateFont();
    return true;
}

void TextControl::UpdateFont() {
    QFont font = PlatformFont(textFont_);
    // Sizes are in the window's units, so text keeps its place in the design.
    if (textSize_ > 0) font.setPixelSize(static_cast<int>(textSize_ + 0.5));
    font.setBold(bold_);
    font.setItalic(italic_);
    font.setUnderline(underline_);
    FontChanged(font);
}

// Label --------------------------------------------------------------------

class LabelView final : public QLabel {
public:
    LabelView(Label& label, QWidget* parent) : QLabel(parent), label_(label) {
        setTextFormat(Qt::PlainText);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        designFont_ = font();
    }

    void SetDesignFont(const QFont& font) {
        designFont_ = font;
        Refit();
    }

    void SetPlainText(const QString& text) {
        setText(text);
        Refit();
    }

    // A single line that is wider than the label is drawn a little smaller
    // until it fits, so that nothing is cut off where the desktop's fonts are
    // wider than the design's.
    void Refit() {
        QFont fitted = designFont_;
        if (!wordWrap()) {
            const int room = contentsRect().width();
            const auto tooWide = [&] { return QFontMetrics(fitted).horizontalAdvance(text()) > room; };
            if (fitted.pixelSize() > 0) {
                while (fitted.pixelSize() > kSmallestPixelSize && tooWide()) fitted.setPixelSize(fitted.pixelSize() - 1);
            } else {
                while (fitted.pointSizeF() > kSmallestPixelSize && tooWide()) fitted.setPointSizeF(fitted.pointSizeF() - 0.5);
            }
        }
        setFont(fitted);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Refit();
    }

    void enterEvent(QEnterEvent* event) override {
        QLabel::enterEvent(event);
        if (label_.MouseEnter) label_.Dispatch([this] { label_.MouseEnter(label_); });
    }

    void leaveEvent(QEvent* event) override {
        QLabel::leaveEvent(event);
        if (label_.MouseExit) label_.Dispatch([this] { label_.MouseExit(label_); });
    }

    void mousePressEvent(QMouseEvent* event) override {
        tracking_ = false;
        if (event->button() != Qt::LeftButton || !label_.MouseDown) return QLabel::mousePressEvent(event);
        const QPoint at = event->position().toPoint();
        label_.Dispatch([&] { tracking_ = label_.MouseDown(label_, at.x(), at.y()); });
        event->setAccepted(tracking_);
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !tracking_) return QLabel::mouseReleaseEvent(event);
        tracking_ = false;
        const QPoint at = event->position().toPoint();
        if (label_.MouseUp) label_.Dispatch([&] { label_.MouseUp(label_, at.x(), at.y()); });
    }

private:
    static constexpr int kSmallestPixelSize = 8;
    Label& label_;
    QFont designFont_;
    bool tracking_ = false;
};

Label::Label(const ControlSite& site, std::string name) : TextControl(site, std::move(name)) {
    SetWidget(new LabelView(*this, Parent()));
}

QLabel* Label::LabelWidget() const {
    return static_cast<QLabel*>(Widget());
}

void Label::SetText(std::string text) {
    text_ = std::move(text);
    static_cast<LabelView*>(Widget())->SetPlainText(FromUtf8(text_));
}

void Label::SetTextColor(Color color) {
    textColor_ = color;
    QPalette palette = LabelWidget()->palette();
    palette.setColor(QPalette::WindowText, ToQColor(color));
    LabelWidget()->setPalette(palette);
}

void Label::FontChanged(const QFont& font) {
    static_cast<LabelView*>(Widget())->SetDesignFont(font);
}

bool Label::ApplyProperty(const Property& p) {
    const std::string_view name = p.name;
    QLabel* w = LabelWidget();
    if (name == "Text") {
        SetText(PropertyAs<std::string>(p));
    } else if (name == "TextColor") {
        SetTextColor(PropertyAs<Color>(p));
    } else if (name == "TextAlign") {
        static constexpr Qt::Alignment kAlign[] = {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
        const std::int32_t align = PropertyAs<std::int32_t>(p);  // 0 default, 1 left, 2 centre, 3 right
        RequireNeutral(p, align >= 0 && align <= 3);
        w->setAlignment(kAlign[align] | Qt::AlignVCenter);
    } else if (name == "Multiline") {
        w->setWordWrap(PropertyAs<bool>(p));
    } else if (name == "Selectable") {
        w->setTextInteractionFlags(PropertyAs<bool>(p) ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    } else if (name == "Transparent") {
        PropertyAs<bool>(p);  // a label always shows its window's background
    } else if (name == "DataSource" || name == "DataField") {
        RequireNeutral(p, PropertyAs<std::string>(p).empty());
    } else {
        return TextControl::ApplyProperty(p);
    }
    return true;
}

// PushButton ---------------------------------------------------------------

PushButton::PushButton(const ControlSite& site, std::string name) : TextControl(site, std::move(name)) {
    auto* button = new QPushButton(Parent());
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, [this] {
        if (Action) Dispatch([this] { Action(*this); });
    });
    SetWidget(button);
}

QPushButton* PushButton::ButtonWidget() const {
    return static_cast<QPushButton*>(Widget());
}

void PushButton::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    ButtonWidget()->setText(PlainCaption(caption_));
}

void PushButton::FontChanged(const QFont& font) {
    ButtonWidget()->setFont(font);
}

bool PushButton::ApplyProperty(const Property& p) {
    const std::string_view name = p.name;
    if (name == "Caption") {
        SetCaption(PropertyAs<std::string>(p));
    } else if (name == "Default") {
        default_ = PropertyAs<bool>(p);
        ButtonWidget()->setDefault(default_);
    } else if (name == "Cancel") {
        cancel_ = PropertyAs<bool>(p);
        ButtonWidget()->setProperty("cancelButton", cancel_);
    } else if (name == "ButtonStyle") {
        RequireNeutral(p, PropertyAs<std::int32_t>(p) == 0);  // the plain push button
    } else {
        return TextControl::ApplyProperty(p);
    }
    return true;
}

// Canvas -------------------------------------------------------------------

class CanvasWidget final : public QWidget {
public:
    CanvasWidget(Canvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!canvas_.backdrop_) return;
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), canvas_.backdrop_->Image());
    }

private:
    Canvas& canvas_;
};

namespace {

// A canvas is a picture to assistive technology, not an empty panel.
QAccessibleInterface* CanvasAccessible(const QString&, QObject* object) {
    if (auto* canvas = dynamic_cast<CanvasWidget*>(object)) return new QAccessibleWidget(canvas, QAccessible::Graphic);
    return nullptr;
}

}  // namespace

Canvas::Canvas(const ControlSite& site, std::string name) : Control(site, std::move(name)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&CanvasAccessible);
        return true;
    }();
    (void)factoryInstalled;
    SetWidget(new CanvasWidget(*this, Parent()));
}

void Canvas::SetBackdrop(const Ref<Picture>& picture) {
    backdrop_ = picture;
    Widget()->update();
}

bool Canvas::ApplyProperty(const Property& p) {
    const std::string_view name = p.name;
    if (name == "AcceptFocus") {
        Widget()->setFocusPolicy(PropertyAs<bool>(p) ? Qt::StrongFocus : Qt::NoFocus);
    } else if (name == "UseFocusRing" || name == "AcceptTabs" || name == "DoubleBuffer" ||
               name == "EraseBackground") {
        PropertyAs<bool>(p);  // Qt always double-buffers and erases; focus is AcceptFocus's
    } else {
        return Control::ApplyProperty(p);
    }
    return true;
}

}  // namespace platform
