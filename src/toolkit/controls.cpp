#include "controls.h"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>
#include <climits>
#include <optional>
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

namespace {

// The integer the text spells, held within 64 bits so that any run of digits
// still has a nearest bound; nothing when the text spells no integer.
std::optional<qlonglong> Integer(const QString &input)
{
    QStringView text = QStringView(input).trimmed();
    const bool negative = text.startsWith(u'-');
    if (negative)
        text = text.sliced(1);
    const auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), digit))
        return std::nullopt;
    bool fits = false;
    const qlonglong magnitude = text.toLongLong(&fits);
    if (!fits)
        return negative ? LLONG_MIN : LLONG_MAX;
    return negative ? -magnitude : magnitude;
}

} // namespace

TCSpinEdit::TCSpinEdit(QWidget *owner) : TControl<QSpinBox>(owner)
{
    // The field shows and reads plain digits, as the window's labels do,
    // whatever language the desktop speaks.
    setLocale(QLocale::c());
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
    // Taken even while the field still has the focus, so a click straight
    // from the field sends the value the field is about to show.
    interpretText();
    return value();
}

QValidator::State TCSpinEdit::validate(QString &input, int &) const
{
    if (const std::optional<qlonglong> typed = Integer(input))
        return *typed >= minimum() && *typed <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    // A number on its way: nothing typed yet, or only its sign.
    const QString bare = input.trimmed();
    return bare.isEmpty() || bare == u'-' ? QValidator::Intermediate : QValidator::Invalid;
}

void TCSpinEdit::fixup(QString &input) const
{
    const std::optional<qlonglong> typed = Integer(input);
    input = textFromValue(typed ? int(std::clamp<qlonglong>(*typed, minimum(), maximum())) : value());
}

TTimer::TTimer(QObject *owner) : QTimer(owner)
{
    setInterval(1000);
    start();
}
