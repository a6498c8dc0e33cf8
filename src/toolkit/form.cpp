#include "form.h"

#include <QCloseEvent>
#include <QFont>
#include <QTimer>

#include <cstdlib>

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

    const QVariant left = property("Left");
    const QVariant top = property("Top");
    if (left.isValid() && top.isValid())
        move(left.toInt(), top.toInt());
    outerSize_ = size();

    // Components may refer to each other by name, so none finishes before
    // all of them exist.
    for (QObject *child : findChildren<QObject *>())
        if (auto *component = dynamic_cast<TComponent *>(child))
            component->Loaded();
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
