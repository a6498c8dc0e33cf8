#include "session_end.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The signal handler may only do what is safe at any instant, so it writes
// one byte into a socket the event loop watches; everything else happens
// there.
int wakeUp[2] = {-1, -1};
struct sigaction previous[std::size(kSignals)];
bool taken[std::size(kSignals)] = {};

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full socket already holds a wake-up, so a byte that does not fit
    // changes nothing.
    (void)!::write(wakeUp[0], &byte, 1);
    errno = saved;
}

// Every look at or change of a signal's disposition in the program goes
// through here: a null `action` only looks.
bool Dispose(int signal, const struct sigaction *action, struct sigaction *was = nullptr)
{
    return ::sigaction(signal, action, was) == 0;
}

struct sigaction Handler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return action;
}

void GiveBack()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        if (std::exchange(taken[i], false))
            Dispose(kSignals[i], &previous[i]);
}

} // namespace

TSessionEnd::TSessionEnd(QObject *owner, std::function<void()> end) : QObject(owner), end_(std::move(end))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeUp) != 0)
        return; // no way to hear the signals: they keep their default
    auto *notifier = new QSocketNotifier(wakeUp[1], QSocketNotifier::Read, this);
    listener_ = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        char bytes[16];
        while (::read(wakeUp[1], bytes, sizeof bytes) > 0) {
        }
        notifier->setEnabled(false);
        GiveBack();
        end_();
    });
    const struct sigaction action = Handler(OnSignal);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // Started under nohup, or by a shell that ignores INT for a
        // background job: that stands.
        if (!Dispose(kSignals[i], nullptr, &previous[i]) || previous[i].sa_handler == SIG_IGN)
            continue;
        taken[i] = Dispose(kSignals[i], &action);
    }
}

TSessionEnd::~TSessionEnd()
{
    if (!listener_)
        return;
    GiveBack();
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

void SurviveBrokenPipes()
{
    const struct sigaction ignore = Handler(SIG_IGN);
    Dispose(SIGPIPE, &ignore);
}
