#include "lock_file_posix.h"
#include "test_main.h"
#include "window_on_cable.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace {

constexpr QFile::Permissions kEveryoneReadsWrites = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
    | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;

void WriteLock(const QString &device, const QByteArray &text)
{
    QFile lock(LockPath(device));
    QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.write(text);
}
// A process id that belonged to a program which has ended.
qint64 DeadPid()
{
    QProcess done;
    done.start(QStringLiteral("true"), {});
    done.waitForStarted();
    const qint64 pid = done.processId();
    done.waitForFinished();
    return pid;
}
} // namespace

// Ports that other programs hold, or once held and left their lock file
// behind.
class TestPortLock : public WindowOnCable
{
    Q_OBJECT

    // What the port component tells a user who is not root when it opens
    // COM3. Tests run as root, who may signal and remove anything; the
    // checks have to hold for a user who may not, against a device that user
    // could open if the lock were misread.
    QByteArray OpenedAsNobody()
    {
        if (!QFile::setPermissions(master_->Device(), kEveryoneReadsWrites)
            || !QFile::setPermissions(QFileInfo(links_->Folder()).path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                          | QFile::ExeOther))
            return "cannot share the device with nobody";
        QProcess nobody;
        nobody.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                      QStringLiteral("--clear-groups"), QStringLiteral(PORT_HOLDER), QStringLiteral("3")});
        if (!nobody.waitForReadyRead())
            return "port_holder said nothing";
        const QByteArray said = nobody.readLine().trimmed();
        nobody.closeWriteChannel();
        nobody.waitForFinished();
        return said;
    }

    // The error a user who is not root, and who heeds no lock, gets opening
    // `device` itself; 0 when it opened. Root, who runs the tests, is kept
    // out by no device.
    static int DirectOpenErrorAsNobody(const QString &device)
    {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || !QFile::setPermissions(device, kEveryoneReadsWrites))
            return -1;
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        const QByteArray path = QFile::encodeName(device);
        const pid_t child = ::fork();
        if (child == 0) {
            const bool nobodyNow = ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
            ::_exit(nobodyNow ? (::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : errno) : 255);
        }
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private slots:
    void portHeldByAnotherProgram_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::newRow("another port in this program") << QStringLiteral("here");
        QTest::newRow("another comloop") << QStringLiteral("comloop");
        QTest::newRow("socat with its lock file") << QStringLiteral("socat");
        QTest::newRow("a UUCP lock of a running program") << QStringLiteral("uucp");
        QTest::newRow("minicom's lock, an hour old") << QStringLiteral("minicom");
        QTest::newRow("a program of another user") << QStringLiteral("other user");
        QTest::newRow("Qt's lock of a program whose file was replaced") << QStringLiteral("replaced");
    }
    void portHeldByAnotherProgram()
    {
        QFETCH(QString, holder);
        const QString device = master_->Device();
        TCommPort here(nullptr);
        QProcess other;
        QTemporaryDir programs;
        if (holder == QStringLiteral("replaced")) {
            // Upgraded while it runs: /proc names its program "... (deleted)".
            const QString program = programs.filePath(QStringLiteral("holder"));
            QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
            other.start(program, {QStringLiteral("60")});
            QVERIFY(other.waitForStarted());
            QVERIFY(QFile::remove(program));
            WriteLock(device, QByteArray::number(other.processId()) + '\n' + QFile::encodeName(program) + "\nhost\n");
        } else if (holder == QStringLiteral("here")) {
            here.SetPath(device);
            here.SetOpen(true);
            QVERIFY(here.GetOpen());
            // A program that heeds no lock is kept out by the device itself.
            QCOMPARE(DirectOpenErrorAsNobody(device), EBUSY);
        } else if (holder == QStringLiteral("comloop")) {
            other.start(QStringLiteral(PORT_HOLDER), {QStringLiteral("3")});
            QVERIFY(other.waitForReadyRead());
            QCOMPARE(other.readLine().trimmed(), QByteArray("open"));
        } else if (holder == QStringLiteral("socat")) {
            other.start(QStringLiteral("socat"),
                        {QStringLiteral("-u"), device + QStringLiteral(",raw,lockfile=") + LockPath(device),
                         QStringLiteral("/dev/null")});
            QVERIFY(other.waitForStarted());
            QVERIFY(WaitFor([&] { return QFile::exists(LockPath(device)); }));
        } else {
            other.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(other.waitForStarted());
            const QByteArray pid = QByteArray::number(other.processId()).rightJustified(10, ' ');
            if (holder == QStringLiteral("uucp")) {
                WriteLock(device, pid + '\n');
            } else if (holder == QStringLiteral("other user")) {
                WriteLock(device, pid + '\n');
                const QByteArray said = OpenedAsNobody();
                QVERIFY2(said.contains("locked by process " + pid.trimmed()), said.constData());
            } else {
                WriteLock(device, pid + " minicom root\n");
                QFile lock(LockPath(device));
                QVERIFY(lock.open(QIODevice::ReadWrite));
                QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
            }
        }

        Click(form_->Button1);
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(form_->CommPort2->GetOpen());
        QVERIFY(form_->Label1->isVisible());
        QCOMPARE(form_->Label1->text(), QStringLiteral("The port can not open"));
        QCOMPARE(form_->CommPort1->GetFailure().step, PortFailure::Lock);
        QVERIFY2(form_->Label1->toolTip().section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral("locked by process")),
                 qPrintable(form_->Label1->toolTip()));
        QVERIFY(QFile::exists(LockPath(device)));

        here.SetOpen(false);
        // Let go, the device is every user's again, not only root's.
        if (holder == QStringLiteral("here"))
            QCOMPARE(OpenedAsNobody(), QByteArray("open"));
        other.closeWriteChannel();
        if (!other.waitForFinished(1000)) {
            other.terminate();
            QVERIFY(other.state() == QProcess::NotRunning || other.waitForFinished());
        }
        if (holder == QStringLiteral("uucp") || holder == QStringLiteral("minicom")
            || holder == QStringLiteral("other user") || holder == QStringLiteral("replaced"))
            QFile::remove(LockPath(device));
        QVERIFY(!QFile::exists(LockPath(device)));
        Click(form_->Button1);
        VerifyOpenState();
    }

    // Whatever anyone put where the master's lock goes (the lock folder is
    // everybody's): the open fails at once and says which file is wrong and
    // how, or goes ahead where the lock is stale. Nothing hangs, spins or
    // reads without end, and no port is opened from under a live owner.
    void plantedLockFile_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("says"); // empty: the lock is stale and the port opens
        QTest::newRow("a named pipe") << "fifo" << "is a named pipe";
        QTest::newRow("a link to /dev/zero") << "zero" << "is a symbolic link to /dev/zero";
        QTest::newRow("a 1 GiB sparse file") << "sparse" << "is 1 GiB long";
        QTest::newRow("a directory") << "directory" << "is a directory";
        QTest::newRow("a dangling link") << "dangling" << "is a symbolic link to /nonexistent/comloop";
        QTest::newRow("garbage") << "garbage" << "names no process (\"garbage?\")";
        QTest::newRow("an empty file") << "empty" << "is empty";
        QTest::newRow("a process number too large, two minutes old") << "large pid" << "";
        QTest::newRow("minicom's lock of an ended program") << "minicom" << "";
        QTest::newRow("a stale lock padded to the largest a lock may be") << "padded" << "";
        QTest::newRow("a process number of 0") << "pid 0" << "";
        QTest::newRow("a device name too long for a lock") << "long name" << "a file name holds at most 255";
        // Locked fine; the file is just no terminal.
        QTest::newRow("the longest device name a lock can have") << "longest name" << "Inappropriate ioctl";
    }
    void plantedLockFile()
    {
        QFETCH(QString, planted);
        QFETCH(QString, says);
        const QString device = master_->Device();
        const QString lock = LockPath(device);
        // Once the port is open the lock is its own, and goes when it closes.
        const auto removePlanted = qScopeGuard([&] {
            if (!form_->CommPort1->GetOpen() && !QDir().rmdir(lock))
                QFile::remove(lock);
        });
        QTemporaryDir longNames;
        if (planted == QStringLiteral("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0644), 0);
        } else if (planted == QStringLiteral("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), lock));
        } else if (planted == QStringLiteral("sparse")) {
            QFile file(lock);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 30));
        } else if (planted == QStringLiteral("directory")) {
            QVERIFY(QDir().mkdir(lock));
        } else if (planted == QStringLiteral("dangling")) {
            QVERIFY(QFile::link(QStringLiteral("/nonexistent/comloop"), lock));
        } else if (planted == QStringLiteral("garbage")) {
            WriteLock(device, "garbage\x01\n");
        } else if (planted == QStringLiteral("empty")) {
            WriteLock(device, {});
        } else if (planted == QStringLiteral("large pid")) {
            // 2^32 + 1: cut down to a pid_t it would be 1, which always runs.
            WriteLock(device, "4294967297\n");
            QFile file(lock);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime));
        } else if (planted == QStringLiteral("minicom")) {
            WriteLock(device, QByteArray::number(DeadPid()).rightJustified(10, ' ') + " minicom root\n");
        } else if (planted == QStringLiteral("padded")) {
            WriteLock(device, (QByteArray::number(DeadPid()) + '\n').leftJustified(1024, ' '));
        } else if (planted == QStringLiteral("pid 0")) {
            WriteLock(device, "0\n");
        } else {
            // "LCK.." and the path with its slashes made underscores: 260
            // bytes, or exactly the 255 a file name may have.
            const qsizetype pathBytes = planted == QStringLiteral("long name") ? 255 : 250;
            const QString file = longNames.filePath(QString(pathBytes - longNames.path().size() - 1, QLatin1Char('x')));
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
            links_->Map(3, file);
        }

        QElapsedTimer clock;
        clock.start();
        Click(form_->Button1);
        const qint64 ms = clock.elapsed();
        // A generous bound for two opens that take a few milliseconds: what
        // it catches is a wait or a read without end.
        QVERIFY2(ms < 100, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        QVERIFY(form_->CommPort2->GetOpen());
        // The reason is the first line of what the label's tooltip says.
        const QString reason = form_->Label1->toolTip().section(QLatin1Char('\n'), 0, 0);
        if (says.isEmpty()) {
            VerifyOpenState();
            QFile own(lock);
            QVERIFY(own.open(QIODevice::ReadOnly));
            // As UUCP writes it, "%10d\n", and readable by every program
            // that honours it.
            const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
            QCOMPARE(own.readAll(), pid.rightJustified(10, ' ') + '\n');
            QVERIFY(own.permissions() & QFile::ReadOther);
            return;
        }
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(form_->Label1->isVisible());
        QVERIFY2(reason.contains(says), qPrintable(reason));
        QVERIFY2(reason.contains(planted.endsWith(QStringLiteral(" name")) ? form_->CommPort1->GetDevice() : lock),
                 qPrintable(reason));
    }

    // A lock left by a program that is gone does not keep the port from
    // the next one to come, and what this window locked it also unlocks.
    void staleLockIsTakenOver_data()
    {
        QTest::addColumn<QString>("left");
        QTest::newRow("comloop killed") << QStringLiteral("killed");
        QTest::newRow("UUCP lock of an ended program") << QStringLiteral("uucp");
        QTest::newRow("socat lock of an ended program") << QStringLiteral("socat");
        QTest::newRow("comloop's lock, its number now another program's") << QStringLiteral("reused");
    }
    void staleLockIsTakenOver()
    {
        QFETCH(QString, left);
        const QString device = master_->Device();
        QProcess reuser;
        if (left == QStringLiteral("killed")) {
            QProcess other;
            other.start(QStringLiteral(PORT_HOLDER), {QStringLiteral("3")});
            QVERIFY(other.waitForReadyRead());
            QCOMPARE(other.readLine().trimmed(), QByteArray("open"));
            ::kill(pid_t(other.processId()), SIGKILL);
            QVERIFY(other.waitForFinished());
        } else if (left == QStringLiteral("uucp")) {
            WriteLock(device, QByteArray::number(DeadPid()).rightJustified(10, ' ') + '\n');
        } else if (left == QStringLiteral("reused")) {
            reuser.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(reuser.waitForStarted());
            WriteLock(device, QByteArray::number(reuser.processId()) + "\nport_holder\nhost\n");
        } else {
            WriteLock(device, QByteArray::number(DeadPid()));
        }
        QVERIFY(QFile::exists(LockPath(device)));

        Click(form_->Button1);
        reuser.kill();
        reuser.waitForFinished();
        VerifyOpenState();
        QVERIFY(QFile::exists(LockPath(device)));
        QVERIFY(QFile::exists(LockPath(form_->CommPort2->GetDevice())));
        form_->close();
        QVERIFY(!form_->CommPort1->GetOpen());
        QVERIFY(!QFile::exists(LockPath(device)));
        QVERIFY(!QFile::exists(LockPath(form_->CommPort2->GetDevice())));
    }

    // A lock whose program has ended, but which belongs to root: another
    // user may not remove it from the shared folder, and is told so.
    void staleLockOfAnotherUser()
    {
        WriteLock(master_->Device(), QByteArray::number(DeadPid()).rightJustified(10, ' ') + '\n');
        const QByteArray said = OpenedAsNobody();
        QFile::remove(LockPath(master_->Device()));
        QVERIFY2(said.contains("is stale, but cannot be removed (Operation not permitted)"), said.constData());
    }

    // A lock is removed only while it is the very file that was judged: one
    // put in its place meanwhile is another program's, and stays.
    void lockReplacedAfterTheLookStays()
    {
        const QString lock = LockPath(master_->Device());
        WriteLock(master_->Device(), QByteArray::number(DeadPid()) + '\n');
        const LockFileLook seen = LookAtLockFile(lock);
        QCOMPARE(seen.shape, LockFileLook::Text);
        const QString other = lock + QStringLiteral(".new");
        QFile replacement(other);
        QVERIFY(replacement.open(QIODevice::WriteOnly));
        replacement.write("  99999\n");
        replacement.close();
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(lock).constData()) == 0);
        QCOMPARE(RemoveLockFile(lock, seen), Removal::Changed);
        QVERIFY(QFile::exists(lock));
        QVERIFY(QFile::remove(lock));
    }

    // A link swapped in for a plain lock between the look and the open is
    // not followed: what it leads to, here the lock of a live program, is
    // never read as the lock. The swap is raced until it has come between
    // them a few times.
    void linkSwappedInAfterTheLook()
    {
        QTemporaryDir folder;
        const auto path = [&](const char *name) { return QFile::encodeName(folder.filePath(QLatin1String(name))); };
        const QByteArray lock = path("LCK..ttyS9");
        QFile plain(QString::fromLocal8Bit(path("plain")));
        QFile live(QString::fromLocal8Bit(path("live")));
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("     11111\n") > 0);
        QVERIFY(live.open(QIODevice::WriteOnly) && live.write("     22222\n") > 0);
        plain.close();
        live.close();
        std::atomic<bool> stop = false;
        std::thread swapper([&] {
            while (!stop) {
                ::link(path("plain").constData(), path("next").constData());
                ::rename(path("next").constData(), lock.constData());
                ::symlink(path("live").constData(), path("next").constData());
                ::rename(path("next").constData(), lock.constData());
            }
        });
        const auto joined = qScopeGuard([&] {
            stop = true;
            swapper.join();
        });
        int between = 0;
        for (int i = 0; i < 1000000 && between < 20; ++i) {
            const LockFileLook look = LookAtLockFile(QString::fromLocal8Bit(lock));
            QVERIFY2(!look.text.contains("22222"), look.text.constData());
            between += look.shape == LockFileLook::Unreadable && look.error == ELOOP;
        }
        QVERIFY(between > 0);
    }

    // Something plants a pipe or a link to /dev/zero where the lock goes and
    // removes it again, over and over, while the port opens and closes: each
    // open ends at once, one way or the other, and nothing piles up.
    void lockPlantedAndRemovedMeanwhile_data()
    {
        QTest::addColumn<bool>("pipe"); // else a link to /dev/zero
        QTest::newRow("a named pipe") << true;
        QTest::newRow("a link to /dev/zero") << false;
    }
    void lockPlantedAndRemovedMeanwhile()
    {
        QFETCH(bool, pipe);
        const QByteArray lock = QFile::encodeName(LockPath(master_->Device()));
        std::atomic<bool> stop = false;
        std::thread planter([&] {
            while (!stop) {
                const bool made = pipe ? ::mkfifo(lock.constData(), 0644) == 0
                                       : ::symlink("/dev/zero", lock.constData()) == 0;
                ::usleep(100);
                if (made)
                    ::unlink(lock.constData());
                ::usleep(100);
            }
        });
        const auto joined = qScopeGuard([&] {
            stop = true;
            planter.join();
        });
        TCommPort *port = form_->CommPort1;
        port->SetComNumber(3);
        const qint64 rssBefore = StatusKb("VmRSS:");
        qint64 slowest = 0;
        int opened = 0;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer clock;
            clock.start();
            port->SetOpen(true);
            slowest = std::max(slowest, clock.elapsed());
            opened += port->GetOpen();
            port->SetOpen(false);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        const qint64 grown = StatusKb("VmRSS:") - rssBefore;
        qInfo("200 opens: %d opened, slowest %lld ms, RSS grew %lld kB", opened, slowest, grown);
        QVERIFY2(slowest < 1000, qPrintable(QString::number(slowest)));
        QVERIFY(opened > 0);
#ifndef __SANITIZE_ADDRESS__
        // Freed memory is held back on purpose under AddressSanitizer.
        QVERIFY2(grown < 4096, qPrintable(QString::number(grown)));
#endif
    }
};

COMLOOP_TEST_MAIN(TestPortLock)
#include "tst_port_lock.moc"
