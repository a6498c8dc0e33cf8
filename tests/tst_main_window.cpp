#include "test_main.h"
#include "window_on_cable.h"

#include <QRegularExpression>
#include <QSignalSpy>

#include <climits>

namespace {

QString Caption(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    return {};
}

} // namespace

// The window as it comes up: its controls, its place, its keyboard order
// and its uptime counter.
class TestMainWindow : public WindowOnCable
{
    Q_OBJECT

private slots:
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
};

COMLOOP_TEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
