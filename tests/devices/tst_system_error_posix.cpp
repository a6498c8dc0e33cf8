#include "system_error_posix.h"

#include <QTest>

#include <cerrno>

// The system's error numbers, as the causes the advice acts on.
class TestSystemErrorPosix : public QObject
{
    Q_OBJECT

private slots:
    void failureOf_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("cause");
        QTest::newRow("permission") << EACCES << int(PortFailure::Denied);
        QTest::newRow("not permitted") << EPERM << int(PortFailure::Denied);
        QTest::newRow("opened for exclusive use") << EBUSY << int(PortFailure::Busy);
        QTest::newRow("no such file") << ENOENT << int(PortFailure::Missing);
        QTest::newRow("no such device") << ENODEV << int(PortFailure::Missing);
        QTest::newRow("no such device or address") << ENXIO << int(PortFailure::Missing);
        QTest::newRow("a built-in port with no UART behind it") << EIO << int(PortFailure::Missing);
        QTest::newRow("not a terminal") << ENOTTY << int(PortFailure::NotSerial);
        QTest::newRow("settings refused") << EINVAL << int(PortFailure::NotSerial);
    }
    void failureOf()
    {
        QFETCH(int, error);
        QFETCH(int, cause);
        const PortFailure failure = FailureOf(PortFailure::Open, error);
        QCOMPARE(int(failure.step), int(PortFailure::Open));
        QCOMPARE(int(failure.cause), cause);
        QVERIFY(!failure.text.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSystemErrorPosix)
#include "tst_system_error_posix.moc"
