#include "form.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cstdlib>

namespace {

// A window keeps the place and size its layout gives it wherever the work
// area can show all of it there. Where it cannot (a laptop screen, large
// fonts, a panel) it moves the least it must, never off the top or left edge.
// A window larger than the work area (a high scale factor, a small screen)
// also shrinks to it: its title bar, close button included, stays on screen
// to move and close it by.
QRect Placed(const QRect &outer)
{
    const QScreen *screen = QGuiApplication::screenAt(outer.topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return outer;
    const QRect area = screen->availableGeometry();
    const QSize size = outer.size().boundedTo(area.size());
    return {QPoint(std::max(std::min(outer.x(), area.x() + area.width() - size.width()), area.x()),
                   std::max(std::min(outer.y(), area.y() + area.height() - size.height()), area.y())),
            size};
}

} // namespace

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

    // The layout's size is the outer one, frame included; the frame is
    // taken off the inside once the window manager has made it.
    const QVariant left = property("Left");
    const QVariant top = property("Top");
    if (left.isValid() && top.isValid()) {
        const QRect placed = Placed({QPoint(left.toInt(), top.toInt()), size()});
        resize(placed.size());
        move(placed.topLeft());
    }
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
constexpr int kRefreshMs = 8;

} // namespace

bool TForm::event(QEvent *event)
{
    if (event->type() != QEvent::UpdateRequest)
        return QWidget::event(event);
    // A flood of input can change a caption thousands of times a second, and
    // every repaint costs a trip to the display server. A change after a
    // quiet spell is painted at once; during a flood the window is painted
    // once a frame, always with the newest captions.
    if (sincePaint_.isValid() && sincePaint_.elapsed() < kRefreshMs) {
        if (!paintLater_.isActive())
            paintLater_.start(int(kRefreshMs - sincePaint_.elapsed()), Qt::PreciseTimer, this);
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
    FitOuterSize();
}

void TForm::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    FitOuterSize();
}

void TForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FitOuterSize();
}

void TForm::FitOuterSize()
{
    // A window manager frames the window only after it is mapped, and
    // reframes it by moving it; the first move or resize that shows a frame
    // is the moment to give the frame its room. Once is enough: later
    // frames (maximised, say) belong to the user.
    if (fitted_ || !outerSize_.isValid() || !isVisible())
        return;
    const QSize frame = frameGeometry().size() - size();
    if (frame.width() <= 0 && frame.height() <= 0)
        return;
    fitted_ = true;
    resize(outerSize_ - frame);
}
