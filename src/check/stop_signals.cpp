#include "stop_signals.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int sockets[2] = {-1, -1}; // [0] written by the handler, [1] read by the loop

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full socket already holds a wake-up, so a lost byte changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(sockets[0], &byte, 1);
    errno = saved;
}

void Handle(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

} // namespace

TStopSignals::TStopSignals(QObject *owner) : QObject(owner)
{
    // Without the pair the signals keep their default and end the program
    // at once; the locks it leaves then name a dead process, which every
    // program takes over.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    notifier_ = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TStopSignals::Read);
    Handle(OnSignal);
}

TStopSignals::~TStopSignals()
{
    if (!notifier_)
        return;
    Handle(SIG_DFL);
    delete notifier_;
    ::close(sockets[0]);
    ::close(sockets[1]);
    sockets[0] = sockets[1] = -1;
}

void TStopSignals::Read()
{
    char bytes[16];
    while (::read(sockets[1], bytes, sizeof bytes) > 0) {
    }
    emit Raised();
}
