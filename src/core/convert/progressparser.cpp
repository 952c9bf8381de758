#include "core/convert/progressparser.h"

#include <QByteArrayView>

#include <limits>
#include <optional>

namespace {

bool isDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::optional<qint64> wholeNumber(QByteArrayView text)
{
    // Nine digits already exceed every int-sized result we can show.
    if (!isDigits(text) || text.size() > 9)
        return std::nullopt;
    qint64 value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

// The whole seconds of the text between "time=" and "bitrate=".
std::optional<int> reportedSeconds(QByteArrayView text)
{
    text = text.trimmed();
    const qsizetype point = text.lastIndexOf('.');
    if (point >= 0) {
        if (!isDigits(text.sliced(point + 1)))
            return std::nullopt;
        text = text.first(point);
    }

    qint64 seconds = 0;
    const qsizetype colon = text.indexOf(':');
    if (colon < 0) {
        const auto whole = wholeNumber(text);
        if (!whole)
            return std::nullopt;
        seconds = *whole;
    } else {
        // HH:MM:SS with any number of hour digits.
        const qsizetype hoursLength = colon;
        if (text.size() != hoursLength + 6 || text.at(hoursLength + 3) != ':')
            return std::nullopt;
        const auto hours = wholeNumber(text.first(hoursLength));
        const auto minutes = wholeNumber(text.sliced(hoursLength + 1, 2));
        const auto secs = wholeNumber(text.sliced(hoursLength + 4, 2));
        if (!hours || !minutes || !secs)
            return std::nullopt;
        seconds = *hours * 3600 + *minutes * 60 + *secs;
    }
    if (seconds > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(seconds);
}

std::optional<int> firstReport(const QByteArray &buffer)
{
    const qsizetype time = buffer.indexOf("time=");
    if (time < 0)
        return std::nullopt;
    const qsizetype bitrate = buffer.indexOf("bitrate=");
    if (bitrate <= time)
        return std::nullopt;
    const qsizetype start = time + 5;
    return reportedSeconds(QByteArrayView(buffer).sliced(start, bitrate - start));
}

} // namespace

void ParseProgress(QByteArray &outputText, const std::function<void(int seconds)> &show)
{
    const qsizetype length = outputText.size();
    qsizetype consumed = 0;
    int lineEnds = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const char c = outputText.at(i);
        if (c != '\r' && c != '\n')
            continue;
        if (c == '\r' && i + 1 < length && outputText.at(i + 1) == '\n')
            ++i;
        ++lineEnds;
        consumed = i + 1;
    }
    if (lineEnds == 0) {
        if (length > MaxUnfinishedLine)
            outputText.truncate(MaxUnfinishedLine);
        return;
    }

    // Every line end of one pass reports the same, first, report of the buffer.
    const std::optional<int> seconds = firstReport(outputText);
    outputText.remove(0, consumed);
    if (!seconds)
        return;
    for (int n = 0; n < lineEnds; ++n)
        show(*seconds);
}
