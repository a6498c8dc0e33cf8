#pragma once

// A thin layer that gives the window code the toolkit vocabulary it is written
// in (forms, labels, spin edits, an application object) on top of Qt Widgets.
// It adds only what the window relies on; everything else is plain Qt.

#include <QApplication>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Captions are 8-bit text. Every byte maps to one character (Latin-1), so no
// byte sequence is ever rejected or altered on its way to the screen.
QString ToQString(const std::string &text);
std::string FromQString(const QString &text);

std::string IntToStr(int value);

class Exception : public std::exception
{
public:
    explicit Exception(std::string message);
    const std::string &Message() const noexcept { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

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
// number is never clipped. Inside a TCaptionBatch only the last caption is
// laid out, while reading the caption back gives the newest one at once.
class TLabel : public TControl<QLabel>
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ GetCaption WRITE SetCaption)
public:
    explicit TLabel(QWidget *owner);
    std::string GetText() const { return FromQString(GetCaption()); }
    void SetText(const std::string &text) { SetCaption(ToQString(text)); }
    QString GetCaption() const { return pending_ ? *pending_ : text(); }
    void SetCaption(const QString &caption);

protected:
    void changeEvent(QEvent *event) override;

private:
    void ApplyCaption(const QString &caption);
    void FitCaption();

    std::optional<QString> pending_;
};

class TStaticText : public TLabel
{
public:
    using TLabel::TLabel;
};

class TButton : public TControl<QPushButton>
{
public:
    explicit TButton(QWidget *owner) : TControl<QPushButton>(owner) {}
};

// An integer field with up/down buttons. Equal bounds mean "not bounded": any
// signed 32-bit value is accepted.
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

class TForm : public QWidget
{
    Q_OBJECT
public:
    explicit TForm(QWidget *owner);

    // Finishes what the stored layout describes beyond Qt's own properties
    // (pixel font heights, the window's place, the ports' tooltips) and
    // raises OnCreate.
    void Created();
    bool IsCreated() const { return created_; }

signals:
    void OnCreate();
    void OnClose();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void FitOuterSize();
    void Paint();

    QSize outerSize_;
    bool created_ = false;
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

class TApplication
{
public:
    using MessageBox = std::function<void(const QString &text)>;

    TApplication() = default;
    TApplication(const TApplication &) = delete;
    TApplication &operator=(const TApplication &) = delete;
    ~TApplication();

    void Initialize();

    template <class T>
    void CreateForm(T *&reference)
    {
        auto form = MakeForm<T>();
        reference = form.get();
        Adopt(std::move(form));
    }

    // Runs the message loop until the main window closes, then releases the
    // windows and the toolkit.
    void Run();
    void Finalize();

    void ShowException(const Exception *exception);

    // Where exception messages go; a message box unless replaced.
    void SetMessageBox(MessageBox messageBox);

private:
    void Adopt(std::unique_ptr<QWidget> form);

    std::unique_ptr<QApplication> qt_;
    std::vector<std::unique_ptr<QWidget>> forms_;
    MessageBox messageBox_;
    bool boxShowing_ = false;
};

extern TApplication *const Application;
