#include "core/base/sizeestimate.h"

#include "core/base/durationtext.h"

#include <limits>

namespace {

// %.15g, but always in fixed notation: the digits are the same, the exponent
// form (which QString::number may choose) is written out.
QString generalFixed(double value)
{
    const QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e < 0)
        return text;

    QString mantissa = text.left(e);
    const int exponent = QStringView(text).sliced(e + 1).toInt();
    QString sign;
    if (mantissa.startsWith(QLatin1Char('-'))) {
        sign = QStringLiteral("-");
        mantissa.remove(0, 1);
    }
    const QString digits = QString(mantissa).remove(QLatin1Char('.'));
    const qsizetype point = 1 + exponent; // digits before the decimal point
    if (point <= 0)
        return sign + QStringLiteral("0.") + QString(-point, QLatin1Char('0')) + digits;
    if (point >= digits.size())
        return sign + digits + QString(point - digits.size(), QLatin1Char('0'));
    return sign + digits.left(point) + QLatin1Char('.') + digits.mid(point);
}

QString megabytesText(double megabytes)
{
    QString text = generalFixed(megabytes);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0)
        text.truncate(point + 3);
    return text + QStringLiteral("MB");
}

} // namespace

qint64 EstimateBytes(std::optional<int> seconds, qint64 bitsPerSecond)
{
    if (!seconds || *seconds <= 0 || bitsPerSecond <= 0)
        return 0;
    if (bitsPerSecond > std::numeric_limits<qint64>::max() / *seconds)
        return std::numeric_limits<qint64>::max();
    return qint64(*seconds) * bitsPerSecond / 8;
}

QString SizeText(qint64 bytes)
{
    return megabytesText(static_cast<double>(bytes) / 1024 / 1024);
}

QString EstimateSize(const QString &duration, const QString &bitrate)
{
    bool ok = false;
    qint64 bitsPerSecond = bitrate.toLongLong(&ok);
    if (!ok || bitsPerSecond < 0)
        bitsPerSecond = 0;
    // In doubles: any text may come here, and a product past 64 bits still has a size.
    return megabytesText(static_cast<double>(DurationToSeconds(duration)) *
                         static_cast<double>(bitsPerSecond) / 8 / 1024 / 1024);
}
