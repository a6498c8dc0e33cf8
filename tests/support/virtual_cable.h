#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// One end of a virtual null-modem cable: a pseudo-terminal whose device a
// port under test opens, while the test holds the far side and sees every
// byte that crosses.
class PtyEnd
{
public:
    PtyEnd();
    ~PtyEnd();
    PtyEnd(const PtyEnd &) = delete;
    PtyEnd &operator=(const PtyEnd &) = delete;

    QString Device() const { return device_; }
    int FarSide() const { return master_; }

    void Write(const QByteArray &bytes);
    // Runs the event loop until `count` bytes came out or `ms` passed.
    QByteArray Read(qsizetype count, int ms = 2000);
    // What came out by now, after letting the event loop run for `ms`.
    QByteArray Drain(int ms = 50);
    // The far end vanishes, as when an adapter is unplugged.
    void HangUp();
    // Fills the device's outgoing line with `filler` until it takes no
    // more, as a driver whose bytes cannot leave: a port's next write then
    // waits, as it does on a real UART. (A pseudo-terminal counts nothing
    // as unsent, so this is the only way its writes wait.)
    void FillLine(char filler);

private:
    int master_ = -1;
    int slave_ = -1;
    QString device_;
};

// What a faulty cable makes of the byte at `index` of all it has carried:
// nothing, another byte, or the byte itself.
using LineFault = std::function<QByteArray(qint64 index, char byte)>;

// Copies everything that comes out of one end into the other, so a port
// pair opened on the two ends talks as over a real crossed cable; with a
// fault, as over a bad one.
class Bridge : public QObject
{
public:
    Bridge(PtyEnd &from, PtyEnd &to, LineFault fault = {});
    // Carries nothing for `ms`, then all that waited, as a stalled adapter.
    void Stall(int ms);

private:
    PtyEnd &to_;
    LineFault fault_;
    qint64 carried_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// A private COM-number folder for the test: ports find their devices
// through the links made here, and the user's own mapping is never touched.
class ComLinks
{
public:
    ComLinks();
    ~ComLinks();
    void Map(int number, const QString &target);
    QString Folder() const;

private:
    QTemporaryDir home_;
    QByteArray saved_;
    bool hadSaved_;
};

// Where every UUCP-style program looks for the lock of a device.
QString LockPath(const QString &device);

class TCommPort;
// Why `port` last failed, in the words its tooltip would use.
QString FailureText(const TCommPort &port);

// CPU time (user + system) this process has used, in milliseconds.
double ProcessCpuMs();
// A line of /proc/self/status in kB, such as "VmRSS:".
qint64 StatusKb(const char *field);

// Lets the event loop run until `done` holds or `ms` passed; polls every
// millisecond, so a long table of small steps stays quick.
bool WaitFor(const std::function<bool()> &done, int ms = 5000);
