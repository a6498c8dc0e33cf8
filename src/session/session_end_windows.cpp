#include "session_end.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWinEventNotifier>

#include <atomic>

#include <windows.h>

namespace {

// A console's control events arrive on a thread of their own, which may
// only set an event the event loop watches. Made once and kept, so that a
// late control event never sets a handle that has been closed and reused.
HANDLE WakeUp()
{
    static const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Whether the first end of the session is still to be heard.
std::atomic<bool> listening{false};

// Windows ends the process once the handler of a closed console, a logoff
// or a shutdown returns, and gives it a few seconds at most: meanwhile the
// program ends by itself.
constexpr DWORD kEndingMs = 10'000;

BOOL WINAPI OnControl(DWORD event)
{
    if (!listening.exchange(false))
        return FALSE; // the default: the process ends
    ::SetEvent(WakeUp());
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::Sleep(kEndingMs);
    return TRUE;
}

// A program with windows hears the end of the session as WM_ENDSESSION, and
// is ended as soon as its windows have answered it: `end` runs there and
// then, before Qt goes on to quit.
class EndSessionFilter : public QObject, public QAbstractNativeEventFilter
{
public:
    EndSessionFilter(QObject *owner, std::function<void()> end) : QObject(owner), end_(std::move(end))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const MSG *msg = static_cast<const MSG *>(message);
        if (type == "windows_generic_MSG" && msg->message == WM_ENDSESSION && msg->wParam
            && listening.exchange(false))
            end_();
        return false;
    }

private:
    std::function<void()> end_;
};

} // namespace

TSessionEnd::TSessionEnd(QObject *owner, std::function<void()> end) : QObject(owner), end_(std::move(end))
{
    if (!WakeUp() || !QCoreApplication::instance())
        return;
    auto *notifier = new QWinEventNotifier(WakeUp(), this);
    listener_ = notifier;
    connect(notifier, &QWinEventNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        end_();
    });
    new EndSessionFilter(this, [this] { end_(); });
    listening = true;
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

TSessionEnd::~TSessionEnd()
{
    if (!listener_)
        return;
    listening = false;
    ::SetConsoleCtrlHandler(OnControl, FALSE);
}

// Windows has no signal for a pipe whose reader has gone: the write fails,
// and the writer hears it.
void SurviveBrokenPipes() {}
