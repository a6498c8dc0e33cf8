#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A lock is a line or two of text, well under a hundred bytes; anything
// much longer was not written by a program that locks serial ports.
inline constexpr qint64 LockFileCap = 1024;

// What sits at a lock file's path. The lock folder is writable by every
// user, so whatever is there may have been put there to hang or fool the
// reader: it is looked at without following a link, without waiting on a
// pipe and without reading more than a lock can hold.
struct LockFileLook
{
    enum Shape { Absent, Text, Huge, Pipe, Directory, Link, Socket, Node, Unreadable };
    Shape shape = Absent;
    QByteArray text;   // Text: the whole contents
    qint64 size = 0;   // Huge: its length
    QString target;    // Link: where it points
    int error = 0;     // Unreadable: why
    bool mine = false; // this user may remove it without sudo
    dev_t device = 0;  // which file was looked at, so that only that one
    ino_t inode = 0;   // is ever removed
};

LockFileLook LookAtLockFile(const QString &path);

// Removes the file at `path` only while it is still the one `seen`: a lock
// someone else took meanwhile stays. Refused leaves errno set.
enum class Removal { Done, Changed, Refused };
Removal RemoveLockFile(const QString &path, const LockFileLook &seen);

// Makes `path` a lock naming this process, whole from its first moment: the
// text is written to a file of its own in `folder` and linked into place,
// which fails rather than follow or replace anything already there.
// Created fills `made` with the new file's identity.
enum class Creation { Created, Exists, Refused };
Creation CreateLockFile(const QString &folder, const QString &path, LockFileLook *made);
