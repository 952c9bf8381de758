#pragma once

#include <QByteArray>

// Writes `text` and a line feed to the descriptor, all of it unless it fails; 0 when it was
// written, else the errno of the failure (EPIPE: the reader has gone). A write blocked on a
// pipe nobody reads gives up with EINTR once a stopping signal has come (see SignalWatcher),
// and after it no write waits: EAGAIN where it would.
int WriteLine(int fd, const QByteArray &text);
