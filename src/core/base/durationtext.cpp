#include "core/base/durationtext.h"

#include <QFile>
#include <QRegularExpression>

#include <limits>

namespace {

std::optional<int> twoDigitPiece(const QString &text, qsizetype from)
{
    const QStringView piece = QStringView(text).mid(from, 2);
    if (piece.isEmpty())
        return std::nullopt;
    int value = 0;
    for (QChar c : piece) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

int DurationToSeconds(const QString &text)
{
    static const QRegularExpression longForm(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{3,}):([0-9]{2}):([0-9]{2})")));
    if (const QRegularExpressionMatch m = longForm.match(text); m.hasMatch()) {
        bool ok = false;
        const qint64 hours = m.captured(1).toLongLong(&ok);
        // Bound the hours before multiplying: a huge count must read as unknown, not wrap.
        if (!ok || hours > std::numeric_limits<int>::max() / 3600)
            return 0;
        const qint64 seconds = hours * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
        return seconds <= std::numeric_limits<int>::max() ? int(seconds) : 0;
    }
    const auto hours = twoDigitPiece(text, 0);
    const auto minutes = twoDigitPiece(text, 3);
    const auto seconds = twoDigitPiece(text, 6);
    if (!hours || !minutes || !seconds)
        return 0;
    return *hours * 3600 + *minutes * 60 + *seconds;
}

QString DurationText(std::optional<int> seconds)
{
    if (!seconds || *seconds < 0)
        return QString();
    return QStringLiteral("%1:%2:%3")
        .arg(*seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(*seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(*seconds % 60, 2, 10, QLatin1Char('0'));
}

QString DurationFromOutput(const QByteArray &output, const QString &inputPath)
{
    // The line end of the input section's header line; the path may hold any byte.
    qsizetype at = -1;
    if (!inputPath.isEmpty()) {
        const QByteArray header = "from '" + QFile::encodeName(inputPath) + "':";
        at = output.indexOf(header);
        if (at >= 0)
            at = output.indexOf('\n', at + header.size());
    }
    if (at < 0) {
        at = output.startsWith("Input #0, ") ? 0 : output.indexOf("\nInput #0, ");
        if (at < 0)
            return QString();
        at = output.indexOf('\n', at + 1);
    }
    static const QRegularExpression time(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]{2,}:[0-9]{2}:[0-9]{2})(\\.[0-9]+)?")));
    while (at >= 0 && at < output.size()) {
        const qsizetype start = at + 1;
        qsizetype end = output.indexOf('\n', start);
        if (end < 0)
            end = output.size();
        const QByteArrayView line = QByteArrayView(output).sliced(start, end - start);
        if (!line.startsWith(' '))
            return QString(); // the section ended without a duration
        if (line.startsWith("  Duration: ")) {
            QByteArrayView value = line.sliced(12);
            const qsizetype comma = value.indexOf(',');
            if (comma >= 0)
                value = value.first(comma);
            const QRegularExpressionMatch m = time.match(QString::fromLatin1(value.trimmed()));
            return m.hasMatch() ? m.captured(1) : QString();
        }
        at = end;
    }
    return QString();
}

std::optional<int> SecondsFromOutput(const QByteArray &output, const QString &inputPath)
{
    const QString text = DurationFromOutput(output, inputPath);
    if (text.isEmpty())
        return std::nullopt;
    const int seconds = DurationToSeconds(text);
    // 0 from a text with other digits than zeros is a length too large to count.
    if (seconds == 0 && text.contains(QRegularExpression(QStringLiteral("[1-9]"))))
        return std::nullopt;
    return seconds;
}
