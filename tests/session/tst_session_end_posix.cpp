#include "session_end.h"
#include "test_main.h"

#include <QRegularExpression>

#include <csignal>

namespace {

int outerHandlerRan = 0;
void OuterHandler(int)
{
    ++outerHandlerRan;
}

} // namespace

// The signals that end a session on Linux, as the window's application and
// comloop-check hear them.
class TestSessionEndPosix : public QObject
{
    Q_OBJECT
private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // The first signal that ends the session is heard once, from the event
    // loop, and then handed back, so the next one does what it did before
    // (here: a handler of the test's own); one ignored when the program
    // started (nohup, a background job) stays ignored.
    void sessionEndIsHeardOnceAndHandedBack_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignoredAtStart");
        QTest::newRow("TERM") << int(SIGTERM) << false;
        QTest::newRow("INT") << int(SIGINT) << false;
        QTest::newRow("HUP") << int(SIGHUP) << false;
        QTest::newRow("HUP under nohup") << int(SIGHUP) << true;
        QTest::newRow("INT in a background job") << int(SIGINT) << true;
    }
    void sessionEndIsHeardOnceAndHandedBack()
    {
        QFETCH(int, signal);
        QFETCH(bool, ignoredAtStart);
        struct sigaction before = {};
        before.sa_handler = ignoredAtStart ? SIG_IGN : OuterHandler;
        struct sigaction found = {};
        QCOMPARE(::sigaction(signal, &before, &found), 0);
        outerHandlerRan = 0;
        int ended = 0;
        {
            const TSessionEnd sessionEnd(nullptr, [&ended] { ++ended; });
            ::raise(signal);
            QTest::qWait(20);
            QCOMPARE(ended, ignoredAtStart ? 0 : 1);
            QCOMPARE(outerHandlerRan, 0);
            ::raise(signal);
            QTest::qWait(20);
            QCOMPARE(ended, ignoredAtStart ? 0 : 1);
            QCOMPARE(outerHandlerRan, ignoredAtStart ? 0 : 1);
        }
        struct sigaction after = {};
        QCOMPARE(::sigaction(signal, &found, &after), 0);
        QVERIFY(after.sa_handler == before.sa_handler);
    }
};

COMLOOP_TEST_MAIN(TestSessionEndPosix)
#include "tst_session_end_posix.moc"
