#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// A 10 ms timer that records how late the event loop served it at worst: the longest
// time the window could not have repainted or taken a click.
class Heartbeat : public QObject
{
    Q_OBJECT
public:
    explicit Heartbeat(QObject *parent = nullptr);

    void start();
    void stop();
    double worstLatenessMs() const { return m_worstNs / 1e6; }
    int beats() const { return m_beats; }

private:
    void beat();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstNs = 0;
    int m_beats = 0;
};
