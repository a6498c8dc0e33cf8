#include "line_rate_linux.h"
#include "serial_port.h"
#include "test_main.h"
#include "virtual_cable.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>


#include <climits>
#include <memory>

Q_DECLARE_METATYPE(LineSettings)

class TestSerialPort : public QObject
{
    Q_OBJECT

    std::unique_ptr<ComLinks> links_;

    std::unique_ptr<TCommPort> OpenOn(PtyEnd &end, int number = 5)
    {
        links_->Map(number, end.Device());
        auto port = std::make_unique<TCommPort>(nullptr);
        port->SetComNumber(number);
        port->SetOpen(true);
        return port;
    }

private slots:
    void init()
    {
        // A stray Qt warning (a bad connect, I/O on a closed device) is a bug.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        links_ = std::make_unique<ComLinks>();
    }
    void cleanup() { links_.reset(); }

    void designSettings()
    {
        TCommPort port(nullptr);
        QCOMPARE(port.GetComNumber(), 2);
        QCOMPARE(port.GetBaud(), 9600);
        QCOMPARE(port.GetDataBits(), 8);
        QCOMPARE(port.GetInSize(), 2048);
        QVERIFY(!port.GetOpen());
    }

    void openAndClose()
    {
        PtyEnd end;
        // As the last program on the line may have left it: hardware and
        // software flow control, two stop bits.
        termios left{};
        QCOMPARE(::tcgetattr(end.FarSide(), &left), 0);
        left.c_cflag |= CRTSCTS | CSTOPB;
        left.c_iflag |= IXON | IXOFF;
        QCOMPARE(::tcsetattr(end.FarSide(), TCSANOW, &left), 0);
        auto port = OpenOn(end);
        QVERIFY2(port->GetOpen(), qPrintable(FailureText(*port)));
        QCOMPARE(port->GetDevice(), end.Device());
        // The line as the device sees it: 9600 baud, 8N1, no flow control,
        // raw. A pseudo-terminal's far side reads its settings.
        termios line{};
        QCOMPARE(::tcgetattr(end.FarSide(), &line), 0);
        QCOMPARE(::cfgetispeed(&line), speed_t(B9600));
        QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), tcflag_t(0));
        QCOMPARE(line.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));
        port->SetOpen(true); // opening an open port changes nothing
        QVERIFY(port->GetOpen());
        port->SetOpen(false);
        QVERIFY(!port->GetOpen());
        port->SetOpen(false);
        QVERIFY(!port->GetOpen());
        // Free again for anyone else.
        port->SetOpen(true);
        QVERIFY(port->GetOpen());
    }

    // The line asked for, as the driver reads it back while the port is
    // open, and the line as it was once the port has closed, a rate of its
    // own included. A Linux pseudo-terminal keeps any rate, standard or
    // not, the stop bits and flow control, and forces 8 data bits without
    // parity.
    void lineReadBack_data()
    {
        QTest::addColumn<LineSettings>("asked");
        QTest::addColumn<LineSettings>("taken");
        QTest::addColumn<int>("leftAt"); // the rate the line had before; 0: as a new one has
        const LineSettings fast{115200, 8, Parity::None, 2, Flow::RtsCts};
        QTest::newRow("a standard rate, two stop bits, RTS/CTS") << fast << fast << 0;
        const LineSettings own{250000};
        QTest::newRow("a rate outside the standard ones") << own << own << 0;
        QTest::newRow("on a line left at a rate of its own") << LineSettings{} << LineSettings{} << 300000;
        QTest::newRow("7 data bits with even parity")
            << LineSettings{1200, 7, Parity::Even} << LineSettings{1200, 8, Parity::None} << 0;
    }
    void lineReadBack()
    {
        QFETCH(LineSettings, asked);
        QFETCH(LineSettings, taken);
        QFETCH(int, leftAt);
        PtyEnd end;
        if (leftAt > 0)
            QVERIFY(SetAnyRate(end.FarSide(), leftAt));
        const int rateBefore = LineRate(end.FarSide());
        termios before{};
        QCOMPARE(::tcgetattr(end.FarSide(), &before), 0);
        links_->Map(5, end.Device());
        TCommPort port(nullptr);
        port.SetComNumber(5);
        port.SetSettings(asked);
        port.SetOpen(true);
        QVERIFY2(port.GetOpen(), qPrintable(FailureText(port)));
        QVERIFY(port.GetLine()->Taken() == taken);
        port.SetOpen(false);
        termios after{};
        QCOMPARE(::tcgetattr(end.FarSide(), &after), 0);
        QCOMPARE(LineRate(end.FarSide()), rateBefore);
        QCOMPARE(after.c_cflag, before.c_cflag);
    }

    void failingNumbers_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("cause");
        QTest::newRow("zero") << 0 << QString() << int(PortFailure::NoPort) << int(PortFailure::NoCause);
        QTest::newRow("negative") << -5 << QString() << int(PortFailure::NoPort) << int(PortFailure::NoCause);
        QTest::newRow("largest") << INT_MAX << QString() << int(PortFailure::Open) << int(PortFailure::Missing);
        QTest::newRow("no such uart") << 250 << QString() << int(PortFailure::Open) << int(PortFailure::Missing);
        QTest::newRow("dangling link") << 7 << "/dev/comloop-test-nothing-here" << int(PortFailure::Open) << int(PortFailure::Missing);
        QTest::newRow("not a tty") << 8 << "/dev/null" << int(PortFailure::Setup) << int(PortFailure::NotSerial);
    }
    void failingNumbers()
    {
        QFETCH(int, number);
        QFETCH(QString, link);
        QFETCH(int, step);
        QFETCH(int, cause);
        if (!link.isEmpty())
            links_->Map(number, link);
        TCommPort port(nullptr);
        QSignalSpy failed(&port, &TCommPort::OnFailure);
        port.SetComNumber(number);
        port.SetOpen(true);
        QVERIFY(!port.GetOpen());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(int(port.GetFailure().step), step);
        QCOMPARE(int(port.GetFailure().cause), cause);
        QCOMPARE(port.GetInBuffUsed(), 0u);
        // Nothing of the device is left held.
        QVERIFY(port.GetDevice().isEmpty() || !QFile::exists(LockPath(port.GetDevice())));
    }

    void sameDeviceTwice()
    {
        PtyEnd end;
        auto first = OpenOn(end, 5);
        QVERIFY(first->GetOpen());
        links_->Map(6, end.Device());
        TCommPort second(nullptr);
        second.SetComNumber(6);
        second.SetOpen(true);
        QVERIFY(!second.GetOpen());
        QCOMPARE(second.GetFailure().step, PortFailure::Lock);
        QVERIFY(second.GetLock().self);
        QVERIFY(first->GetOpen());
    }

    void bytesGoOutInCallOrder()
    {
        PtyEnd end;
        auto port = OpenOn(end);
        port->PutString("Bizzard");
        port->PutChar('?');
        port->PutChar('0');
        port->PutString("");
        port->PutChar('\0');
        port->PutString("3E8");
        QCOMPARE(port->GetOutBuffUsed(), 13u); // queued, not yet on the line
        QCOMPARE(end.Read(13), QByteArray("Bizzard?0\0" "3E8", 13));
        QCOMPARE(end.Drain(), QByteArray());
    }

    void bytesComeInInArrivalOrder()
    {
        PtyEnd end;
        auto port = OpenOn(end);
        QSignalSpy received(port.get(), &TCommPort::OnDataReceived);
        end.Write("ab");
        QVERIFY(received.wait());
        QCOMPARE(port->GetInBuffUsed(), 2u);
        // Older bytes still wait, and new ones raise the event again.
        end.Write("c");
        QVERIFY(received.wait());
        QCOMPARE(port->GetInBuffUsed(), 3u);
        QCOMPARE(port->GetChar(), 'a');
        QCOMPARE(port->GetChar(), 'b');
        QCOMPARE(port->GetChar(), 'c');
        QCOMPARE(port->GetInBuffUsed(), 0u);
        QCOMPARE(port->GetChar(), '\0');
        QCOMPARE(port->GetInBuffUsed(), 0u);
    }

    void inputBeforeOpenIsDropped()
    {
        PtyEnd end;
        end.Write("stale bytes");
        auto port = OpenOn(end);
        QVERIFY(port->GetOpen());
        QTest::qWait(100);
        QCOMPARE(port->GetInBuffUsed(), 0u);
        end.Write("x");
        QTRY_COMPARE(port->GetInBuffUsed(), 1u);
        QCOMPARE(port->GetChar(), 'x');
    }

    void closedPortIsHarmless()
    {
        TCommPort port(nullptr);
        port.PutChar('x');
        port.PutString("Bizzard");
        port.PutString(nullptr);
        QCOMPARE(port.GetInBuffUsed(), 0u);
        QCOMPARE(port.GetChar(), '\0');
    }

    void closingDropsWhatWaits()
    {
        PtyEnd end;
        auto port = OpenOn(end);
        end.Write("abc");
        QTRY_COMPARE(port->GetInBuffUsed(), 3u);
        // A new size waits for the next open: what came stays as it came.
        port->SetInSize(1);
        QCOMPARE(port->GetChar(), 'a');
        // What was queued to go out still goes, however soon the close.
        port->PutString("Bizzard");
        port->SetOpen(false);
        QCOMPARE(port->GetInBuffUsed(), 0u);
        QCOMPARE(end.Read(7), QByteArray("Bizzard"));
    }

    // A flood far larger than the buffer: the buffer never grows past its
    // bound, and a reader that keeps up gets every byte, in order.
    void floodIsBoundedAndLossless()
    {
        PtyEnd end;
        auto port = OpenOn(end);
        QByteArray sent;
        for (int i = 0; i < 200000; ++i)
            sent.append(char('A' + i % 53));
        QByteArray got;
        std::uint32_t peak = 0;
        connect(port.get(), &TCommPort::OnDataReceived, this, [&] {
            peak = std::max(peak, port->GetInBuffUsed());
            while (port->GetInBuffUsed() > 0)
                got.append(port->GetChar());
        });
        end.Write(sent);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), sent.size(), 10000);
        QCOMPARE(got, sent);
        QVERIFY(peak <= 2048);
    }

    // Unplugging an adapter: the port closes itself at once, keeps the
    // reason, and the program does not spin on the dead device.
    void farEndVanishes()
    {
        PtyEnd end;
        auto port = OpenOn(end);
        QVERIFY(port->GetOpen());
        end.HangUp();
        QTRY_VERIFY(!port->GetOpen());
        QVERIFY(port->GetFailure().Lost());
        QVERIFY(port->GetFailure().gone);
        const double before = ProcessCpuMs();
        QTest::qWait(1000);
        const double used = ProcessCpuMs() - before;
        QVERIFY2(used < 200, qPrintable(QStringLiteral("%1 ms of CPU in 1 s").arg(used)));
        port->PutString("Bizzard");
        QCOMPARE(port->GetInBuffUsed(), 0u);
        // Tried again while the device is still gone: a failed open, not a
        // port that went away.
        port->SetOpen(true);
        QVERIFY(!port->GetOpen());
        QCOMPARE(port->GetFailure().step, PortFailure::Open);

        // Hung up while the device stays (a modem's hang-up, or the moment
        // before an unplugged adapter's node goes): lost too, with no error
        // of the system's to blame.
        PtyEnd other;
        auto hungUp = OpenOn(other, 6);
        QVERIFY(hungUp->GetOpen());
        const int line = ::open(QFile::encodeName(other.Device()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(line >= 0);
        QCOMPARE(::ioctl(line, TIOCVHANGUP), 0);
        ::close(line);
        QTRY_VERIFY(!hungUp->GetOpen());
        QVERIFY(hungUp->GetFailure().Lost());
        QVERIFY(!hungUp->GetFailure().gone);
        QCOMPARE(hungUp->GetFailure().cause, PortFailure::HungUp);
    }
};

COMLOOP_TEST_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
