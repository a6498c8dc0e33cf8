#include "test_main.h"
#include "window_on_cable.h"

#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>

#include <climits>
#include <memory>

namespace {

QString Caption(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    return {};
}

bool PortIsFree(const QString &device)
{
    QSerialPort probe(device);
    const bool opened = probe.open(QIODevice::ReadWrite);
    probe.close();
    return opened;
}

} // namespace

class TestUnit1 : public QObject, protected WindowOnCable
{
    Q_OBJECT

    void OpenBoth()
    {
        Click(form_->Button1);
        VerifyOpenState();
    }

    // Sends bytes into the master's cable and waits until the window has
    // dealt with them, which leaves at most four waiting.
    void Receive(const QByteArray &bytes)
    {
        QSignalSpy received(form_->CommPort1, &TCommPort::OnDataReceived);
        master_->Write(bytes);
        QVERIFY(WaitFor([&] { return !received.isEmpty(); }));
        QVERIFY(WaitFor([&] { return form_->CommPort1->GetInBuffUsed() <= 4; }));
        QTest::qWait(2);
    }

private slots:
    void init()
    {
        // A misspelled handler in the layout only warns at run time.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QVERIFY(OpenWindow());
    }

    void cleanup() { CloseWindow(); }

    // --- the window at start-up ---------------------------------------

    void startUpControls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place"); // width/height only for fixed-size controls
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("enabled");
        const auto row = [](const char *name, QRect place, const char *caption, int pixels, bool bold,
                            bool italic, bool shown = true, bool enabled = true) {
            QTest::newRow(name) << QString::fromLatin1(name) << place << QString::fromLatin1(caption)
                                << pixels << bold << italic << shown << enabled;
        };
        row("Label1", {40, 88, 0, 0}, "Label1", 16, true, true, false);
        row("Label2", {392, 88, 0, 0}, "Label2", 16, true, true, false);
        row("Label3", {304, 8, 0, 0}, "0", 16, true, false);
        row("RData", {40, 216, 0, 0}, "No data", 19, true, false);
        row("Label4", {64, 288, 0, 0}, "31111", 19, true, false);
        row("StaticText1", {64, 16, 0, 0}, "Master", 19, false, false);
        row("StaticText2", {440, 16, 0, 0}, "Slave", 19, false, false);
        row("CSpinEdit1", {112, 56, 57, 22}, "", 11, false, false);
        row("StaticText3", {32, 56, 0, 0}, "ComNum", 13, true, false);
        row("StaticText4", {392, 56, 0, 0}, "ComNum", 13, true, false);
        row("CSpinEdit2", {472, 56, 57, 22}, "", 11, false, false);
        row("Button1", {240, 48, 105, 25}, "Open Ports", 13, true, false);
        row("StaticText5", {184, 8, 0, 0}, "Time of works", 16, true, false);
        row("StaticText6", {32, 176, 0, 0}, "The received data", 16, false, false);
        row("StaticText7", {384, 112, 0, 0}, "Data for tranmission", 16, false, false);
        row("TData", {408, 152, 121, 30}, "", 16, true, false);
        row("Button2", {72, 120, 75, 25}, "Measure", 16, true, false, true, false);
    }
    void startUpControls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QString, caption);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        QFETCH(bool, shown);
        QFETCH(bool, enabled);
        auto *control = form_->findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget(), form_.get());
        QCOMPARE(control->pos(), place.topLeft());
        if (place.width() > 0)
            QCOMPARE(control->size(), place.size());
        else // labels fit their caption: nothing is clipped
            QVERIFY(control->width() >= control->sizeHint().width());
        QCOMPARE(Caption(control), caption);
        QCOMPARE(control->font().pixelSize(), pixels);
        QCOMPARE(control->font().bold(), bold);
        QCOMPARE(control->font().italic(), italic);
        QCOMPARE(!control->isHidden(), shown);
        QCOMPARE(control->isEnabled(), enabled);
    }

    void startUpWindow()
    {
        QCOMPARE(form_->objectName(), QStringLiteral("Form1"));
        QCOMPARE(form_->windowTitle(), QStringLiteral("Form1"));
        QTRY_COMPARE(form_->frameGeometry().size(), QSize(625, 563)); // frame included
        QCOMPARE(form_->frameGeometry().topLeft(), QPoint(757, 223));
        QVERIFY(!form_->windowIcon().isNull());
        QCOMPARE(form_->font().pixelSize(), 11);
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(!form_->CommPort2->GetOpen());
        QCOMPARE(form_->CommPort1->parent(), form_.get());
        QCOMPARE(form_->Timer1->parent(), form_.get());
        QCOMPARE(form_->CSpinEdit1->value(), 3);
        QCOMPARE(form_->CSpinEdit1->minimum(), 1);
        QCOMPARE(form_->CSpinEdit1->maximum(), 32);
        QCOMPARE(form_->CSpinEdit2->value(), 4);
        QCOMPARE(form_->CSpinEdit2->minimum(), INT_MIN);
        QCOMPARE(form_->CSpinEdit2->maximum(), INT_MAX);
        QCOMPARE(form_->TData->value(), 0);
        QCOMPARE(form_->TData->maximum(), 32000);
        VerifyClosedState();
    }

    void focusAndTabOrder()
    {
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QCOMPARE(QApplication::focusWidget(), form_->CSpinEdit1);

        // Measure is disabled at start-up, so enable it to see its place.
        form_->Button2->setEnabled(true);
        const QList<QWidget *> expected = {form_->CSpinEdit2, form_->Button1, form_->TData,
                                           form_->Button2, form_->CSpinEdit1};
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void controlsKeepTheirPlaceOnResize()
    {
        form_->resize(1000, 900);
        QCOMPARE(form_->Button1->geometry(), QRect(240, 48, 105, 25));
        QCOMPARE(form_->TData->geometry(), QRect(408, 152, 121, 30));
        QCOMPARE(form_->RData->pos(), QPoint(40, 216));
    }

    void timerCountsTicks()
    {
        QCOMPARE(form_->Timer1->interval(), 1000);
        QVERIFY(form_->Timer1->isActive());
        QSignalSpy ticks(form_->Timer1, &QTimer::timeout);
        QVERIFY(ticks.wait(1500));
        const int first = form_->Label3->text().toInt();
        QVERIFY(first >= 1);
        QVERIFY(ticks.wait(1500));
        QCOMPARE(form_->Label3->text().toInt(), first + 1);
        QVERIFY(form_->Label3->width() >= form_->Label3->sizeHint().width());
    }

    // --- the port pair ------------------------------------------------

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
        QVERIFY(form_->Label2->width() >= form_->Label2->sizeHint().width());
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

    // --- the measurement exchange ---------------------------------------

    void measureSendsOneFrame_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("0") << 0 << QByteArray("Bizzard?0000");
        QTest::newRow("1000") << 1000 << QByteArray("Bizzard?03E8");
        QTest::newRow("31111") << 31111 << QByteArray("Bizzard?7987");
        QTest::newRow("32000") << 32000 << QByteArray("Bizzard?7D00");
    }
    void measureSendsOneFrame()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, frame);
        OpenBoth();
        form_->TData->setValue(value);
        Click(form_->Button2);
        QCOMPARE(slave_->Read(12), frame);
        QCOMPARE(slave_->Drain(), QByteArray());
    }

    void measureTwiceSendsTwoFramesBackToBack()
    {
        OpenBoth();
        form_->TData->setValue(1000);
        Click(form_->Button2);
        Click(form_->Button2);
        QCOMPARE(slave_->Read(24), QByteArray("Bizzard?03E8Bizzard?03E8"));
    }

    void measureSendsTypedValueWithinBounds()
    {
        OpenBoth();
        form_->TData->findChild<QLineEdit *>()->setText(QStringLiteral("99999"));
        Click(form_->Button2);
        QCOMPARE(slave_->Read(12), QByteArray("Bizzard?7D00"));
    }

    void receive_data()
    {
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QStringList>("shown");   // RData after each write
        QTest::addColumn<QList<int>>("waiting"); // bytes left after each write
        QTest::newRow("one burst") << QList<QByteArray>{"Bizzard?03E8"} << QStringList{"1000"} << QList<int>{0};
        QTest::newRow("split after the ninth byte")
            << QList<QByteArray>{"Bizzard?0", "3E8"} << QStringList{"No data", "1000"} << QList<int>{4, 0};
        QTest::newRow("four waiting bytes wait for a fifth")
            << QList<QByteArray>{"?7D0", "0"} << QStringList{"No data", "32000"} << QList<int>{4, 0};
        QTest::newRow("two frames in one burst")
            << QList<QByteArray>{"Bizzard?03E8Bizzard?7D00"} << QStringList{"32000"} << QList<int>{0};
        QTest::newRow("another preamble") << QList<QByteArray>{"XY?7D00"} << QStringList{"32000"} << QList<int>{0};
        QTest::newRow("no preamble") << QList<QByteArray>{"?7D00"} << QStringList{"32000"} << QList<int>{0};
        QTest::newRow("lower-case digits") << QList<QByteArray>{"?7d00"} << QStringList{"28672"} << QList<int>{0};
        QTest::newRow("marker among the digits") << QList<QByteArray>{"?7?00"} << QStringList{"30720"} << QList<int>{0};
        QTest::newRow("space among the digits") << QList<QByteArray>{"? 123"} << QStringList{"-65245"} << QList<int>{0};
        QTest::newRow("noise without a marker")
            << QList<QByteArray>{"hello, world"} << QStringList{"No data"} << QList<int>{4};
        QTest::newRow("terminator after the preamble")
            << QList<QByteArray>{QByteArray("Bizzard\0?03E8", 13)} << QStringList{"1000"} << QList<int>{0};
    }
    void receive()
    {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QStringList, shown);
        QFETCH(QList<int>, waiting);
        OpenBoth();
        QCOMPARE(form_->RData->text(), QStringLiteral("No data"));
        for (qsizetype i = 0; i < writes.size(); ++i) {
            Receive(writes[i]);
            QCOMPARE(form_->RData->text(), shown[i]);
            QCOMPARE(int(form_->CommPort1->GetInBuffUsed()), waiting[i]);
            QVERIFY(form_->RData->width() >= form_->RData->sizeHint().width());
        }
    }

    // Frames cut at random points: after every write the window shows the
    // last frame that has fully arrived.
    void randomlySplitStream()
    {
        OpenBoth();
        auto *random = QRandomGenerator::global();
        const quint32 seed = random->generate();
        QRandomGenerator rng(seed);
        QByteArray stream;
        QList<qsizetype> frameEnds;
        QList<int> values;
        for (int i = 0; i < 300; ++i) {
            const int value = rng.bounded(32001);
            stream += "Bizzard?" + QByteArray::number(value, 16).toUpper().rightJustified(4, '0');
            frameEnds << stream.size();
            values << value;
        }
        qsizetype sent = 0;
        while (sent < stream.size()) {
            const qsizetype size = std::min<qsizetype>(1 + rng.bounded(40), stream.size() - sent);
            Receive(stream.mid(sent, size));
            sent += size;
            qsizetype complete = 0;
            while (complete < frameEnds.size() && frameEnds[complete] <= sent)
                ++complete;
            const QString expected = complete ? QString::number(values[complete - 1]) : QStringLiteral("No data");
            QVERIFY2(WaitFor([&] { return form_->RData->text() == expected; }),
                     qPrintable(QStringLiteral("seed %1, after %2 bytes: %3 instead of %4")
                                    .arg(seed).arg(sent).arg(form_->RData->text(), expected)));
        }
        QCOMPARE(form_->RData->text(), QString::number(values.last()));
    }

    // The whole road: Measure on COM4, across the cable, shown from COM3.
    void measurementComesBackOverTheCable()
    {
        Bridge cable(*slave_, *master_);
        OpenBoth();
        form_->TData->setValue(1000);
        Click(form_->Button2);
        QVERIFY(WaitFor([&] { return form_->RData->text() == QStringLiteral("1000"); }));
        form_->TData->setValue(32000);
        Click(form_->Button2);
        QVERIFY(WaitFor([&] { return form_->RData->text() == QStringLiteral("32000"); }));
    }
};

COMLOOP_TEST_MAIN(TestUnit1)
#include "tst_unit1.moc"
