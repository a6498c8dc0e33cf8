#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QWidget>

#include <memory>

// A non-visual part of a form (a port, a timer, a helper) that wants to
// finish its set-up once everything the stored layout describes exists,
// names of other components included.
class TComponent : public QObject
{
public:
    using QObject::QObject;

    // Run by the form once its whole layout is loaded, before OnCreate.
    virtual void Loaded() {}
};

class TForm : public QWidget
{
    Q_OBJECT
public:
    explicit TForm(QWidget *owner) : QWidget(owner) {}

    // Finishes what the stored layout describes beyond Qt's own properties
    // (pixel font heights, the window's place), lets its components finish
    // loading and raises OnCreate.
    void Created();

signals:
    void OnCreate();
    void OnClose();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void FitOuterSize();
    void Paint();

    QSize outerSize_;
    bool fitted_ = false;
    QElapsedTimer sincePaint_;
    QBasicTimer paintLater_;
};

// Builds a form from its stored layout: the layout creates the controls and
// binds the handlers by name, which only works once the form's own class is
// complete, hence after construction.
template <class T>
std::unique_ptr<T> MakeForm()
{
    auto form = std::make_unique<T>(nullptr);
    form->setupUi(form.get());
    form->Created();
    return form;
}
