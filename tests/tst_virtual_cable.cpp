#include "serial_port.h"
#include "virtual_cable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// scripts/virtual-cable as a user runs it, in a private config folder.
class TestVirtualCable : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;

    QString Folder() const { return home_->path() + QStringLiteral("/comloop"); }
    QString Link(int number) const { return Folder() + QStringLiteral("/com%1").arg(number); }

    // A setting NAME=value, if given, goes into the script's environment.
    void Start(QProcess &cable, const QStringList &arguments, const QString &setting = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->path());
        if (!setting.isEmpty())
            environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        cable.setProcessEnvironment(environment);
        cable.start(QStringLiteral(CABLE_SCRIPT), arguments);
        QVERIFY(cable.waitForStarted());
    }

    // Runs the script to its end and gives back its exit code.
    int Run(const QStringList &arguments, QString *errors, const QString &setting = {})
    {
        QProcess cable;
        Start(cable, arguments, setting);
        if (!cable.waitForFinished(10000))
            return -1;
        *errors = QString::fromLocal8Bit(cable.readAllStandardError());
        return cable.exitCode();
    }

private slots:
    void init() { home_ = std::make_unique<QTemporaryDir>(); }
    void cleanup() { home_.reset(); }

    void linksCarryDataAndGoAwayOnStop_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("TERM") << SIGTERM << 143;
        QTest::newRow("Ctrl-C") << SIGINT << 130;
    }
    void linksCarryDataAndGoAwayOnStop()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QProcess cable;
        Start(cable, {QStringLiteral("COM3"), QStringLiteral("com4")});
        QByteArray said;
        while (!said.contains("Ctrl-C") && cable.waitForReadyRead(5000))
            said += cable.readAllStandardOutput();
        QVERIFY2(said.contains("Ctrl-C"), said.constData());

        QStringList ends;
        for (int number : {3, 4}) {
            const QFileInfo link(Link(number));
            QVERIFY(link.isSymLink());
            QVERIFY2(link.symLinkTarget().startsWith(QStringLiteral("/dev/pts/")), qPrintable(link.symLinkTarget()));
            QVERIFY(said.contains(QStringLiteral("COM%1 -> %2").arg(number).arg(link.symLinkTarget()).toUtf8()));
            ends << link.symLinkTarget();
        }

        TCommPort three(nullptr);
        TCommPort four(nullptr);
        three.SetPath(Link(3));
        four.SetPath(Link(4));
        three.SetOpen(true);
        four.SetOpen(true);
        QVERIFY(three.GetOpen() && four.GetOpen());
        three.PutString("Bizzard?03E8");
        QVERIFY(WaitFor([&] { return four.GetInBuffUsed() == 12; }, 2000));
        QByteArray got;
        while (four.GetInBuffUsed() > 0)
            got += four.GetChar();
        QCOMPARE(got, QByteArray("Bizzard?03E8"));
        three.SetOpen(false);
        four.SetOpen(false);

        ::kill(pid_t(cable.processId()), signal);
        QVERIFY(cable.waitForFinished(5000));
        QCOMPARE(cable.exitCode(), exitCode);
        QVERIFY(!QFileInfo(Link(3)).isSymLink());
        QVERIFY(!QFileInfo(Link(4)).isSymLink());
        QVERIFY(QFileInfo(Folder()).isDir());
    }

    void refusesToTakeOverANumber_data()
    {
        QTest::addColumn<bool>("asLink");
        QTest::addColumn<QString>("message");
        QTest::newRow("link elsewhere") << true << "already exists and points to /dev/ttyUSB7; not overwriting it";
        QTest::newRow("plain file") << false << "already exists and is not a link; not overwriting it";
    }
    void refusesToTakeOverANumber()
    {
        QFETCH(bool, asLink);
        QFETCH(QString, message);
        QVERIFY(QDir().mkpath(Folder()));
        if (asLink) {
            QVERIFY(QFile::link(QStringLiteral("/dev/ttyUSB7"), Link(4)));
        } else {
            QFile file(Link(4));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QString errors;
        QCOMPARE(Run({QStringLiteral("3"), QStringLiteral("4")}, &errors), 1);
        QVERIFY2(errors.contains(Link(4) + " " + message), qPrintable(errors));
        QCOMPARE(QFileInfo(Link(4)).isSymLink(), asLink);
        QVERIFY(QFileInfo(Link(4)).symLinkTarget() == (asLink ? QStringLiteral("/dev/ttyUSB7") : QString()));
        QVERIFY(!QFileInfo::exists(Link(3)) && !QFileInfo(Link(3)).isSymLink());
    }

    // Arguments that name no pair of ports, or a place the cable cannot be
    // laid: one line in the script's own words, and nothing left behind.
    void rejectsWhatIsNoPair_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setting"); // NAME=value for the environment
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList pair{"3", "4"};
        QTest::newRow("one number") << QStringList{"3"} << "" << 2 << "usage:";
        QTest::newRow("three numbers") << QStringList{"3", "4", "5"} << "" << 2 << "usage:";
        QTest::newRow("zero") << QStringList{"0", "4"} << "" << 1 << "\"0\" is not a COM number from 1 to 2147483647";
        QTest::newRow("word") << QStringList{"COMX", "4"} << "" << 1 << "\"COMX\" is not a COM number";
        QTest::newRow("negative") << QStringList{"3", "-4"} << "" << 1 << "\"-4\" is not a COM number";
        QTest::newRow("past 32 bits") << QStringList{"3", "COM2147483648"} << "" << 1
                                      << "\"COM2147483648\" is not a COM number from 1 to 2147483647";
        QTest::newRow("past the shell's integers") << QStringList{"99999999999999999999", "4"} << "" << 1
                                                   << "\"99999999999999999999\" is not a COM number";
        QTest::newRow("same twice") << QStringList{"COM3", "3"} << "" << 1 << "two different numbers";
        QTest::newRow("no working folder") << pair << "TMPDIR=/dev/null" << 1
                                           << "cannot make a working folder in /dev/null; TMPDIR must name a folder";
        QTest::newRow("no links' folder") << pair << "XDG_CONFIG_HOME=/dev/null" << 1
                                          << "cannot make /dev/null/comloop for the links; XDG_CONFIG_HOME must name";
    }
    void rejectsWhatIsNoPair()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setting);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QString errors;
        QCOMPARE(Run(arguments, &errors, setting), exitCode);
        QVERIFY2(errors.contains(message), qPrintable(errors));
        QCOMPARE(errors.count(QLatin1Char('\n')), 1);
        QVERIFY(!QFileInfo::exists(Folder()));
    }
};

QTEST_GUILESS_MAIN(TestVirtualCable)
#include "tst_virtual_cable.moc"
