#include "gui/skin/progressmeter.h"

#include "core/base/progresspercent.h"

#include <limits>

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const qint64 product = static_cast<qint64>(number) * numerator;
    qint64 quotient = product / denominator;
    const qint64 remainder = product % denominator;
    const qint64 absRemainder = remainder < 0 ? -remainder : remainder;
    const qint64 absDenominator = denominator < 0 ? -static_cast<qint64>(denominator) : denominator;
    if (2 * absRemainder >= absDenominator)
        quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<int>::max() || quotient < -std::numeric_limits<int>::max())
        return -1;
    return static_cast<int>(quotient);
}

std::optional<ProgressFrame> ProgressFrameFor(int done, int total, int left, int fullWidth)
{
    const std::optional<int> percent = ProgressPercent(done, total);
    if (!percent)
        return std::nullopt;
    const int width = total <= 0 ? 0 : MulDiv(qMax(done, 0), qMax(fullWidth, 0), total);
    return ProgressFrame{left + width, *percent, QString::number(*percent) + QLatin1Char('%')};
}
