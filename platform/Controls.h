#pragma once

#include <QFont>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/EventHost.h"
#include "platform/Properties.h"
#include "platform/Ref.h"

class QLabel;
class QPushButton;

namespace platform {

class Picture;

// Where the window that adds a control puts it: the widget its on-screen form
// stands in (the window's content area), and the runtime its events go to.
struct ControlSite {
    QWidget* parent;
    const EventHost& events;
};

// A control inside a window, found by its Name. Its on-screen form is a Qt
// widget in the window's content area, placed by Left, Top, Width and Height.
class Control {
public:
    Control(const ControlSite& site, std::string name);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const { return name_; }
    std::int32_t TabIndex() const { return tabIndex_; }

    // Applies a design property list, in order.
    void SetProperties(const PropertyList& properties);

    // The name by which assistive technology (a screen reader) reads the
    // control, for one that shows no text of its own; empty: none.
    std::string AccessibleName() const;
    void SetAccessibleName(const std::string& name);

    QWidget* Widget() const { return widget_; }

protected:
    // Takes over the control's Qt widget (a child of the window's content).
    void SetWidget(QWidget* widget);
    QWidget* Parent() const { return parent_; }
    // Runs an event handler of the control's as program code on behalf of
    // the event.
    void Dispatch(const std::function<void()>& handler) const { events_.dispatch(handler); }
    // Applies one design property; false when the control has no such property.
    virtual bool ApplyProperty(const Property& property);

private:
    QPointer<QWidget> parent_;
    const EventHost& events_;
    std::string name_;
    QPointer<QWidget> widget_;
    std::int32_t tabIndex_ = 0;
};

// A control that draws text: font, size and style.
class TextControl : public Control {
public:
    using Control::Control;

    // The text size in the window's units (pixels); 0 keeps the default size.
    void SetTextSize(double size);
    double TextSize() const { return textSize_; }
    // The framework's FontUnits code; 0, the default, measures in pixels.
    void SetTextUnit(std::int32_t unit) { textUnit_ = unit; }

protected:
    bool ApplyProperty(const Property& property) override;
    virtual void FontChanged(const QFont& font) = 0;

private:
    void UpdateFont();

    std::string textFont_ = "System";
    double textSize_ = 0;
    std::int32_t textUnit_ = 0;
    bool bold_ = false;
    bool italic_ = false;
    bool underline_ = false;
};

// Static text. Text gives back exactly the bytes last written; they are shown
// as plain text, read as UTF-8 (invalid bytes show as U+FFFD).
class Label : public TextControl {
public:
    Label(const ControlSite& site, std::string name);

    const std::string& Text() const { return text_; }
    void SetText(std::string text);
    Color TextColor() const { return textColor_; }
    void SetTextColor(Color color);

    // Mouse events. MouseDown returning true makes the label receive the
    // MouseUp of that press, wherever the button is released.
    std::function<bool(Label&, std::int32_t x, std::int32_t y)> MouseDown;
    std::function<void(Label&, std::int32_t x, std::int32_t y)> MouseUp;
    std::function<void(Label&)> MouseEnter;
    std::function<void(Label&)> MouseExit;

    QLabel* LabelWidget() const;

protected:
    bool ApplyProperty(const Property& property) override;
    void FontChanged(const QFont& font) override;

private:
    friend class LabelView;
    std::string text_;
    Color textColor_;
};

// A push button raising Action when clicked. The window's default button
// answers the Return key, its cancel button the Escape key.
class PushButton : public TextControl {
public:
    PushButton(const ControlSite& site, std::string name);

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Default() const { return default_; }
    bool Cancel() const { return cancel_; }

    std::function<void(PushButton&)> Action;

    QPushButton* ButtonWidget() const;

protected:
    bool ApplyProperty(const Property& property) override;
    void FontChanged(const QFont& font) override;

private:
    std::string caption_;
    bool default_ = false;
    bool cancel_ = false;
};

// A drawing area that shows its Backdrop picture at its top left corner.
// Assistive technology sees it as a picture (named by its AccessibleName).
class Canvas : public Control {
public:
    Canvas(const ControlSite& site, std::string name);

    Ref<Picture> Backdrop() const { return backdrop_; }
    void SetBackdrop(const Ref<Picture>& picture);

protected:
    bool ApplyProperty(const Property& property) override;

private:
    friend class CanvasWidget;
    Ref<Picture> backdrop_;
};

// The font a design font name stands for on this platform: "System" is the
// desktop's default font; "Osaka" is a sans-serif face that renders Japanese.
QFont PlatformFont(std::string_view family);

}  // namespace platform
