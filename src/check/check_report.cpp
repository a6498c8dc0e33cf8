#include "check_report.h"

#include "check_line.h"
#include "stream_writer.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// A run that ends within a second needs no progress, and four updates a
// second are as many as anyone reads.
constexpr qint64 kFirstProgressMs = 1000;
constexpr qint64 kProgressEveryMs = 250;

QJsonObject CountersObject(const LineCounters &change)
{
    return {{QStringLiteral("framing"), change.framing},     {QStringLiteral("parity"), change.parity},
            {QStringLiteral("overrun"), change.overrun},     {QStringLiteral("buffer_overrun"), change.bufferOverrun},
            {QStringLiteral("break"), change.breaks},        {QStringLiteral("cts_changes"), change.cts},
            {QStringLiteral("dsr_changes"), change.dsr},     {QStringLiteral("dcd_changes"), change.dcd},
            {QStringLiteral("ri_changes"), change.ring}};
}

QString Adapter(const DeviceInfo &info)
{
    QStringList parts;
    if (!info.driver.isEmpty())
        parts << QStringLiteral("driver %1").arg(info.driver);
    if (!info.usbId.isEmpty())
        parts << QStringLiteral("USB %1%2").arg(info.usbId, info.product.isEmpty() ? QString()
                                                                                    : QLatin1Char(' ') + info.product);
    if (info.latencyMs >= 0)
        parts << QStringLiteral("latency timer %1 ms").arg(info.latencyMs);
    return parts.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(parts.join(QStringLiteral(", ")));
}

} // namespace

CheckReport::CheckReport(TStreamWriter *out, TStreamWriter *errors, bool json, bool terminal)
    : out_(out), errors_(errors), json_(json), terminal_(terminal && !json), nextMs_(kFirstProgressMs)
{
    clock_.start();
}

void CheckReport::Line(const QString &check, const QString &text)
{
    if (!check.isEmpty())
        lines_[check] << text;
    if (json_)
        return;
    Clear();
    out_->Write((text + QLatin1Char('\n')).toUtf8());
}

void CheckReport::Object(const QString &type, QJsonObject object)
{
    if (!json_)
        return;
    object.insert(QStringLiteral("type"), type);
    // The first object says which shape the rest come in.
    if (!std::exchange(schemaSent_, true))
        object.insert(QStringLiteral("schema"), 2);
    out_->Write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void CheckReport::Head(qint64 seed, const QString &line, const QString &plan)
{
    Line({}, QStringLiteral("seed %1 (--seed %1 sends these frames again)").arg(seed));
    if (!plan.isEmpty())
        Line({}, plan);
    QJsonObject object{{QStringLiteral("seed"), seed}, {QStringLiteral("line"), line}};
    if (!plan.isEmpty())
        object.insert(QStringLiteral("plan"), plan);
    Object(QStringLiteral("run"), object);
}

void CheckReport::Port(const PortReport &port)
{
    Line({}, QStringLiteral("%1: %2%3").arg(port.side, port.description, Adapter(port.info)));
    QJsonObject object{{QStringLiteral("side"), port.side}, {QStringLiteral("description"), port.description}};
    if (!port.info.driver.isEmpty())
        object.insert(QStringLiteral("driver"), port.info.driver);
    if (!port.info.usbId.isEmpty()) {
        object.insert(QStringLiteral("usb_id"), port.info.usbId);
        object.insert(QStringLiteral("product"), port.info.product);
    }
    if (port.info.latencyMs >= 0)
        object.insert(QStringLiteral("latency_timer_ms"), port.info.latencyMs);
    object.insert(QStringLiteral("settings_not_taken"), QJsonArray::fromStringList(port.notTaken));
    // Said, since the frames of a run before this one may have stayed
    // inside the UART and been taken for a dead cable.
    if (port.loopbackWasOn)
        object.insert(QStringLiteral("found_in_loopback"), true);
    Object(QStringLiteral("port"), object);
    if (port.loopbackWasOn)
        Line({}, QStringLiteral("%1: found in internal loopback, left so by another program; turned off").arg(port.side));
    for (const QString &missed : port.notTaken)
        Problem(QStringLiteral("settings"), QStringLiteral("%1: the device did not take %2").arg(port.side, missed));
}

void CheckReport::Problem(const QString &check, const QString &text)
{
    // Noise on a line can make a problem of every few bytes: the first
    // ones tell what is wrong, the count tells how much.
    if (++problems_ > kShownProblems)
        return;
    Line(check, text);
    Object(QStringLiteral("problem"), {{QStringLiteral("check"), check}, {QStringLiteral("text"), text}});
}

void CheckReport::Complaint(const QString &text)
{
    Clear();
    errors_->Write(QStringLiteral("comloop-check: %1\n").arg(text).toUtf8());
}

void CheckReport::Progress(const CheckTally &tally, qint64 frames)
{
    if (!terminal_ || clock_.elapsed() < nextMs_)
        return;
    nextMs_ = clock_.elapsed() + kProgressEveryMs;
    const QString text =
        QStringLiteral("\rframe %1%2: %3 received, %4 late, %5 corrupt, %6 wrong, %7 missing\x1b[K")
            .arg(tally.sent)
            .arg(frames > 0 ? QStringLiteral(" of %1").arg(frames) : QString())
            .arg(tally.received)
            .arg(tally.late)
            .arg(tally.corrupt)
            .arg(tally.wrong)
            .arg(tally.missing);
    out_->Write(text.toUtf8());
    shown_ = true;
}

void CheckReport::Counters(const QString &side, const std::optional<LineCounters> &change)
{
    const QString check = QStringLiteral("counters");
    if (!change) {
        Line(check, QStringLiteral("counters: %1: not available on this device").arg(side));
        Object(check, {{QStringLiteral("side"), side}, {QStringLiteral("available"), false}});
        return;
    }
    Line(check, QStringLiteral("counters: %1: %2").arg(side, CountersText(*change)));
    QJsonObject object = CountersObject(*change);
    object.insert(QStringLiteral("side"), side);
    object.insert(QStringLiteral("available"), true);
    Object(check, object);
}

void CheckReport::Handshake(const std::optional<std::vector<HandshakePair>> &pairs)
{
    const QString check = QStringLiteral("lines");
    if (!pairs) {
        Line(check, QStringLiteral("lines: not testable: the driver of a port has no handshake lines "
                                   "(a pseudo-terminal has none)"));
        Object(check, {{QStringLiteral("testable"), false}});
        return;
    }
    QJsonArray array;
    for (const HandshakePair &pair : *pairs) {
        Line(check, QStringLiteral("lines: %1 -> %2: %3").arg(pair.out, pair.in, FollowName(pair.result)));
        array.append(QJsonObject{{QStringLiteral("out"), pair.out},
                                 {QStringLiteral("in"), pair.in},
                                 {QStringLiteral("result"), FollowName(pair.result)}});
    }
    Object(check, {{QStringLiteral("testable"), true}, {QStringLiteral("pairs"), array}});
}

void CheckReport::Isolation(const QString &side, const QString &result)
{
    const QString check = QStringLiteral("isolation");
    Line(check, QStringLiteral("isolation: %1 %2").arg(side, result));
    Object(check, {{QStringLiteral("side"), side}, {QStringLiteral("result"), result}});
}

void CheckReport::End(const QStringList &lines, QJsonObject summary)
{
    for (const QString &line : lines)
        Line({}, line);
    Object(QStringLiteral("summary"), std::move(summary));
}

void CheckReport::Clear()
{
    if (!shown_)
        return;
    out_->Write("\r\x1b[K");
    shown_ = false;
}
