// Times a frame written into the master's cable until RData paints its value.
// The window offers nothing an outside process could watch a caption
// through, so this probe hosts the real window itself, with COM3 and COM4
// wired to pseudo-terminals, and writes each frame into COM3's far side.
#include "Unit1.h"
#include "frame.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty
{
    int farSide = -1;
    int nearSide = -1;
    QString device;
};

Pty OpenPty()
{
    Pty pty;
    char name[256] = {};
    termios raw = {};
    cfmakeraw(&raw);
    if (openpty(&pty.farSide, &pty.nearSide, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::exit(2);
    }
    pty.device = QString::fromLocal8Bit(name);
    return pty;
}

// A frame as the slave's port would send it.
struct FrameBytes
{
    std::string bytes;
    void PutString(const char *text) { bytes += text; }
    void PutChar(char ch) { bytes += ch; }
};

// Notes the moment RData starts painting the caption the probe waits for.
class PaintWatch : public QObject
{
public:
    QString expected;
    Clock::time_point paintedAt;
    QEventLoop *loop = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && loop
            && static_cast<QLabel *>(watched)->text() == expected) {
            paintedAt = Clock::now();
            loop->quit();
        }
        return false;
    }
};

void Pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    const int samples = argc > 1 ? std::atoi(argv[1]) : 50;
    QTemporaryDir home;
    QDir().mkpath(home.path() + QStringLiteral("/comloop"));
    const Pty master = OpenPty();
    const Pty slave = OpenPty();
    QFile::link(master.device, home.path() + QStringLiteral("/comloop/com3"));
    QFile::link(slave.device, home.path() + QStringLiteral("/comloop/com4"));
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());

    Application->Initialize();
    Application->CreateForm(Form1);
    Form1->show();
    Pause(500);
    Form1->Button1->click();
    if (!Form1->CommPort1->GetOpen() || !Form1->CommPort2->GetOpen()) {
        std::fprintf(stderr, "rdata_latency: the ports did not open\n");
        return 1;
    }

    PaintWatch watch;
    Form1->RData->installEventFilter(&watch);
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        const int value = 1000 + i;
        FrameBytes frame;
        PutFrame(frame, value);
        watch.expected = QString::number(value);
        watch.paintedAt = {};
        QEventLoop loop;
        watch.loop = &loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        const Clock::time_point sent = Clock::now();
        if (::write(master.farSide, frame.bytes.data(), frame.bytes.size()) != ssize_t(frame.bytes.size())) {
            std::perror("rdata_latency: write");
            return 1;
        }
        loop.exec();
        watch.loop = nullptr;
        if (watch.paintedAt == Clock::time_point{}) {
            std::fprintf(stderr, "rdata_latency: %d never showed\n", value);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(watch.paintedAt - sent).count());
        Pause(20);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("median_ms=%.3f min_ms=%.3f max_ms=%.3f samples=%d\n", ms[ms.size() / 2], ms.front(),
                ms.back(), samples);

    Form1->close();
    Application->Finalize();
    return 0;
}
