#include "controls.h"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>
#include <climits>
#include <utility>

void TLabel::SetCaption(const QString &caption)
{
    setText(caption);
    FitLater();
}

void TLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitLater();
}

void TLabel::FitLater()
{
    if (std::exchange(fitPending_, true))
        return;
    // An ordinary posted call runs before the low-priority request that
    // paints the window, so no caption is ever shown clipped. It also spares
    // a form under construction the fits of the fonts and captions its
    // layout sets one after another.
    QMetaObject::invokeMethod(
        this,
        [this] {
            fitPending_ = false;
            adjustSize();
        },
        Qt::QueuedConnection);
}

void TButton::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    TControl<QPushButton>::keyPressEvent(event);
}

TCSpinEdit::TCSpinEdit(QWidget *owner) : TControl<QSpinBox>(owner)
{
    // Text typed out of range is pulled to the nearest bound rather than
    // silently replaced by the old value.
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    ApplyBounds();
}

void TCSpinEdit::SetMinValue(int value)
{
    minValue_ = value;
    ApplyBounds();
}

void TCSpinEdit::SetMaxValue(int value)
{
    maxValue_ = value;
    ApplyBounds();
}

void TCSpinEdit::ApplyBounds()
{
    if (minValue_ == maxValue_)
        setRange(INT_MIN, INT_MAX);
    else
        setRange(minValue_, maxValue_);
}

int TCSpinEdit::GetValue()
{
    bool ok = false;
    const qlonglong typed = cleanText().trimmed().toLongLong(&ok);
    if (ok)
        setValue(int(std::clamp<qlonglong>(typed, minimum(), maximum())));
    return value();
}

TTimer::TTimer(QObject *owner) : QTimer(owner)
{
    setInterval(1000);
    start();
}
