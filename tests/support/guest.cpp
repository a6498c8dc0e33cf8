#include "guest.h"

#include "virtual_cable.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>

namespace {

const char kReady[] = "@@ready";
const char kExit[] = "@@exit ";
const char kPull[] = "@@pull";
const char kPlug[] = "@@plug";


QJsonObject Command(const char *name, const QJsonObject &arguments = {})
{
    QJsonObject command{{QStringLiteral("execute"), QLatin1String(name)}};
    if (!arguments.isEmpty())
        command.insert(QStringLiteral("arguments"), arguments);
    return command;
}

} // namespace

bool Guest::Prepare(const QString &script, const QString &outDir, const QStringList &programs, Images &images,
                    QString &error)
{
    QProcess prepare;
    prepare.start(script, QStringList{outDir} + programs);
    // A first run downloads two kernels and builds the initramfs.
    const bool ran = prepare.waitForFinished(600000) && prepare.exitStatus() == QProcess::NormalExit;
    if (!ran || prepare.exitCode() != 0) {
        error = QStringLiteral("%1 failed: %2")
                    .arg(script, ran ? QString::fromLocal8Bit(prepare.readAllStandardError()) : prepare.errorString());
        return false;
    }
    const QString said = QString::fromLocal8Bit(prepare.readAllStandardOutput());
    for (const QString &line : said.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString value = line.section(QLatin1Char('='), 1);
        const QString key = line.section(QLatin1Char('='), 0, 0);
        if (key == QStringLiteral("cloud-kernel"))
            images.cloudKernel = value;
        else if (key == QStringLiteral("generic-kernel"))
            images.genericKernel = value;
        else if (key == QStringLiteral("initramfs"))
            images.initramfs = value;
        else if (key == QStringLiteral("accel"))
            images.accel = value;
    }
    if (images.cloudKernel.isEmpty() || images.genericKernel.isEmpty() || images.initramfs.isEmpty()
        || images.accel.isEmpty()) {
        error = QStringLiteral("%1 said too little:\n%2").arg(script, said);
        return false;
    }
    return true;
}

Guest::Guest(const Images &images, Rig rig)
    : images_(images), rig_(rig), folder_(QStringLiteral("/tmp/comloop-guest-XXXXXX"))
{
}

Guest::~Guest()
{
    adapter_.reset();
    uart_.reset();
    qmp_.abort();
    if (qemu_.state() != QProcess::NotRunning) {
        qemu_.kill();
        qemu_.waitForFinished();
    }
}

QString Guest::Trouble()
{
    return QStringLiteral("console:\n%1\nQEMU (%2) said: %3")
        .arg(QString::fromLocal8Bit(seen_.right(16384)), qemu_.program(),
             QString::fromLocal8Bit(qemu_.readAllStandardError()));
}

bool Guest::Boot(int ms, QString &error)
{
    if (!folder_.isValid()) {
        error = QStringLiteral("no folder for the guest's sockets: %1").arg(folder_.errorString());
        return false;
    }
    const QString folder = folder_.path();
    // Options in words; the folder's path has no spaces, unlike a kernel's
    // or the initramfs's may.
    const auto words = [&](const char *options) {
        return QString::fromLatin1(options).replace(QStringLiteral("%1"), folder).split(QLatin1Char(' '));
    };
    QStringList arguments{QStringLiteral("-accel"), images_.accel};
    arguments += words("-m 768 -nodefaults -no-user-config -display none -no-reboot");
    arguments << QStringLiteral("-kernel") << (rig_ == Rig::Uarts ? images_.cloudKernel : images_.genericKernel)
              << QStringLiteral("-initrd") << images_.initramfs << QStringLiteral("-append")
              << QStringLiteral("console=ttyS0 panic=-1 quiet loglevel=3");
    // ttyS0, the console, carries the commands and what they print.
    arguments += words("-chardev stdio,id=console,signal=off -serial chardev:console "
                       "-qmp unix:%1/qmp,server=on,wait=off");
    if (rig_ == Rig::Uarts) {
        // ttyS1 and ttyS2: one socket, QEMU at both ends of it.
        arguments += words("-chardev socket,id=s1,path=%1/cable,server=on,wait=off "
                           "-chardev socket,id=s2,path=%1/cable,reconnect=1 -serial chardev:s1 -serial chardev:s2");
    } else {
        // ttyS1 and the adapter, each on a socket the test connects to. The
        // adapter counts as plugged in only while its socket is connected.
        arguments += words("-chardev socket,id=uart,path=%1/uart,server=on,wait=off -serial chardev:uart "
                           "-device qemu-xhci,id=xhci -chardev socket,id=adapter,path=%1/adapter,server=on,wait=off "
                           "-device usb-serial,id=ftdi,chardev=adapter,bus=xhci.0");
    }
    QObject::connect(&qemu_, &QProcess::readyReadStandardOutput, [this] {
        const QByteArray read = qemu_.readAllStandardOutput();
        console_ += read;
        seen_ += read;
    });
    qemu_.start(QStringLiteral("qemu-system-x86_64"), arguments);
    if (!qemu_.waitForStarted()) {
        error = QStringLiteral("cannot start qemu-system-x86_64: %1").arg(qemu_.errorString());
        return false;
    }

    // QEMU makes its sockets before the guest runs; each takes connections
    // a moment after its file appears.
    const auto connect = [&](QLocalSocket &socket, const char *name) {
        return WaitFor(
            [&] {
                socket.connectToServer(folder + QLatin1Char('/') + QLatin1String(name));
                return socket.waitForConnected(1000) || qemu_.state() == QProcess::NotRunning;
            },
            20000)
            && socket.state() == QLocalSocket::ConnectedState;
    };
    if (!connect(qmp_, "qmp") || !qmp_.waitForReadyRead(5000)) {
        error = QStringLiteral("no answer on QEMU's monitor: %1\n").arg(qmp_.errorString()) + Trouble();
        return false;
    }
    qmp_.readAll(); // the greeting
    if (!Qmp(Command("qmp_capabilities"), error)) {
        error += Trouble();
        return false;
    }
    if (rig_ == Rig::Adapter) {
        adapter_ = std::make_unique<QLocalSocket>();
        uart_ = std::make_unique<QLocalSocket>();
        if (!connect(*adapter_, "adapter") || !connect(*uart_, "uart")) {
            error = QStringLiteral("cannot join the adapter to the UART: %1 / %2\n")
                        .arg(adapter_->errorString(), uart_->errorString())
                + Trouble();
            return false;
        }
        QObject::connect(adapter_.get(), &QLocalSocket::readyRead, [this] { uart_->write(adapter_->readAll()); });
        QObject::connect(uart_.get(), &QLocalSocket::readyRead, [this] { adapter_->write(uart_->readAll()); });
    }

    QString ready;
    if (!ReadUntil(QLatin1String(kReady), ms, bootOutput_, ready)) {
        error = QStringLiteral("the guest was not ready within %1 s.\n").arg(ms / 1000) + Trouble();
        return false;
    }
    return true;
}

bool Guest::ReadUntil(const QString &marker, int ms, QStringList &lines, QString &markerLine)
{
    bool found = false;
    const auto take = [&] {
        for (qsizetype end; !found && (end = console_.indexOf('\n')) >= 0; console_.remove(0, end + 1)) {
            const QString line = QString::fromLocal8Bit(console_.left(end)).remove(QLatin1Char('\r'));
            QString report;
            if (line == QLatin1String(kPull))
                Pull(report);
            else if (line == QLatin1String(kPlug))
                Plug(report);
            if (line.startsWith(marker)) {
                markerLine = line;
                found = true;
            } else {
                lines << line;
            }
            if (!report.isEmpty())
                lines << report;
        }
        return found || qemu_.state() == QProcess::NotRunning;
    };
    WaitFor(take, ms);
    return found;
}

Guest::Result Guest::Run(const QString &command, int ms)
{
    Result result;
    QStringList lines;
    QString exit;
    qemu_.write((command + QLatin1Char('\n')).toLocal8Bit());
    result.finished = ReadUntil(QLatin1String(kExit), ms, lines, exit);
    if (result.finished)
        result.status = exit.mid(int(sizeof kExit) - 1).toInt();
    else
        lines << QStringLiteral("[the guest did not finish within %1 s]").arg(ms / 1000) << Trouble();
    result.output = lines.join(QLatin1Char('\n'));
    return result;
}

bool Guest::NextAnswer(QJsonObject &answer, const QDeadlineTimer &deadline)
{
    qsizetype end;
    while ((end = qmpRead_.indexOf('\n')) < 0) {
        if (deadline.hasExpired() || !qmp_.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        qmpRead_ += qmp_.readAll();
    }
    answer = QJsonDocument::fromJson(qmpRead_.left(end)).object();
    qmpRead_.remove(0, end + 1);
    if (answer.contains(QStringLiteral("event")))
        events_ << answer.value(QStringLiteral("event")).toString();
    return true;
}

bool Guest::Qmp(const QJsonObject &command, QString &error)
{
    const QByteArray text = QJsonDocument(command).toJson(QJsonDocument::Compact);
    qmp_.write(text + '\n');
    const QDeadlineTimer deadline(10000);
    QJsonObject answer;
    while (NextAnswer(answer, deadline)) {
        if (answer.contains(QStringLiteral("return")))
            return true;
        if (answer.contains(QStringLiteral("error"))) {
            error = QStringLiteral("QEMU refused %1: %2\n")
                        .arg(QString::fromUtf8(text),
                             answer.value(QStringLiteral("error")).toObject().value(QStringLiteral("desc")).toString());
            return false;
        }
    }
    error = QStringLiteral("QEMU's monitor did not answer %1\n").arg(QString::fromUtf8(text));
    return false;
}

bool Guest::Pull(QString &report)
{
    QElapsedTimer clock;
    clock.start();
    events_.clear();
    QString error;
    if (!Qmp(Command("device_del", {{QStringLiteral("id"), QStringLiteral("ftdi")}}), error)) {
        report = QStringLiteral("host: cannot pull the adapter: ") + error;
        return false;
    }
    // The adapter is gone once QEMU says so; only then can it come back
    // under the same id.
    const QDeadlineTimer deadline(5000);
    QJsonObject answer;
    while (!events_.contains(QStringLiteral("DEVICE_DELETED")) && NextAnswer(answer, deadline)) {
    }
    const bool deleted = events_.contains(QStringLiteral("DEVICE_DELETED"));
    report = deleted ? QStringLiteral("host: adapter pulled (device_del; deleted after %1 ms)").arg(clock.elapsed())
                     : QStringLiteral("host: QEMU did not delete the adapter within 5 s");
    return deleted;
}

bool Guest::Plug(QString &report)
{
    QString error;
    // As on QEMU's command line: an FTDI chip on the xHCI controller, whose
    // far end is the socket "adapter".
    const QJsonObject adapter{{QStringLiteral("driver"), QStringLiteral("usb-serial")},
                              {QStringLiteral("id"), QStringLiteral("ftdi")},
                              {QStringLiteral("chardev"), QStringLiteral("adapter")},
                              {QStringLiteral("bus"), QStringLiteral("xhci.0")}};
    if (!Qmp(Command("device_add", adapter), error)) {
        report = QStringLiteral("host: cannot plug the adapter in: ") + error;
        return false;
    }
    report = QStringLiteral("host: adapter plugged in (device_add)");
    return true;
}
