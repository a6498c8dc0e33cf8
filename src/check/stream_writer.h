#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

// Writes to one of the program's standard streams from a thread of its own,
// so that a reader that stalls (a pipe nobody reads, a terminal on hold)
// never holds up the event loop, and signals are served meanwhile. Says so
// once the reader has gone.
class TStreamWriter : public QObject
{
    Q_OBJECT
public:
    TStreamWriter(int stream, QObject *owner);
    ~TStreamWriter() override;
    TStreamWriter(const TStreamWriter &) = delete;
    TStreamWriter &operator=(const TStreamWriter &) = delete;

    // Goes out in order; dropped once the reader has gone.
    void Write(const QByteArray &text);
    // Waits at most `ms` for all that was written to be out; false when the
    // reader stalled or went away.
    bool Drain(int ms);

    // Whether `stream` is open at all. Asked before anything else opens a
    // file: a closed stream's number would be handed to the next file
    // opened, and what is written there would go into a serial port.
    static bool IsOpen(int stream);

signals:
    void ReaderGone();

private:
    struct Shared;
    static void Run(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> shared_;
};
