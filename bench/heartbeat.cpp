#include "heartbeat.h"

#include <algorithm>

namespace {

constexpr int IntervalMs = 10;

} // namespace

Heartbeat::Heartbeat(QObject *parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &Heartbeat::beat);
}

void Heartbeat::start()
{
    m_worstNs = 0;
    m_beats = 0;
    m_clock.start();
    m_last = 0;
    m_timer.start();
}

void Heartbeat::stop()
{
    beat(); // a stall that is still going on counts too
    m_timer.stop();
}

void Heartbeat::beat()
{
    const qint64 now = m_clock.nsecsElapsed();
    m_worstNs = std::max(m_worstNs, now - m_last - qint64(IntervalMs) * 1000000);
    m_last = now;
    ++m_beats;
}
