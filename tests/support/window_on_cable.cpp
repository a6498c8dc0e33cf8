#include "window_on_cable.h"

#include <QRegularExpression>
#include <QTest>

void WindowOnCable::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QVERIFY(OpenWindow());
}

void WindowOnCable::cleanup()
{
    CloseWindow();
}

bool WindowOnCable::OpenWindow()
{
    links_ = std::make_unique<ComLinks>();
    master_ = std::make_unique<PtyEnd>();
    slave_ = std::make_unique<PtyEnd>();
    links_->Map(3, master_->Device());
    links_->Map(4, slave_->Device());
    boxes_.clear();
    Application->SetMessageBox([this](const QString &text) { boxes_ << text; });
    form_ = MakeForm<TForm1>();
    form_->show();
    return QTest::qWaitForWindowExposed(form_.get());
}

void WindowOnCable::CloseWindow()
{
    form_.reset();
    master_.reset();
    slave_.reset();
    links_.reset();
    Application->SetMessageBox({});
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(QLatin1Char('\n'))));
}

void WindowOnCable::Click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void WindowOnCable::OpenBoth()
{
    Click(form_->Button1);
    VerifyOpenState();
}

void WindowOnCable::VerifyClosedState()
{
    QCOMPARE(form_->Button1->text(), QStringLiteral("Open Ports"));
    QVERIFY(form_->CSpinEdit1->isEnabled());
    QVERIFY(form_->CSpinEdit2->isEnabled());
    QVERIFY(!form_->Button2->isEnabled());
    QVERIFY(form_->Label1->isHidden());
    QVERIFY(form_->Label2->isHidden());
}

void WindowOnCable::VerifyOpenState()
{
    QVERIFY(form_->CommPort1->GetOpen());
    QVERIFY(form_->CommPort2->GetOpen());
    QCOMPARE(form_->Button1->text(), QStringLiteral("Close Ports"));
    QVERIFY(!form_->CSpinEdit1->isEnabled());
    QVERIFY(!form_->CSpinEdit2->isEnabled());
    QVERIFY(form_->Button2->isEnabled());
    QVERIFY(form_->Label1->isHidden());
    QVERIFY(form_->Label2->isHidden());
}
