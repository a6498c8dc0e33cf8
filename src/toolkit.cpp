#include "toolkit.h"

#include "caption_batch.h"
#include "port_hints.h"
#include "comloop.xpm"

#include <QCloseEvent>
#include <QFont>
#include <QMessageBox>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

QString ToQString(const std::string &text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::string FromQString(const QString &text)
{
    return text.toLatin1().toStdString();
}

std::string IntToStr(int value)
{
    return std::to_string(value);
}

Exception::Exception(std::string message) : message_(std::move(message)) {}

TLabel::TLabel(QWidget *owner) : TControl<QLabel>(owner) {}

void TLabel::SetCaption(const QString &caption)
{
    if (!TCaptionBatch::Active()) {
        ApplyCaption(caption);
        return;
    }
    if (!pending_)
        TCaptionBatch::Defer(this, [this] { ApplyCaption(*std::exchange(pending_, std::nullopt)); });
    pending_ = caption;
}

void TLabel::ApplyCaption(const QString &caption)
{
    setText(caption);
    FitCaption();
}

void TLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitCaption();
}

void TLabel::FitCaption()
{
    // While its form is still being built, a label's caption and font change
    // several times over (the layout's font, the form's pixel height, its
    // own); each fit would load a font that is never shown. The form fits
    // every label once it is complete.
    if (const auto *form = qobject_cast<const TForm *>(window()); form && !form->IsCreated())
        return;
    adjustSize();
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

TForm::TForm(QWidget *owner) : QWidget(owner) {}

void TForm::Created()
{
    // Font heights are stored in pixels (negative: character height), which
    // Qt's designer format cannot say; the layout keeps them as FontHeight.
    QList<QWidget *> widgets = findChildren<QWidget *>();
    widgets.prepend(this);
    for (QWidget *widget : widgets) {
        const QVariant height = widget->property("FontHeight");
        if (!height.isValid())
            continue;
        QFont font = widget->font();
        font.setPixelSize(std::abs(height.toInt()));
        widget->setFont(font);
    }
    created_ = true;
    for (TLabel *label : findChildren<TLabel *>())
        label->adjustSize();

    const QVariant left = property("Left");
    const QVariant top = property("Top");
    if (left.isValid() && top.isValid())
        move(left.toInt(), top.toInt());
    outerSize_ = size();

    AttachPortHints(this);
    emit OnCreate();
}

namespace {

// About a screen refresh: painting more often shows nothing more.
constexpr int kFrameMs = 8;

} // namespace

bool TForm::event(QEvent *event)
{
    if (event->type() != QEvent::UpdateRequest)
        return QWidget::event(event);
    // A flood of input can change a caption thousands of times a second, and
    // every repaint costs a trip to the display server. A change after a
    // quiet spell is painted at once; during a flood the window is painted
    // once a frame, always with the newest captions.
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kFrameMs) {
        if (!paintLater_.isActive())
            paintLater_.start(int(kFrameMs - sincePaint_.elapsed()), Qt::PreciseTimer, this);
        return true;
    }
    Paint();
    return true;
}

void TForm::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != paintLater_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    paintLater_.stop();
    Paint();
}

void TForm::Paint()
{
    sincePaint_.start();
    QEvent request(QEvent::UpdateRequest);
    QWidget::event(&request);
}

void TForm::closeEvent(QCloseEvent *event)
{
    emit OnClose();
    QWidget::closeEvent(event);
}

void TForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!fitted_) {
        fitted_ = true;
        // The window manager adds its frame only after the window is mapped.
        QTimer::singleShot(0, this, &TForm::FitOuterSize);
    }
}

void TForm::FitOuterSize()
{
    const QSize frame = frameGeometry().size() - size();
    if (outerSize_.isValid() && (frame.width() > 0 || frame.height() > 0))
        resize(outerSize_ - frame);
}

namespace {

// Qt must not see an exception cross its event loop, so every event is
// delivered inside a guard that reports what escaped a handler and goes on.
class GuardedApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const Exception &e) {
            Application->ShowException(&e);
        } catch (const std::exception &e) {
            const Exception wrapped(e.what());
            Application->ShowException(&wrapped);
        } catch (...) {
            const Exception wrapped("");
            Application->ShowException(&wrapped);
        }
        return false;
    }
};

int argCount = 1;
char programName[] = "comloop";
char *arguments[] = {programName, nullptr};

TApplication theApplication;

} // namespace

TApplication *const Application = &theApplication;

TApplication::~TApplication()
{
    // Reached only when the entry failed before the loop ended. This runs
    // after main, when Qt's own globals may already be gone, so what is left
    // is handed to the system that is ending the process anyway. No port can
    // be open here: ports open only from the running loop.
    for (auto &form : forms_)
        (void)form.release();
    (void)qt_.release();
}

void TApplication::Initialize()
{
    if (qt_)
        return;
    qt_ = std::make_unique<GuardedApplication>(argCount, arguments);
    QApplication::setApplicationName(QStringLiteral("comloop"));
    // Lets a Wayland desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.comloop.Comloop"));
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(QImage(comloop_xpm))));
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
}

void TApplication::Adopt(std::unique_ptr<QWidget> form)
{
    forms_.push_back(std::move(form));
}

void TApplication::Run()
{
    if (!forms_.empty())
        forms_.front()->show();
    if (qt_)
        qt_->exec();
    Finalize();
}

void TApplication::Finalize()
{
    forms_.clear();
    qt_.reset();
}

void TApplication::SetMessageBox(MessageBox messageBox)
{
    messageBox_ = std::move(messageBox);
}

void TApplication::ShowException(const Exception *exception)
{
    // A handler that keeps failing (a timer, say) must not pile up boxes:
    // while one is open, further reports are dropped.
    if (boxShowing_)
        return;
    boxShowing_ = true;
    const QString text = ToQString(exception ? exception->Message() : std::string());
    if (messageBox_) {
        messageBox_(text);
    } else if (QApplication::instance()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("comloop"), text, QMessageBox::Ok);
        box.exec();
    } else {
        std::fprintf(stderr, "comloop: %s\n", qPrintable(text));
    }
    boxShowing_ = false;
}
