#include "test_main.h"
#include "toolkit.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>

#include <climits>

namespace {

// Counts the paints of one label, and remembers the caption each showed and
// whether it fitted at that moment.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QLabel *label) : label_(label) { label->installEventFilter(this); }
    QStringList painted;
    bool allFitted = true;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted << label_->text();
            allFitted = allFitted && label_->width() >= label_->sizeHint().width();
        }
        return false;
    }

private:
    QLabel *label_;
};

} // namespace

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
        QTest::newRow("unbounded past 64 bits") << 0 << 0 << 4 << "-99999999999999999999" << INT_MIN;
    }
    void spinEditBringsTypedTextWithinBounds()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, start);
        QFETCH(QString, typed);
        QFETCH(int, value);
        // A desktop language with a minus sign of its own (U+2212) leaves
        // the field with the plain one, the one the keyboard types.
        QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
        TCSpinEdit edit(nullptr);
        edit.SetMinValue(min);
        edit.SetMaxValue(max);
        edit.SetValue(start);
        // Bypasses the validator on purpose: pasted or half-typed text can
        // hold anything by the time the value is read.
        edit.findChild<QLineEdit *>()->setText(typed);
        QCOMPARE(edit.GetValue(), value);
        QCOMPARE(edit.value(), value);
        QCOMPARE(edit.text(), QString::number(value));
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

    // Enter presses the button that has the focus; with Ctrl held it is
    // another command's key and leaves the button alone.
    void onlyABareEnterPressesAButton()
    {
        TButton button(nullptr);
        int clicks = 0;
        connect(&button, &QPushButton::clicked, this, [&] { ++clicks; });
        QTest::keyClick(&button, Qt::Key_Return);
        QCOMPARE(clicks, 1);
        QTest::keyClick(&button, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(clicks, 1);
    }

    // A label changes its caption at once and is never painted clipped,
    // whatever grew it: a longer caption, a bigger font, or many captions
    // in one turn of the event loop.
    void labelsFitTheirCaptionBeforeTheyArePainted_data()
    {
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("pixels"); // the font afterwards; 0 keeps it
        QTest::newRow("longer caption") << QStringList{"The port can not open"} << 0;
        QTest::newRow("bigger font") << QStringList{"31111"} << 40;
        QTest::newRow("a burst") << QStringList{"1", "22222", "-65245", "7"} << 0;
    }
    void labelsFitTheirCaptionBeforeTheyArePainted()
    {
        QFETCH(QStringList, captions);
        QFETCH(int, pixels);
        TForm form(nullptr);
        form.resize(400, 200);
        TLabel label(&form);
        label.setGeometry(40, 88, 10, 10);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        PaintLog log(&label);
        for (const QString &caption : captions) {
            label.SetText(caption.toStdString());
            QCOMPARE(label.GetText(), caption.toStdString());
            QCOMPARE(label.property("Caption").toString(), caption);
        }
        if (pixels) {
            QFont big = label.font();
            big.setPixelSize(pixels);
            label.setFont(big);
        }
        QTRY_VERIFY(!log.painted.isEmpty() && log.painted.last() == captions.last());
        QVERIFY(log.allFitted);
        QCOMPARE(label.pos(), QPoint(40, 88));
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

    // A window being flooded with captions is painted about once a frame,
    // always ending on the newest caption; a change after a quiet spell is
    // painted without waiting.
    void paintsAreCappedToAboutOneAFrame()
    {
        TForm form(nullptr);
        form.resize(300, 100);
        form.Created();
        TLabel label(&form);
        PaintLog log(&label);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(50);

        log.painted.clear();
        label.SetText("1");
        QCoreApplication::processEvents();
        QCOMPARE(log.painted, QStringList{"1"});

        QElapsedTimer flood;
        flood.start();
        int changes = 0;
        while (flood.elapsed() < 200) {
            label.SetText(std::to_string(++changes));
            QCoreApplication::processEvents();
        }
        const QString last = QString::number(changes);
        QTRY_COMPARE(log.painted.last(), last);
        QVERIFY2(log.painted.size() <= 200 / 8 + 4,
                 qPrintable(QStringLiteral("%1 paints for %2 changes").arg(log.painted.size()).arg(changes)));
        QVERIFY(changes > log.painted.size());
        QVERIFY(log.allFitted);
    }
};

COMLOOP_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
