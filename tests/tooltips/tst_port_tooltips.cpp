#include "test_main.h"
#include "window_on_cable.h"

#include <QFile>
#include <QHelpEvent>
#include <QProcess>
#include <QRegularExpression>

#include <memory>

namespace {

const QString nowhere = QStringLiteral("/dev/comloop-test-nothing-here");

// What a label's tooltip said at the moment the label appeared.
class ToolTipWhenShown : public QObject
{
public:
    explicit ToolTipWhenShown(QWidget *label) : QObject(label) { label->installEventFilter(this); }
    QString seen;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            seen = static_cast<QWidget *>(watched)->toolTip();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// The real window over pseudo-terminals: COM3 and COM4 lead to two cables,
// COM7 to a device that is not there.
class TestPortTooltips : public WindowOnCable
{
    Q_OBJECT

    QString Expand(QString text) const
    {
        return text.replace(QStringLiteral("{master}"), master_->Device())
            .replace(QStringLiteral("{slave}"), slave_->Device())
            .replace(QStringLiteral("{links}"), links_->Folder());
    }

    // Asks the field for its tooltip the way the mouse does.
    void HoverOver(QWidget *widget)
    {
        // The headless platform cannot raise the tooltip window, and says so.
        if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
            QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
        QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(widget, &help);
    }

private slots:
    void init()
    {
        WindowOnCable::init();
        links_->Map(7, nowhere);
    }

    void numberFieldSaysWhereItLeads_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("hint");
        const QString uart = QFile::exists(QStringLiteral("/dev/ttyS29"))
            ? QStringLiteral("COM30 → /dev/ttyS29")
            : QStringLiteral("COM30 → /dev/ttyS29 (no such device)");
        QTest::newRow("master at start") << "CSpinEdit1" << 3 << "COM3 → {master} (via {links}/com3)";
        QTest::newRow("slave at start") << "CSpinEdit2" << 4 << "COM4 → {slave} (via {links}/com4)";
        QTest::newRow("master swapped") << "CSpinEdit1" << 4 << "COM4 → {slave} (via {links}/com4)";
        QTest::newRow("no link: uart") << "CSpinEdit1" << 30 << uart;
        QTest::newRow("no link: the first uart")
            << "CSpinEdit1" << 1
            << (QFile::exists(QStringLiteral("/dev/ttyS0")) ? QStringLiteral("COM1 → /dev/ttyS0")
                                                            : QStringLiteral("COM1 → /dev/ttyS0 (no such device)"));
        QTest::newRow("dangling link")
            << "CSpinEdit2" << 7 << "COM7 → " + nowhere + " (via {links}/com7; no such device)";
        QTest::newRow("zero") << "CSpinEdit2" << 0 << "COM0 names no port: COM numbers start at 1";
        QTest::newRow("negative") << "CSpinEdit2" << -3 << "COM-3 names no port: COM numbers start at 1";
    }
    void numberFieldSaysWhereItLeads()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QFETCH(QString, hint);
        auto *spin = form_->findChild<TCSpinEdit *>(field);
        QVERIFY(spin);
        spin->setValue(value);
        QCOMPARE(spin->toolTip(), Expand(hint));
        // Typing, not just stepping, updates it too.
        spin->setValue(value == 1 ? 2 : 1);
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, QString::number(value));
        QCOMPARE(spin->toolTip(), Expand(hint));
    }

    // A cable started while the window is open shows up the next time the
    // tooltip is shown.
    void newLinkIsSeenOnHover()
    {
        form_->CSpinEdit2->setValue(9);
        QVERIFY(form_->CSpinEdit2->toolTip().startsWith(QStringLiteral("COM9 → /dev/ttyS8")));
        links_->Map(9, slave_->Device());
        HoverOver(form_->CSpinEdit2);
        QCOMPARE(form_->CSpinEdit2->toolTip(), Expand(QStringLiteral("COM9 → {slave} (via {links}/com9)")));
    }

    void missingDeviceIsExplainedBeforeTheLabelShows()
    {
        ToolTipWhenShown seen(form_->Label1);
        form_->CSpinEdit1->setValue(7);
        Click(form_->Button1);
        QVERIFY(form_->Label1->isVisible());
        QCOMPARE(form_->Label1->text(), QStringLiteral("The port can not open"));
        QVERIFY2(seen.seen.startsWith("COM7 (" + nowhere + "): No such file or directory.\n"),
                 qPrintable(seen.seen));
        QVERIFY2(seen.seen.contains(Expand("COM7 leads to " + nowhere + " through {links}/com7.")),
                 qPrintable(seen.seen));
        QCOMPARE(form_->Label1->toolTip(), seen.seen);
        QVERIFY(form_->Label2->isHidden());
    }

    // Who holds the slave's device decides the advice: another program is
    // to be closed, while the window's own master calls for other numbers.
    // A screen reader hears the same as the tooltip shows.
    void portHeldElsewhereIsExplained_data()
    {
        QTest::addColumn<int>("masterNumber");
        QTest::addColumn<int>("slaveNumber");
        QTest::addColumn<QString>("says");
        QTest::newRow("another program")
            << 3 << 4
            << "Another program holds this port: process {pid} (sleep). Close it, then press Open Ports again.";
        QTest::newRow("the master, by the same number")
            << 3 << 3 << "COM3 is the other side's number too, and one device cannot be both ends of the cable.";
        QTest::newRow("the master, through another number")
            << 5 << 4 << "COM4 leads to the same device as COM5, which the other side of this window holds";
    }
    void portHeldElsewhereIsExplained()
    {
        QFETCH(int, masterNumber);
        QFETCH(int, slaveNumber);
        QFETCH(QString, says);
        QProcess holder;
        if (masterNumber == 3 && slaveNumber == 4) {
            holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(holder.waitForStarted());
            says.replace(QStringLiteral("{pid}"), QString::number(holder.processId()));
            QFile lock(LockPath(slave_->Device()));
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(holder.processId()) + '\n');
        }
        links_->Map(5, slave_->Device());
        form_->CSpinEdit1->setValue(masterNumber);
        form_->CSpinEdit2->setValue(slaveNumber);
        ToolTipWhenShown seen(form_->Label2);
        Click(form_->Button1);
        if (holder.state() != QProcess::NotRunning) {
            QFile::remove(LockPath(slave_->Device()));
            holder.kill();
            holder.waitForFinished();
        }
        QVERIFY(form_->CommPort1->GetOpen());
        QVERIFY(form_->Label2->isVisible());
        QVERIFY2(seen.seen.startsWith(QStringLiteral("COM%1 (").arg(slaveNumber)), qPrintable(seen.seen));
        QVERIFY2(seen.seen.contains(says), qPrintable(seen.seen));
        QCOMPARE(form_->Label2->accessibleDescription(), seen.seen);
        QVERIFY(form_->Label1->toolTip().isEmpty());
    }

    void numberBelowOneIsExplained()
    {
        form_->CSpinEdit2->setValue(0);
        Click(form_->Button1);
        QVERIFY(form_->Label2->isVisible());
        QCOMPARE(form_->Label2->toolTip(),
                 QStringLiteral("COM0 names no port: numbers start at 1.\nThe COM numbers stay as they are until "
                                "the window closes: close it and start comloop again with a COM number from 1 up."));
    }

    // A port that closes on its own (the adapter pulled) has its reason on
    // the label by the time the label appears.
    void unpluggedPortLeavesItsReason()
    {
        ToolTipWhenShown seen(form_->Label1);
        OpenBoth();
        master_->HangUp();
        QTRY_VERIFY(form_->Label1->isVisible());
        QVERIFY2(seen.seen.startsWith(QStringLiteral("COM3 (%1) went away: ").arg(master_->Device())),
                 qPrintable(seen.seen));
        QVERIFY2(seen.seen.contains(QStringLiteral("press Open Ports")), qPrintable(seen.seen));
    }
};

COMLOOP_TEST_MAIN(TestPortTooltips)
#include "tst_port_tooltips.moc"
