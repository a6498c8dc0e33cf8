#include "guest.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

// What a lost adapter's reason must say: that it was disconnected, its
// device node gone; not an error number's words, such as the "Invalid
// argument" a read at end of file leaves in errno. Loose on purpose, so the
// wording may change.
const char kTruthfulLoss[] =
    "(disconnect|unplugged|pulled|removed|(node|device)[^\\n]*(is )?gone|no longer (there|exists|present))";

// A number the guest printed, captured by `pattern`, that must not exceed
// `most`.
struct Limit
{
    QString pattern;
    double most;
};

// Generous: TCG on two cores that others build on too.
constexpr int kBootMs = 120000;
constexpr int kRunMs = 120000;

} // namespace

Q_DECLARE_METATYPE(Guest::Rig)
Q_DECLARE_METATYPE(Limit)

// comloop on real serial drivers, inside a QEMU guest: the 8250 driver's
// 16550 UARTs and ftdi_sio's USB adapter, which is pulled out and plugged
// back in. Each row runs one command line there; what the guest prints is
// judged here.
class TestGuest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(Guest::Prepare(QStringLiteral(PREPARE_SCRIPT), QStringLiteral(GUEST_DIR),
                                {QStringLiteral(CHECK_BINARY), QStringLiteral(PROBE_BINARY)}, images_, error),
                 qPrintable(error));
        qInfo("guest: %s, %s, %s, accel=%s", qPrintable(images_.cloudKernel), qPrintable(images_.genericKernel),
              qPrintable(images_.initramfs), qPrintable(images_.accel));
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    }

    void run_data()
    {
        QTest::addColumn<Guest::Rig>("rig");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        // Patterns, each to be found in what the guest printed, boot
        // included; {pid} is the number after "pid: ", {truthful} stands
        // for kTruthfulLoss.
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QList<Limit>>("limits");

        QTest::newRow("the port component on COM2, a 16550 UART")
            << Guest::Rig::Uarts << QStringLiteral("guest_probe port 2 /dev/ttyS1") << 0
            << QStringList{"^guest: /dev/ttyS1 driver bus/pnp/drivers/serial$",
                           "^device: /dev/ttyS1$",
                           "^speed: 9600\nframe: 8N1\nflow: none\nraw: yes$",
                           "^lock: /run/lock/LCK..ttyS1 names process {pid}$",
                           "^second opener: refused: .*\\bprocess {pid}\\b",
                           "^lock after close: none$",
                           "^restored: yes$"}
            << QList<Limit>{};
        // Ample time per frame (-t 2000): a busy host slows the guest, and
        // must not turn a sound line into missing frames. comloop-check's
        // verdict is its status; its summary shows that every frame came.
        QTest::newRow("comloop-check 2 3 across two UARTs")
            << Guest::Rig::Uarts << QStringLiteral("guest_probe run -- comloop-check 2 3 -n 50 -t 2000") << 0
            << QStringList{"^master: COM2 → /dev/ttyS1\\b", "^slave: COM3 → /dev/ttyS2\\b",
                           "^sent 50, received 50, ", "^status: 0\nlocks: none$"}
            << QList<Limit>{};
        // Another line on the 8250: it takes the rate, the parity and the
        // stop bits, and reads them back as asked (else a setting not taken
        // fails the run); and the frames go both ways over it.
        QTest::newRow("comloop-check 2 3 at 115200 8E2, both ways")
            << Guest::Rig::Uarts
            << QStringLiteral("guest_probe run -- comloop-check 2 3 -n 50 -t 2000 --baud 115200 --parity even "
                              "--stop-bits 2 --both") << 0
            << QStringList{"^slave to master: sent 50, received 50, ", "^master to slave: sent 50, received 50, ",
                           "^timing: [^\n]* 115200 8E2 ",
                           "^counters: master: framing 0, parity 0, ", "^verdict: pass \\(exit status 0\\)$",
                           "^status: 0\nlocks: none$"}
            << QList<Limit>{};
        // What only a UART's driver tells: its counters (none counted on a
        // sound line), its own loopback, and handshake lines, which the
        // socket between QEMU's UARTs carries none of: they read as on at
        // both ends, whatever the other side does, and that is a fault.
        QTest::newRow("comloop-check's checks on two UARTs: counters, loopback, handshake lines")
            << Guest::Rig::Uarts
            << QStringLiteral("guest_probe run -- comloop-check 2 3 -n 50 -t 2000 --isolate --lines") << 1
            << QStringList{"^isolation: master passes its own loopback$",
                           "^isolation: slave passes its own loopback$",
                           "^lines: master RTS -> slave CTS: stuck on$", "^lines: slave DTR -> master DCD: stuck on$",
                           "^counters: master: framing 0, parity 0, overrun 0, buffer overrun 0, break 0; ",
                           "^counters: slave: framing 0, parity 0, overrun 0, buffer overrun 0, break 0; ",
                           "^sent 50, received 50, ", "^timing: virtual: ", "^verdict: fail \\(exit status 1\\)$",
                           "^status: 1\nlocks: none$"}
            << QList<Limit>{};
        // A passing loopback is no fault: alone, --isolate passes.
        QTest::newRow("comloop-check --isolate on two UARTs")
            << Guest::Rig::Uarts << QStringLiteral("guest_probe run -- comloop-check 2 3 -n 20 -t 2000 --isolate") << 0
            << QStringList{"^isolation: master passes its own loopback$", "^isolation: slave passes its own loopback$",
                           "^status: 0\nlocks: none$"}
            << QList<Limit>{};
        // Left so by a program killed in its loopback test, and with no
        // carrier: the open neither waits for one nor keeps the loopback.
        QTest::newRow("comloop-check on a UART another program left in loopback, no carrier")
            << Guest::Rig::Uarts
            << QStringLiteral("guest_probe run --looped /dev/ttyS2 -- comloop-check 2 3 -n 10 -t 2000") << 0
            << QStringList{"^left looped: /dev/ttyS2, carrier off$",
                           "^slave: found in internal loopback, left so by another program; turned off$",
                           "^sent 10, received 10, ", "^status: 0\nlocks: none$"}
            << QList<Limit>{};
        // Frames that wait in the driver when the port closes go out at
        // the line's pace before the close lets go of it.
        QTest::newRow("frames written just before the close reach the far end")
            << Guest::Rig::Uarts << QStringLiteral("guest_probe drain 2 /dev/ttyS2") << 0
            << QStringList{"^far end got: (Bizzard\\?000[1-8]){8}$"} << QList<Limit>{};
        // Status 3: a port lost during the run. A read at end of file
        // taken for "no data" would spin: the run would not end, or would
        // burn its last second.
        const QString check = QStringLiteral("comloop-check /dev/ttyUSB0 /dev/ttyS1 -t 2000");
        QTest::newRow("comloop-check on the adapter, pulled and plugged back")
            << Guest::Rig::Adapter
            << QStringLiteral("guest_probe run --pull /dev/ttyUSB0 --after 'slave: ' --plug -- %1 -n 100000000;"
                              " guest_probe run -- %1 -n 50")
                   .arg(check)
            << 0
            << QStringList{"^guest: /dev/ttyUSB0 driver bus/usb-serial/drivers/ftdi_sio$",
                           "^guest: /dev/ttyS1 driver ",
                           "^comloop-check: master: the port was lost during the run\n[^\n]*{truthful}",
                           "^status: 3\nnode went: .*\nended: .*\ncpu after the node went: .*\nlocks: none$",
                           "^came back as: /dev/ttyUSB0$",
                           "^sent 50, received 50, ",
                           "^status: 0\nlocks: none$"}
            << QList<Limit>{{"^ended: (\\d+) ms after", 1000}, {"^cpu after the node went: (\\d+) ms", 500}};
        QTest::newRow("the window on the adapter, pulled and plugged back")
            << Guest::Rig::Adapter << QStringLiteral("guest_probe window /dev/ttyUSB0 /dev/ttyS1") << 0
            << QStringList{"^open: button Close Ports; label1 hidden; label2 hidden; measure enabled$",
                           "^frame before: 1000$",
                           "^after the pull: button Open Ports; label1 The port can not open; label2 hidden; "
                           "measure disabled$",
                           "^reason: [^\n]*{truthful}",
                           "^came back as: /dev/ttyUSB0$",
                           "^reopened: button Close Ports; label1 hidden; label2 hidden; measure enabled$",
                           "^frame after: 2345$",
                           "^locks after closing: none$"}
            << QList<Limit>{{"^incomplete: (\\d+) ms after", 1000}, {"^cpu afterwards: ([\\d.]+) %", 5}};
    }

    void run()
    {
        QFETCH(Guest::Rig, rig);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QStringList, says);
        QFETCH(QList<Limit>, limits);

        // One boot per kind of guest, for the rows that use it one after
        // the other.
        if (!guest_ || guest_->GetRig() != rig) {
            guest_.reset();
            auto guest = std::make_unique<Guest>(images_, rig);
            QString error;
            QVERIFY2(guest->Boot(kBootMs, error), qPrintable(error));
            guest_ = std::move(guest);
            for (const QString &line : guest_->BootOutput().split(QLatin1Char('\n')))
                qInfo("guest| %s", qPrintable(line));
        }
        const Guest::Result result = guest_->Run(command, kRunMs);
        for (const QString &line : result.output.split(QLatin1Char('\n')))
            qInfo("guest| %s", qPrintable(line));
        QVERIFY2(result.finished, qPrintable(result.output));
        QCOMPARE(result.status, status);

        const QString said = guest_->BootOutput() + QLatin1Char('\n') + result.output;
        const auto find = [&](const QString &pattern) {
            return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(said);
        };
        const QString pid = find(QStringLiteral("^pid: (\\d+)$")).captured(1);
        for (QString pattern : says) {
            pattern.replace(QStringLiteral("{pid}"), pid)
                .replace(QStringLiteral("{truthful}"), QLatin1String(kTruthfulLoss));
            QVERIFY2(find(pattern).hasMatch(), qPrintable(QStringLiteral("the guest did not say %1").arg(pattern)));
        }
        for (const Limit &limit : limits) {
            const QRegularExpressionMatch match = find(limit.pattern);
            QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("the guest did not say %1").arg(limit.pattern)));
            QVERIFY2(match.captured(1).toDouble() <= limit.most,
                     qPrintable(QStringLiteral("%1: more than %2").arg(match.captured(0)).arg(limit.most)));
        }
    }

    // A row that failed leaves its guest behind: nobody knows what state
    // it is in, the adapter perhaps still pulled out.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            guest_.reset();
    }

private:
    Guest::Images images_;
    std::unique_ptr<Guest> guest_;
};

QTEST_GUILESS_MAIN(TestGuest)
#include "tst_guest.moc"
