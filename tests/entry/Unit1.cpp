#include "Unit1.h"

#include <cstdio>

TForm1 *Form1 = nullptr;

TForm1::TForm1(QWidget *Owner) : TForm(Owner)
{
    Application->SetMessageBox([](const QString &text) {
        std::printf("box:[%s]\n", qPrintable(text));
        std::fflush(stdout);
    });
}

void TForm1::setupUi(TForm *)
{
    const QByteArray scenario = qgetenv("COMLOOP_ENTRY_SCENARIO");
    if (scenario == "create-throws-exception")
        throw Exception("layout is broken");
    if (scenario == "create-throws-other")
        throw 42;
    if (scenario == "handler-throws")
        QTimer::singleShot(50, this, [] { throw Exception("handler failed"); });
    QTimer::singleShot(300, this, [this] {
        std::printf("closing\n");
        std::fflush(stdout);
        close();
    });
}
