#pragma once

#include "text.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

// The operations every visual control offers, spelled as the window code
// calls them. Members of a class template are only instantiated when used,
// so a control without a caption simply never calls GetText.
template <class Base>
class TControl : public Base
{
public:
    using Base::Base;
    std::string GetText() const { return FromQString(this->text()); }
    void SetText(const std::string &text) { this->setText(ToQString(text)); }
    void SetVisible(bool visible) { this->setVisible(visible); }
    void SetEnabled(bool enabled) { this->setEnabled(enabled); }
};

// Labels size themselves to their caption, so a long message or a negative
// number is never clipped. The caption changes at once; the size follows
// once per turn of the event loop, before the label is painted, so a burst
// of input that sets a caption a thousand times costs one layout.
class TLabel : public TControl<QLabel>
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE SetCaption)
public:
    explicit TLabel(QWidget *owner) : TControl<QLabel>(owner) {}
    void SetText(const std::string &text) { SetCaption(ToQString(text)); }
    void SetCaption(const QString &caption);

protected:
    void changeEvent(QEvent *event) override;

private:
    void FitLater();

    bool fitPending_ = false;
};

class TStaticText : public TLabel
{
public:
    using TLabel::TLabel;
};

// A push button that Enter and Return press when it has the focus, as Space
// does; Qt does that only for buttons in dialogs.
class TButton : public TControl<QPushButton>
{
public:
    explicit TButton(QWidget *owner) : TControl<QPushButton>(owner) {}

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// An integer field with up/down buttons. Equal bounds mean "not bounded": any
// signed 32-bit value is accepted. The operator may type any integer, beyond
// a bound or with a minus sign, and sees it as typed. A number within the
// bounds is the value as soon as it is typed (a port's tooltip follows it);
// one beyond them is brought to the nearest bound when the typing is taken:
// on leaving the field, on Enter, on a step, and whenever GetValue reads it.
// Text that is no number (nothing, a lone minus) leaves the value the field
// last held.
class TCSpinEdit : public TControl<QSpinBox>
{
    Q_OBJECT
    Q_PROPERTY(int MinValue READ GetMinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ GetMaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Value READ value WRITE SetValue)
public:
    explicit TCSpinEdit(QWidget *owner);

    int GetMinValue() const { return minValue_; }
    int GetMaxValue() const { return maxValue_; }
    void SetMinValue(int value);
    void SetMaxValue(int value);
    void SetValue(int value) { setValue(value); }

    // Takes what is typed right now, even before the field loses focus, and
    // brings it within the bounds first.
    int GetValue();

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;

private:
    void ApplyBounds();

    int minValue_ = 0;
    int maxValue_ = 0;
};

// Ticks every second from creation, as a design-time timer does.
class TTimer : public QTimer
{
public:
    explicit TTimer(QObject *owner);
};
