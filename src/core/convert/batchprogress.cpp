#include "core/convert/batchprogress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 MinElapsedMs = 2000;

} // namespace

double BatchFraction(const QVector<RowShare> &rows)
{
    if (rows.isEmpty())
        return 0;
    // Sums of seconds stay far below 2^53, so doubles hold them exactly.
    double knownSeconds = 0;
    double knownDone = 0;
    qsizetype known = 0;
    qsizetype ended = 0;
    qsizetype unknownEnded = 0;
    for (const RowShare &r : rows) {
        if (r.ended)
            ++ended;
        if (r.totalSeconds <= 0) {
            if (r.ended)
                ++unknownEnded;
            continue;
        }
        ++known;
        knownSeconds += r.totalSeconds;
        knownDone += r.ended ? r.totalSeconds : std::clamp(r.doneSeconds, 0, r.totalSeconds);
    }
    const double count = double(rows.size());
    if (known == 0)
        return double(ended) / count;
    // Each unknown row weighs knownSeconds / known: (done + unknownEnded * mean) over
    // (knownSeconds + unknown * mean), multiplied through by `known`.
    return (knownDone * double(known) + double(unknownEnded) * knownSeconds) /
           (knownSeconds * count);
}

int BatchSecondsLeft(double fraction, qint64 elapsedMs)
{
    if (fraction >= 1)
        return 0;
    if (elapsedMs < MinElapsedMs || !(fraction > 0))
        return -1;
    const double left = double(elapsedMs) / 1000 * (1 - fraction) / fraction;
    return left >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                   : int(std::lround(left));
}

QString TimeLeftText(int secondsLeft)
{
    if (secondsLeft < 0)
        return QString();
    const int hours = secondsLeft / 3600;
    const int minutes = secondsLeft / 60 % 60;
    const int seconds = secondsLeft % 60;
    const QString time =
        hours > 0 ? QStringLiteral("%1:%2:%3")
                        .arg(hours)
                        .arg(minutes, 2, 10, QLatin1Char('0'))
                        .arg(seconds, 2, 10, QLatin1Char('0'))
                  : QStringLiteral("%1:%2").arg(minutes).arg(seconds, 2, 10, QLatin1Char('0'));
    return time + QStringLiteral(" left");
}

QString BatchProgressText(const QString &percentText, int secondsLeft)
{
    if (secondsLeft < 0)
        return percentText;
    return percentText + QStringLiteral(" \u00b7 ") + TimeLeftText(secondsLeft);
}
