#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class StreamSink;

// Writes to one of the program's standard streams, or to a report file,
// from a thread of its own, so that a reader that stalls (a pipe nobody
// reads, a terminal on hold, a FIFO) never holds up the event loop, and
// signals are served meanwhile. Watches its reader even while nothing is
// written, and says once that it has gone, or that a write failed.
class TStreamWriter : public QObject
{
    Q_OBJECT
public:
    enum class Standard { Output, Errors };

    TStreamWriter(Standard stream, QObject *owner);
    // A report file, opened at once for writing without waiting for anybody
    // to read it: a FIFO with no reader fails. Null when it cannot be
    // opened; `why` says why, in the system's words.
    static TStreamWriter *OpenFile(const QString &path, QString *why, QObject *owner);
    ~TStreamWriter() override;
    TStreamWriter(const TStreamWriter &) = delete;
    TStreamWriter &operator=(const TStreamWriter &) = delete;

    // Goes out in order; dropped once the reader has gone or a write failed.
    void Write(const QByteArray &text);
    // Waits at most `ms` for all that was written to be out; false when it
    // is not: the reader stalled, went away, or a write failed.
    bool Drain(int ms);
    // Why not all that was written got out, in the system's words; empty
    // while all is well.
    QString Failure() const;
    // Whether that was its reader going away, as | head does.
    bool ReaderLeft() const;

    // Whether a standard stream is open at all. Asked before anything else
    // opens a file: a closed stream's number would be handed to the next
    // file opened, and what is written there would go into a serial port.
    static bool IsOpen(Standard stream);
    static bool IsTerminal(Standard stream);

signals:
    // The reader of a pipe or terminal went away: noticed within a second,
    // written to or not.
    void ReaderGone();
    // A write failed otherwise (a full disk, a device that takes nothing).
    void Failed();

private:
    struct Shared;
    TStreamWriter(const StreamSink &sink, QObject *owner);
    static void Run(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> shared_;
};
