#include "toolkit.h"
#include "test_main.h"

#include <QLineEdit>
#include <QRegularExpression>

#include <climits>

class TestToolkit : public QObject
{
    Q_OBJECT
private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void spinEditBringsTypedTextWithinBounds_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::newRow("in range") << 1 << 32 << 3 << "17" << 17;
        QTest::newRow("above") << 1 << 32 << 3 << "99" << 32;
        QTest::newRow("below") << 1 << 32 << 3 << "0" << 1;
        QTest::newRow("negative") << 0 << 32000 << 0 << "-7" << 0;
        QTest::newRow("far above") << 0 << 32000 << 0 << "99999999999" << 32000;
        QTest::newRow("not a number keeps the value") << 0 << 32000 << 5 << "abc" << 5;
        QTest::newRow("unbounded negative") << 0 << 0 << 4 << "-2000000000" << -2000000000;
        QTest::newRow("unbounded largest") << 0 << 0 << 4 << "2147483647" << INT_MAX;
        QTest::newRow("unbounded past 32 bits") << 0 << 0 << 4 << "99999999999" << INT_MAX;
        QTest::newRow("unbounded smallest") << 0 << 0 << 4 << "-2147483648" << INT_MIN;
    }
    void spinEditBringsTypedTextWithinBounds()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, start);
        QFETCH(QString, typed);
        QFETCH(int, value);
        TCSpinEdit edit(nullptr);
        edit.SetMinValue(min);
        edit.SetMaxValue(max);
        edit.SetValue(start);
        // Bypasses the validator on purpose: pasted or half-typed text can
        // hold anything by the time the value is read.
        edit.findChild<QLineEdit *>()->setText(typed);
        QCOMPARE(edit.GetValue(), value);
        QCOMPARE(edit.value(), value);
    }

    void spinEditStepsByOne()
    {
        TCSpinEdit edit(nullptr);
        edit.SetMinValue(1);
        edit.SetMaxValue(32);
        edit.SetValue(32);
        edit.stepUp();
        QCOMPARE(edit.GetValue(), 32);
        edit.stepDown();
        QCOMPARE(edit.GetValue(), 31);
    }

    void labelsFitTheirCaption()
    {
        QWidget window;
        TLabel label(&window);
        label.setGeometry(40, 88, 10, 10);
        label.SetText("The port can not open");
        QVERIFY(label.width() >= label.sizeHint().width());
        QCOMPARE(label.pos(), QPoint(40, 88));
        QFont big = label.font();
        big.setPixelSize(40);
        label.setFont(big);
        QVERIFY(label.width() >= label.sizeHint().width());
        QCOMPARE(label.GetText(), std::string("The port can not open"));
    }

    void captionsAreEightBitText()
    {
        TLabel label(nullptr);
        const std::string bytes("\xB0\xFF x", 4);
        label.SetText(bytes);
        QCOMPARE(label.GetText(), bytes);
    }

    void exceptionInHandlerIsShownAndLoopGoesOn()
    {
        QStringList shown;
        Application->SetMessageBox([&](const QString &text) { shown << text; });
        QTimer thrower;
        connect(&thrower, &QTimer::timeout, this, [] { throw Exception("tick failed"); });
        thrower.start(10);
        QTRY_VERIFY(shown.size() >= 3);
        thrower.stop();
        QCOMPARE(shown.first(), QStringLiteral("tick failed"));
        Application->SetMessageBox(nullptr);
    }

    // While one report is on screen, a handler that keeps throwing must not
    // stack further boxes on top of it.
    void reportsDoNotStack()
    {
        int boxes = 0;
        Application->SetMessageBox([&](const QString &) {
            ++boxes;
            QTest::qWait(300); // the box is open and the loop keeps running
        });
        QTimer thrower;
        connect(&thrower, &QTimer::timeout, this, [] { throw 42; });
        thrower.start(10);
        QTest::qWait(250);
        QCOMPARE(boxes, 1);
        thrower.stop();
        QTest::qWait(100);
        Application->SetMessageBox(nullptr);
    }
};

COMLOOP_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
