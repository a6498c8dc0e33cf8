#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Outcome
{
    int exitCode = -1;
    QString output; // stdout and stderr together
};

Outcome Run(const QString &program, const QStringList &arguments, int ms = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(ms) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString::fromLocal8Bit(process.readAll())};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

const QString buildDir = QStringLiteral(BUILD_DIR);
const QString desktopEntry = QStringLiteral("share/applications/io.github.comloop.Comloop.desktop");

} // namespace

// What `cmake --install` and `cpack -G DEB` hand to a Linux desktop.
class TestPackaging : public QObject
{
    Q_OBJECT

    QTemporaryDir prefix_;
    QTemporaryDir packages_;
    QTemporaryDir unpacked_; // the package's files, as dpkg would lay them out
    QString deb_;

    QString Field(const QString &name)
    {
        const Outcome field = Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb_, name});
        return field.exitCode == 0 ? field.output.trimmed() : QString();
    }

private slots:
    void initTestCase()
    {
        const Outcome install = Run(QStringLiteral("cmake"),
                                    {QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), prefix_.path()});
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
        // Packed by someone whose umask keeps new folders from others: the
        // package's folders must come out 0755 all the same.
        const mode_t previous = ::umask(027);
        const Outcome pack = Run(QStringLiteral("cpack"),
                                 {QStringLiteral("--config"), buildDir + QStringLiteral("/CPackConfig.cmake"),
                                  QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages_.path()});
        ::umask(previous);
        QVERIFY2(pack.exitCode == 0, qPrintable(pack.output));
        deb_ = packages_.filePath(QStringLiteral("comloop_1.0.0_amd64.deb"));
        QVERIFY2(QFileInfo::exists(deb_), qPrintable(pack.output));
        const Outcome unpack = Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb_, unpacked_.path()});
        QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    }

    void installTreeHasItsFiles()
    {
        const QFileInfo program(prefix_.filePath(QStringLiteral("bin/comloop")));
        QVERIFY(program.isFile() && program.isExecutable());
        QVERIFY(QFileInfo(prefix_.filePath(desktopEntry)).isFile());
        const QImage icon(prefix_.filePath(QStringLiteral("share/icons/hicolor/32x32/apps/comloop.png")), "PNG");
        QCOMPARE(icon.size(), QSize(32, 32));
    }

    // The checkers that Debian and software centres run on what we ship.
    // Each must pass and say nothing but the line given, which is noise.
    void checkersFindNothing_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("noise");
        QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList{prefix_.filePath(desktopEntry)}
                                       << QString();
        // Errors and warnings fail; "I:" notes are not shown.
        QTest::newRow("lintian") << "lintian" << QStringList{QStringLiteral("--fail-on"), QStringLiteral("error,warning"), deb_}
                                 << "running with root privileges is not recommended!";
        // The metainfo file, and that its desktop entry and icon are in the
        // package beside it. No network: the file has no links to check.
        QTest::newRow("appstream")
            << "appstreamcli"
            << QStringList{QStringLiteral("validate-tree"), QStringLiteral("--no-net"), unpacked_.path()}
            << QString::fromUtf8("io.github.comloop.Comloop.metainfo.xml|\u2714 Validation was successful.*");
    }
    void checkersFindNothing()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, noise);
        const Outcome check = Run(program, arguments);
        QVERIFY2(check.exitCode == 0, qPrintable(check.output));
        const QRegularExpression quiet(QStringLiteral("^(%1)?$").arg(noise));
        for (const QString &line : check.output.split(QLatin1Char('\n')))
            QVERIFY2(quiet.match(line.trimmed()).hasMatch(), qPrintable(check.output));
    }

    void installedFilesSay_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("line");
        QTest::newRow("desktop entry runs comloop") << desktopEntry << "Exec=comloop";
        QTest::newRow("desktop entry's icon") << desktopEntry << "Icon=comloop";
        QTest::newRow("desktop entry's menu") << desktopEntry << "Categories=Utility;";
        QTest::newRow("desktop entry's type") << desktopEntry << "Type=Application";
        const QString copyright = QStringLiteral("share/doc/comloop/copyright");
        QTest::newRow("copyright is machine-readable")
            << copyright << "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/";
        QTest::newRow("copyright holder") << copyright << "Copyright: 2026 the comloop authors";
        QTest::newRow("licence") << copyright << "License: Expat";
        QTest::newRow("licence text, empty line") << copyright << " .";
    }
    void installedFilesSay()
    {
        QFETCH(QString, file);
        QFETCH(QString, line);
        QFile installed(prefix_.filePath(file));
        QVERIFY2(installed.open(QIODevice::ReadOnly), qPrintable(installed.fileName()));
        const QStringList lines = QString::fromUtf8(installed.readAll()).split(QLatin1Char('\n'));
        QVERIFY2(lines.contains(line), qPrintable(line));
    }

    void debianPackageMetadata_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("contains");
        QTest::newRow("name") << "Package" << "comloop";
        QTest::newRow("core library") << "Depends" << "libqt6core6";
        QTest::newRow("widgets library") << "Depends" << "libqt6widgets6";
        QTest::newRow("platform plugins") << "Depends" << "qt6-qpa-plugins";
        QTest::newRow("the layout's font") << "Depends" << "fonts-liberation2";
        QTest::newRow("virtual cable's socat") << "Recommends" << "socat";
        QTest::newRow("maintainer") << "Maintainer" << "comloop";
        QTest::newRow("section") << "Section" << "utils";
        QTest::newRow("version") << "Version" << "1.0.0";
    }
    void debianPackageMetadata()
    {
        QFETCH(QString, field);
        QFETCH(QString, contains);
        const QString value = Field(field);
        QVERIFY2(value.contains(contains), qPrintable(field + ": " + value));
    }

    // Each file the package installs, and what `file` makes of it there.
    void debianPackageHoldsTheInstallTree_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileSays");
        QTest::newRow("program, stripped") << "usr/bin/comloop" << "ELF 64-bit .*, stripped$";
        QTest::newRow("virtual cable") << "usr/bin/comloop-virtual-cable" << "shell script.* executable";
        QTest::newRow("check, stripped") << "usr/bin/comloop-check" << "ELF 64-bit .*, stripped$";
        QTest::newRow("menu entry") << "usr/" + desktopEntry << "text";
        QTest::newRow("metainfo") << "usr/share/metainfo/io.github.comloop.Comloop.metainfo.xml" << "XML";
        QTest::newRow("manual") << "usr/share/man/man1/comloop.1.gz" << "gzip compressed";
        QTest::newRow("cable's manual") << "usr/share/man/man1/comloop-virtual-cable.1.gz" << "gzip compressed";
        QTest::newRow("check's manual") << "usr/share/man/man1/comloop-check.1.gz" << "gzip compressed";
        QTest::newRow("copyright") << "usr/share/doc/comloop/copyright" << "text";
        QTest::newRow("changelog") << "usr/share/doc/comloop/changelog.gz" << "gzip compressed";
        QTest::newRow("scalable icon") << "usr/share/icons/hicolor/scalable/apps/comloop.svg" << "SVG";
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString name = QStringLiteral("%1x%1").arg(size);
            QTest::addRow("icon %s", qPrintable(name))
                << QStringLiteral("usr/share/icons/hicolor/%1/apps/comloop.png").arg(name)
                << QStringLiteral("PNG image data, %1 x %1, 8-bit/color RGBA").arg(size);
        }
    }
    void debianPackageHoldsTheInstallTree()
    {
        QFETCH(QString, path);
        QFETCH(QString, fileSays);
        const QString file = unpacked_.filePath(path);
        QVERIFY2(QFileInfo(file).isFile(), qPrintable(path));
        const Outcome kind = Run(QStringLiteral("file"), {QStringLiteral("-b"), file});
        QVERIFY2(QRegularExpression(fileSays).match(kind.output.trimmed()).hasMatch(), qPrintable(kind.output));
    }

    void debianPackageHoldsNothingElse()
    {
        const Outcome listing = Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb_});
        QCOMPARE(listing.exitCode, 0);
        // Nothing of the build or the tests leaks in.
        QVERIFY2(!listing.output.contains(QStringLiteral("tst_")), qPrintable(listing.output));
        QVERIFY2(!listing.output.contains(QStringLiteral(".a\n")), qPrintable(listing.output));
    }

    // The icons show the desktop through their corners, and the window
    // icon compiled into the program keeps to the few colours it is meant
    // to have.
    void iconsAreTransparent_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("maxColours"); // 0: any number
        QTest::newRow("theme PNG")
            << unpacked_.filePath(QStringLiteral("usr/share/icons/hicolor/48x48/apps/comloop.png")) << 48 << 0;
        QTest::newRow("window icon XPM") << buildDir + QStringLiteral("/icons/xpm/comloop.xpm") << 32 << 16;
    }
    void iconsAreTransparent()
    {
        QFETCH(QString, file);
        QFETCH(int, size);
        QFETCH(int, maxColours);
        const QImage icon = QImage(file).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(icon.size(), QSize(size, size));
        for (const QPoint corner : {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)})
            QCOMPARE(qAlpha(icon.pixel(corner)), 0);
        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                colours.insert(icon.pixel(x, y));
        QVERIFY2(colours.size() > 2, "a picture, not a blank");
        if (maxColours > 0)
            QVERIFY2(colours.size() <= maxColours, qPrintable(QString::number(colours.size())));
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
