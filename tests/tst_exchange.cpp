#include "test_main.h"
#include "window_on_cable.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>

// Measure sends a frame from the slave; whatever reaches the master is
// searched for frames and the last value shown.
class TestExchange : public WindowOnCable
{
    Q_OBJECT

    // Writes `bytes` into the master's cable and waits until the window has
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

    // Typed with keys as the operator types: the field shows the typing as
    // it is, takes it within its bounds when Measure reads it and when the
    // field is left.
    void measureSendsTypedValueWithinBounds_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("frame"); // what Measure sends, for TData
        QTest::newRow("TData 40000") << "TData" << "40000" << 32000 << QByteArray("Bizzard?7D00");
        QTest::newRow("TData 32001") << "TData" << "32001" << 32000 << QByteArray("Bizzard?7D00");
        QTest::newRow("TData 99999") << "TData" << "99999" << 32000 << QByteArray("Bizzard?7D00");
        QTest::newRow("TData -5") << "TData" << "-5" << 0 << QByteArray("Bizzard?0000");
        QTest::newRow("CSpinEdit1 33") << "CSpinEdit1" << "33" << 32 << QByteArray();
        QTest::newRow("CSpinEdit1 99") << "CSpinEdit1" << "99" << 32 << QByteArray();
        QTest::newRow("CSpinEdit1 -3") << "CSpinEdit1" << "-3" << 1 << QByteArray();
    }
    void measureSendsTypedValueWithinBounds()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, value);
        QFETCH(QByteArray, frame);
        auto *edit = form_->findChild<TCSpinEdit *>(field);
        QVERIFY(edit);
        if (!frame.isEmpty())
            OpenBoth();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        const int before = edit->value();
        for (const bool leave : {false, true}) {
            edit->SetValue(before);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, typed);
            QCOMPARE(edit->text(), typed);
            if (leave) {
                QTest::keyClick(edit, Qt::Key_Tab);
                QVERIFY(!edit->hasFocus());
                QCOMPARE(edit->text(), QString::number(value));
                QCOMPARE(edit->value(), value);
            } else {
                if (!frame.isEmpty()) {
                    // click() leaves the focus in the field: what is sent
                    // is what GetValue itself makes of the typing.
                    form_->Button2->click();
                    QCOMPARE(slave_->Read(12), frame);
                }
                QVERIFY(edit->hasFocus());
                QCOMPARE(edit->GetValue(), value);
            }
        }
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
        QTest::newRow("frames with nothing between")
            << QList<QByteArray>{"?03E8?7D00"} << QStringList{"32000"} << QList<int>{0};
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

COMLOOP_TEST_MAIN(TestExchange)
#include "tst_exchange.moc"
