#include "test_main.h"
#include "window_on_cable.h"

#include <QRegularExpression>

#include <climits>

namespace {

bool PortIsFree(const QString &device)
{
    TCommPort probe(nullptr);
    probe.SetPath(device);
    probe.SetOpen(true);
    return probe.GetOpen();
}

} // namespace

// Open Ports and Close Ports: both sides, one side, retries, new numbers,
// and closing the window.
class TestPortPair : public WindowOnCable
{
    Q_OBJECT

    // Bytes waiting at the master show whether a click reopened it.
    void Receive(const QByteArray &bytes)
    {
        master_->Write(bytes);
        QVERIFY(WaitFor([&] { return form_->CommPort1->GetInBuffUsed() == std::uint32_t(bytes.size()); }));
    }

private slots:
    void openThenClose()
    {
        OpenBoth();
        QCOMPARE(form_->CommPort1->GetDevice(), master_->Device());
        QCOMPARE(form_->CommPort2->GetDevice(), slave_->Device());
        Click(form_->Button1);
        VerifyClosedState();
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QVERIFY(PortIsFree(master_->Device()));
        QVERIFY(PortIsFree(slave_->Device()));
    }

    void slaveFailsThenRetryOpensOnlyTheSlave()
    {
        links_->Map(9, "/dev/comloop-test-unplugged");
        form_->CSpinEdit2->setValue(9);
        Click(form_->Button1);
        QVERIFY(form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QCOMPARE(form_->Button1->text(), QStringLiteral("Open Ports"));
        QVERIFY(form_->Label1->isHidden());
        QVERIFY(!form_->Label2->isHidden());
        QCOMPARE(form_->Label2->text(), QStringLiteral("The port can not open"));
        QTRY_VERIFY(form_->Label2->width() >= form_->Label2->sizeHint().width());
        QVERIFY(!form_->CSpinEdit1->isEnabled());
        QVERIFY(!form_->CSpinEdit2->isEnabled());
        QVERIFY(!form_->Button2->isEnabled());

        // Bytes waiting at the master prove it is not reopened by the retry.
        Receive("abc");
        QCOMPARE(form_->CommPort1->GetInBuffUsed(), 3u);
        links_->Map(9, slave_->Device()); // the adapter is plugged in
        Click(form_->Button1);
        VerifyOpenState();
        QCOMPARE(form_->CommPort1->GetInBuffUsed(), 3u);
        QCOMPARE(form_->CommPort2->GetComNumber(), 9);
    }

    void bothFail()
    {
        links_->Map(3, "/dev/comloop-test-unplugged");
        links_->Map(4, "/dev/comloop-test-unplugged");
        Click(form_->Button1);
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QCOMPARE(form_->Label1->text(), QStringLiteral("The port can not open"));
        QCOMPARE(form_->Label2->text(), QStringLiteral("The port can not open"));
        QVERIFY(!form_->Label1->isHidden());
        QVERIFY(!form_->Label2->isHidden());
        QCOMPARE(form_->Button1->text(), QStringLiteral("Open Ports"));
        QVERIFY(!form_->Button2->isEnabled());
        // Clicking again keeps trying, and keeps saying so.
        Click(form_->Button1);
        QVERIFY(!form_->Label1->isHidden());
        QVERIFY(!form_->Label2->isHidden());
    }

    void slaveNumberThatNamesNoDevice_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("same as master") << 3;
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -1;
        QTest::newRow("smallest") << INT_MIN;
        QTest::newRow("largest") << INT_MAX;
    }
    void slaveNumberThatNamesNoDevice()
    {
        QFETCH(int, number);
        form_->CSpinEdit2->setValue(number);
        Click(form_->Button1);
        QVERIFY(form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QVERIFY(!form_->Label2->isHidden());
        QVERIFY(form_->Label1->isHidden());
        QVERIFY(!form_->Button2->isEnabled());
    }

    void newNumbersAfterCloseAreUsed()
    {
        OpenBoth();
        Click(form_->Button1);
        PtyEnd other1, other2;
        links_->Map(5, other1.Device());
        links_->Map(6, other2.Device());
        form_->CSpinEdit1->setValue(5);
        form_->CSpinEdit2->setValue(6);
        OpenBoth();
        QCOMPARE(form_->CommPort1->GetDevice(), other1.Device());
        QCOMPARE(form_->CommPort2->GetDevice(), other2.Device());
        Click(form_->Button1);
    }

    void closingTheWindowClosesThePorts_data()
    {
        QTest::addColumn<bool>("masterOpen");
        QTest::addColumn<bool>("slaveOpen");
        QTest::newRow("both open") << true << true;
        QTest::newRow("master only") << true << false;
        QTest::newRow("slave only") << false << true;
        QTest::newRow("none") << false << false;
    }
    void closingTheWindowClosesThePorts()
    {
        QFETCH(bool, masterOpen);
        QFETCH(bool, slaveOpen);
        if (!masterOpen)
            links_->Map(3, "/dev/comloop-test-unplugged");
        if (!slaveOpen)
            links_->Map(4, "/dev/comloop-test-unplugged");
        Click(form_->Button1);
        QCOMPARE(form_->CommPort1->GetOpen(), masterOpen);
        QCOMPARE(form_->CommPort2->GetOpen(), slaveOpen);
        QVERIFY(form_->close());
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QVERIFY(PortIsFree(master_->Device()));
        QVERIFY(PortIsFree(slave_->Device()));
    }
};

COMLOOP_TEST_MAIN(TestPortPair)
#include "tst_port_pair.moc"
