#pragma once

#include "stream_writer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Where a TStreamWriter's bytes go, as the platform knows it: a standard
// stream, or a report file of the writer's own. Everything else about
// writing is the same everywhere, in stream_writer.cpp.
class StreamSink
{
public:
    static StreamSink Standard(TStreamWriter::Standard stream);
    // Opened at once, without waiting for anybody to read it; nothing, and
    // `why` in the system's words, when it cannot be.
    static std::optional<StreamSink> OpenFile(const QString &path, QString *why);

    // How writing all of a text came out: all of it went, its reader had
    // gone, or it failed otherwise (`failure` says why).
    struct Outcome
    {
        bool gone = false;
        QString failure;
    };
    // Waits for as long as its reader takes.
    Outcome WriteAll(const QByteArray &text);
    // Asked while nothing is being written: whether a pipe's reader has left
    // or a terminal has hung up.
    bool ReaderGone();
    // Lets go of a file of its own; a standard stream stays open.
    void Close();

private:
    StreamSink(std::intptr_t handle, bool owned) : handle_(handle), owned_(owned) {}

    std::intptr_t handle_; // the descriptor, or the Windows handle
    bool owned_;
};
