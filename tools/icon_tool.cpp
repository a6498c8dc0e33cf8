// Renders the one SVG picture of comloop into the files that need a bitmap:
// the PNGs of the desktop's icon theme and the XPM the program compiles in
// as its window icon. Run by the build, once per output file:
//
//   comloop_icon_tool SOURCE.svg SIZE OUTPUT.png
//   comloop_icon_tool SOURCE.svg SIZE OUTPUT.xpm
#include <QBuffer>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgRenderer>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// The XPM is compiled into the program, whose icon is drawn in few colours
// on purpose: each one is a C string the reader looks up per pixel.
constexpr int xpmColours = 16;

QImage Render(QSvgRenderer &svg, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The picture's own colours, the most used first: taken from a large
// rendering, where the fills cover many pixels and the blends along their
// edges few. One entry is left for "transparent".
QList<QRgb> Palette(QSvgRenderer &svg)
{
    const QImage large = Render(svg, 256);
    QHash<QRgb, int> counts;
    for (int y = 0; y < large.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(large.constScanLine(y));
        for (int x = 0; x < large.width(); ++x)
            if (qAlpha(line[x]) == 255)
                ++counts[line[x]];
    }
    std::vector<std::pair<int, QRgb>> byUse;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byUse.emplace_back(it.value(), it.key());
    std::sort(byUse.begin(), byUse.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QList<QRgb> palette{qRgba(0, 0, 0, 0)};
    for (const auto &[count, colour] : byUse) {
        if (palette.size() == xpmColours)
            break;
        palette.append(colour);
    }
    return palette;
}

// A small image in the picture's own colours, each pixel either opaque or
// fully transparent, as XPM knows no partial transparency.
QImage FewColours(QSvgRenderer &svg, int size)
{
    QImage image = Render(svg, size);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qAlpha(line[x]) < 128 ? qRgba(0, 0, 0, 0) : (line[x] | 0xff000000u);
    }
    return image.convertToFormat(QImage::Format_Indexed8, Palette(svg), Qt::ThresholdDither)
        .convertToFormat(QImage::Format_ARGB32);
}

// Qt's XPM writer names the array after the file and leaves it writable;
// the program includes it as `comloop_xpm`, a constant like any other.
QByteArray Xpm(const QImage &image, const QString &output)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "XPM"))
        return {};
    QString text = QString::fromLatin1(buffer.data());
    const QString name = QFileInfo(output).completeBaseName().replace(QRegularExpression(QStringLiteral("\\W")),
                                                                      QStringLiteral("_"));
    const QRegularExpression declaration(QStringLiteral("static\\s+(const\\s+)?char\\s*\\*\\s*(const\\s+)?\\w*\\s*\\[\\]\\s*=\\s*\\{"));
    if (!text.contains(declaration))
        return {};
    text.replace(declaration, QStringLiteral("static const char *const %1_xpm[] = {").arg(name));
    return text.toLatin1();
}

bool Write(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

int Fail(const char *program, const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", program, qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE.svg SIZE OUTPUT.png|OUTPUT.xpm\n", argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[3]);
    bool isNumber = false;
    const int size = QByteArray(argv[2]).toInt(&isNumber);
    if (!isNumber || size < 1 || size > 1024)
        return Fail(argv[0], QStringLiteral("size \"%1\" is not a number of pixels from 1 to 1024").arg(argv[2]));

    QSvgRenderer svg;
    if (!svg.load(source))
        return Fail(argv[0], QStringLiteral("cannot read %1 as SVG").arg(source));

    const QString format = QFileInfo(output).suffix().toLower();
    QByteArray data;
    if (format == QLatin1String("png")) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        if (!Render(svg, size).save(&buffer, "PNG"))
            return Fail(argv[0], QStringLiteral("cannot encode PNG"));
    } else if (format == QLatin1String("xpm")) {
        data = Xpm(FewColours(svg, size), output);
        if (data.isEmpty())
            return Fail(argv[0], QStringLiteral("cannot encode XPM"));
    } else {
        return Fail(argv[0], QStringLiteral("%1: the output must end in .png or .xpm").arg(output));
    }
    if (!Write(output, data))
        return Fail(argv[0], QStringLiteral("cannot write %1").arg(output));
    return 0;
}
