#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM, SIGHUP and SIGQUIT into a Qt signal on the event loop, so the
// handler itself only writes one byte. One instance per program.
//
// SIGPIPE is caught and does nothing: a write to a closed pipe (standard output read by
// `head -1`, a report FIFO whose reader left) then fails with EPIPE, and the program stops
// the batch itself instead of dying with work files left behind. It is caught rather than
// ignored so that the encoders, which inherit ignored signals, start with the default.
//
// The handlers do not restart system calls: a write blocked on a pipe nobody reads returns
// (EINTR) when a stopping signal comes, so the event loop can act on it (see WriteLine()).
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isValid() const { return m_notifier != nullptr; }
    // True once any of the stopping signals has arrived, even before the event loop has
    // delivered it; safe to ask from anywhere.
    static bool stopRequested();

signals:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
