#include "application.h"

#include "session_end.h"

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>

#include <cstdio>
#include <string>

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

// Qt keeps referring to the arguments it was started with, and takes the
// name the window manager files the windows under from the first one.
int argCount = 1;
std::string programName;
char *arguments[] = {nullptr, nullptr};

TApplication theApplication;

} // namespace

TApplication *const Application = &theApplication;

TApplication::~TApplication()
{
    // Reached only when the entry failed before the loop ended. This runs
    // after main, when Qt's own globals may already be gone, so what is left
    // is handed to the system that is ending the process anyway.
    for (auto &form : forms_)
        (void)form.release();
    (void)qt_.release();
}

void TApplication::Initialize()
{
    if (qt_)
        return;
    programName = ProgramResource.name;
    arguments[0] = programName.data();
    qt_ = std::make_unique<GuardedApplication>(argCount, arguments);
    QApplication::setApplicationName(QString::fromUtf8(ProgramResource.name));
    // Lets a Wayland desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(ProgramResource.desktopId));
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(QImage(ProgramResource.icon))));
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
    if (qt_) {
        const TSessionEnd sessionEnd(nullptr, [this] { EndSession(); });
        qt_->exec();
    }
    Finalize();
}

void TApplication::EndSession()
{
    for (auto &form : forms_)
        form->close();
    // Also ends a loop that a message box runs inside the main one.
    QCoreApplication::quit();
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
        QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok);
        box.exec();
    } else {
        std::fprintf(stderr, "%s: %s\n", ProgramResource.name, qPrintable(text));
    }
    boxShowing_ = false;
}
