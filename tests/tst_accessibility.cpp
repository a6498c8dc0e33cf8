#include "Unit1.h"
#include "test_main.h"
#include "virtual_cable.h"

#include <QAccessible>

// What a screen reader says for each control: the caption where there is
// one, a plain name for the three number fields, and a description always.
class TestAccessibility : public QObject
{
    Q_OBJECT

    std::unique_ptr<TForm1> form_;

private slots:
    void initTestCase()
    {
        form_ = MakeForm<TForm1>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanupTestCase() { form_.reset(); }

    void everyControlIsNamedAndDescribed_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("name");
        QTest::newRow("Label3") << "Label3" << "0";
        QTest::newRow("RData") << "RData" << "No data";
        QTest::newRow("Label4") << "Label4" << "31111";
        QTest::newRow("StaticText1") << "StaticText1" << "Master";
        QTest::newRow("StaticText2") << "StaticText2" << "Slave";
        QTest::newRow("CSpinEdit1") << "CSpinEdit1" << "Master COM number";
        QTest::newRow("StaticText3") << "StaticText3" << "ComNum";
        QTest::newRow("StaticText4") << "StaticText4" << "ComNum";
        QTest::newRow("CSpinEdit2") << "CSpinEdit2" << "Slave COM number";
        QTest::newRow("Button1") << "Button1" << "Open Ports";
        QTest::newRow("StaticText5") << "StaticText5" << "Time of works";
        QTest::newRow("StaticText6") << "StaticText6" << "The received data";
        QTest::newRow("StaticText7") << "StaticText7" << "Data for tranmission";
        QTest::newRow("TData") << "TData" << "Value to transmit";
        QTest::newRow("Button2") << "Button2" << "Measure";
        QTest::newRow("Label1") << "Label1" << "Label1";
        QTest::newRow("Label2") << "Label2" << "Label2";
    }
    void everyControlIsNamedAndDescribed()
    {
        QFETCH(QString, control);
        QFETCH(QString, name);
        auto *widget = form_->findChild<QWidget *>(control);
        QVERIFY(widget);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QVERIFY(!accessible->text(QAccessible::Description).isEmpty());
    }

    // A caption that changes is what the reader says next.
    void changedCaptionIsTheName()
    {
        ComLinks links;
        links.Map(3, QStringLiteral("/dev/comloop-test-nothing-here"));
        links.Map(4, QStringLiteral("/dev/comloop-test-nothing-here"));
        QTest::mouseClick(form_->Button1, Qt::LeftButton);
        for (QWidget *label : {static_cast<QWidget *>(form_->Label1), static_cast<QWidget *>(form_->Label2)})
            QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name),
                     QStringLiteral("The port can not open"));
    }
};

COMLOOP_TEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
