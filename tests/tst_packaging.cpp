#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        const Outcome pack = Run(QStringLiteral("cpack"),
                                 {QStringLiteral("--config"), buildDir + QStringLiteral("/CPackConfig.cmake"),
                                  QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages_.path()});
        QVERIFY2(pack.exitCode == 0, qPrintable(pack.output));
        deb_ = packages_.filePath(QStringLiteral("comloop_1.0.0_amd64.deb"));
        QVERIFY2(QFileInfo::exists(deb_), qPrintable(pack.output));
    }

    void installTreeHasItsFiles()
    {
        const QFileInfo program(prefix_.filePath(QStringLiteral("bin/comloop")));
        QVERIFY(program.isFile() && program.isExecutable());
        QVERIFY(QFileInfo(prefix_.filePath(desktopEntry)).isFile());
        const QImage icon(prefix_.filePath(QStringLiteral("share/icons/hicolor/32x32/apps/comloop.png")), "PNG");
        QCOMPARE(icon.size(), QSize(32, 32));
    }

    void desktopEntryIsValid()
    {
        const Outcome check = Run(QStringLiteral("desktop-file-validate"), {prefix_.filePath(desktopEntry)});
        QVERIFY2(check.exitCode == 0 && check.output.isEmpty(), qPrintable(check.output));
        QFile entry(prefix_.filePath(desktopEntry));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        for (const char *line : {"Exec=comloop\n", "Icon=comloop\n", "Categories=Utility;\n", "Type=Application\n"})
            QVERIFY2(text.contains(line), line);
    }

    void debianPackageMetadata_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("contains");
        QTest::newRow("name") << "Package" << "comloop";
        QTest::newRow("serial port library") << "Depends" << "libqt6serialport6";
        QTest::newRow("widgets library") << "Depends" << "libqt6widgets6";
        QTest::newRow("platform plugins") << "Depends" << "qt6-qpa-plugins";
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

    void debianPackageHoldsTheInstallTree()
    {
        const Outcome listing = Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb_});
        QCOMPARE(listing.exitCode, 0);
        for (const QString &path : {QStringLiteral("./usr/bin/comloop"), "./usr/" + desktopEntry,
                                    QStringLiteral("./usr/share/icons/hicolor/32x32/apps/comloop.png"),
                                    QStringLiteral("./usr/bin/comloop-check"),
                                    QStringLiteral("./usr/share/man/man1/comloop-check.1.gz")})
            QVERIFY2(listing.output.contains(path), qPrintable(path));
        // Nothing of the build or the tests leaks in.
        QVERIFY2(!listing.output.contains(QStringLiteral("tst_")), qPrintable(listing.output));
        QVERIFY2(!listing.output.contains(QStringLiteral(".a\n")), qPrintable(listing.output));
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
