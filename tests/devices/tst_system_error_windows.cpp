#include "system_error_windows.h"

#include <QTest>

// Win32 error codes, as the causes the advice acts on.
class TestSystemErrorWindows : public QObject
{
    Q_OBJECT

private slots:
    void failureOf_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("cause");
        QTest::newRow("another program has the port") << int(ERROR_ACCESS_DENIED) << int(PortFailure::Busy);
        QTest::newRow("shared with nobody") << int(ERROR_SHARING_VIOLATION) << int(PortFailure::Busy);
        QTest::newRow("no such port") << int(ERROR_FILE_NOT_FOUND) << int(PortFailure::Missing);
        QTest::newRow("adapter pulled out") << int(ERROR_DEVICE_REMOVED) << int(PortFailure::Missing);
        QTest::newRow("the cable ended") << int(ERROR_BROKEN_PIPE) << int(PortFailure::HungUp);
        QTest::newRow("not a serial port") << int(ERROR_INVALID_FUNCTION) << int(PortFailure::NotSerial);
    }
    void failureOf()
    {
        QFETCH(int, error);
        QFETCH(int, cause);
        const PortFailure failure = FailureOf(PortFailure::Open, DWORD(error));
        QCOMPARE(int(failure.cause), cause);
        QVERIFY(!failure.text.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSystemErrorWindows)
#include "tst_system_error_windows.moc"
