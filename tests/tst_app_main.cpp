#include <QProcess>
#include <QTest>

// Runs the program's entry, built around a stand-in window, as a process of
// its own: what reaches the user is the message boxes and the exit code.
class TestAppMain : public QObject
{
    Q_OBJECT
private slots:
    void paths_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("window closed") << QByteArray("clean") << QByteArray("closing\n");
        QTest::newRow("exception while creating")
            << QByteArray("create-throws-exception") << QByteArray("box:[layout is broken]\n");
        QTest::newRow("foreign exception while creating")
            << QByteArray("create-throws-other") << QByteArray("box:[]\n");
        QTest::newRow("exception in a handler, loop goes on")
            << QByteArray("handler-throws") << QByteArray("box:[handler failed]\nclosing\n");
    }
    void paths()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QByteArray, output);
        QProcess entry;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("COMLOOP_ENTRY_SCENARIO"), QString::fromLatin1(scenario));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        entry.setProcessEnvironment(env);
        entry.start(QStringLiteral(ENTRY_PROBE), {});
        QVERIFY(entry.waitForFinished(10000));
        QCOMPARE(entry.exitStatus(), QProcess::NormalExit);
        QCOMPARE(entry.exitCode(), 0);
        QCOMPARE(entry.readAllStandardOutput(), output);
    }
};

QTEST_GUILESS_MAIN(TestAppMain)
#include "tst_app_main.moc"
