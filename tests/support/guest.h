#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A Linux guest under QEMU whose serial ports are real drivers' ports, for
// what a pseudo-terminal cannot show: modem lines, a driver's own line
// settings, a USB adapter that is pulled out. Commands run in it as on a
// shell; the console carries them and what they print.
class Guest
{
public:
    // What tests/guest/prepare made: the kernels, the initramfs, and the
    // accelerator a boot showed to work here.
    struct Images
    {
        QString cloudKernel;
        QString genericKernel;
        QString initramfs;
        QString accel;
    };
    // Runs the script on the programs the guest is to hold; false, with the
    // script's own words in `error`, when it could not.
    static bool Prepare(const QString &script, const QString &outDir, const QStringList &programs, Images &images,
                        QString &error);

    enum class Rig {
        // Debian's cloud kernel with ttyS1 and ttyS2, two 16550 UARTs joined
        // back to back.
        Uarts,
        // Debian's generic kernel with an FTDI adapter on an xHCI controller
        // (ttyUSB0) and a 16550 UART (ttyS1); the test joins their far ends,
        // so what one sends the other receives.
        Adapter,
    };

    struct Result
    {
        bool finished = false; // ended within its time, with the guest alive
        int status = -1;
        QString output; // lines as the guest printed them, "\n" between
    };

    Guest(const Images &images, Rig rig);
    ~Guest();
    Guest(const Guest &) = delete;
    Guest &operator=(const Guest &) = delete;

    Rig GetRig() const { return rig_; }
    // Starts QEMU and waits until the guest's init is ready for commands;
    // false, with the console and QEMU's own words in `error`, when it did
    // not get there within `ms`.
    bool Boot(int ms, QString &error);
    // What the guest printed while it booted: its kernel and the driver of
    // each port.
    QString BootOutput() const { return bootOutput_.join(QLatin1Char('\n')); }

    // Runs a shell command line in the guest, for at most `ms`. A line
    // "@@pull" from it pulls the adapter out, "@@plug" plugs it back in.
    Result Run(const QString &command, int ms);

private:
    // Reads console lines that arrived until `marker` begins one, or `ms`
    // passed, or QEMU ended; each line is acted on and kept in `lines`.
    bool ReadUntil(const QString &marker, int ms, QStringList &lines, QString &markerLine);
    // The monitor's next line, events kept in events_; false once `deadline`
    // passed without one.
    bool NextAnswer(QJsonObject &answer, const QDeadlineTimer &deadline);
    bool Qmp(const QJsonObject &command, QString &error);
    bool Pull(QString &report);
    bool Plug(QString &report);
    // The console so far and QEMU's own complaints, to say why.
    QString Trouble();

    Images images_;
    Rig rig_;
    QTemporaryDir folder_;
    QProcess qemu_;
    QByteArray console_; // not yet read as lines
    QByteArray seen_;    // all of it, to say why something failed
    QStringList bootOutput_;
    QLocalSocket qmp_;
    QByteArray qmpRead_;
    QStringList events_;
    std::unique_ptr<QLocalSocket> adapter_;
    std::unique_ptr<QLocalSocket> uart_;
};
