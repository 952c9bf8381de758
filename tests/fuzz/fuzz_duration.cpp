// Any text as a duration and a bitrate (split at the first line end), and any bytes as
// the encoder's probe output: the results stay in range and the size is the product.
#include "fuzzcheck.h"

#include "core/base/durationtext.h"
#include "core/base/sizeestimate.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <limits>

namespace {

constexpr int MaxShortSeconds = 99 * 3600 + 99 * 60 + 99;

// 100 hours and more: all hour digits, read in full.
bool isLongForm(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{3,}:[0-9]{2}:[0-9]{2}")));
    return pattern.match(text).hasMatch();
}

bool isTwoDigitDuration(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{2}):([0-9]{2}):([0-9]{2})")));
    return pattern.match(text).hasMatch();
}

double sizeValue(const QString &size)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]{1,2})?MB")));
    FUZZ_CHECK(pattern.match(size).hasMatch());
    bool ok = false;
    const double value = size.chopped(2).toDouble(&ok);
    FUZZ_CHECK(ok);
    return value;
}

void checkDuration(const QString &text)
{
    const int seconds = DurationToSeconds(text);
    FUZZ_CHECK(seconds >= 0);
    if (isLongForm(text)) {
        QString hours = text.section(QLatin1Char(':'), 0, 0);
        while (hours.size() > 1 && hours.startsWith(QLatin1Char('0')))
            hours.remove(0, 1);
        qint64 exact = std::numeric_limits<qint64>::max();
        if (hours.size() <= 12)
            exact = hours.toLongLong() * 3600 + text.section(QLatin1Char(':'), 1, 1).toInt() * 60 +
                    text.section(QLatin1Char(':'), 2, 2).toInt();
        FUZZ_CHECK(seconds == (exact <= std::numeric_limits<int>::max() ? exact : 0));
        return;
    }
    FUZZ_CHECK(seconds <= MaxShortSeconds);
    // Only the first eight characters are read.
    FUZZ_CHECK(seconds == DurationToSeconds(text.left(8)));
    if (seconds > 0)
        FUZZ_CHECK(text.size() >= 7);
    const QString head = text.left(8);
    if (isTwoDigitDuration(head))
        FUZZ_CHECK(seconds == head.mid(0, 2).toInt() * 3600 + head.mid(3, 2).toInt() * 60 +
                                  head.mid(6, 2).toInt());
}

void checkSize(const QString &duration, const QString &bitrate)
{
    const QString size = EstimateSize(duration, bitrate);
    const double value = sizeValue(size);
    bool ok = false;
    const qint64 bits = bitrate.toLongLong(&ok);
    const int seconds = DurationToSeconds(duration);
    if (!ok || bits < 0 || seconds == 0) {
        FUZZ_CHECK(size == QLatin1String("0MB"));
        return;
    }
    // Cut to two decimals from fifteen significant digits: below the product by less
    // than 0.01, above it only by the rounding of the last digit.
    const double exact = double(seconds) * double(bits) / 8 / 1024 / 1024;
    FUZZ_CHECK(value <= exact * (1 + 1e-13) + 1e-12);
    FUZZ_CHECK(value >= exact * (1 - 1e-13) - 0.01);
    if (bits <= std::numeric_limits<qint64>::max() / 2)
        FUZZ_CHECK(sizeValue(EstimateSize(duration, QString::number(bits * 2))) >= value);
}

} // namespace

int FuzzDuration(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf('\n');
    const QByteArray first = split < 0 ? bytes : bytes.left(split);
    const QByteArray second = split < 0 ? QByteArray() : bytes.mid(split + 1);

    for (const QString &duration : {QString::fromUtf8(first), QString::fromLatin1(first)}) {
        checkDuration(duration);
        checkSize(duration, QString::fromUtf8(second));
        checkSize(duration, QString::fromLatin1(second));
    }

    // Only an indented "  Duration: " line below an input header counts, and only a time.
    const QString probed = DurationFromOutput(bytes);
    if (!bytes.contains("\n  Duration: ") || !bytes.contains("Input #0, ")) {
        FUZZ_CHECK(probed.isEmpty());
    } else if (!probed.isEmpty()) {
        static const QRegularExpression time(
            QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{2,}:[0-9]{2}:[0-9]{2}")));
        FUZZ_CHECK(time.match(probed).hasMatch());
        // Blanks between the label and the time are skipped, as in "Duration:  00:03:45".
        const QRegularExpression line(QStringLiteral("\n  Duration: [ \t\r\v\f]*") +
                                      QRegularExpression::escape(probed));
        FUZZ_CHECK(line.match(QString::fromLatin1(bytes)).hasMatch());
        checkDuration(probed);
    }
    return 0;
}
