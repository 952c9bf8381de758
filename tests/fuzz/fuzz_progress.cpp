// The encoder's output as any sequence of chunks: the parser must consume exactly the
// complete lines, report what the first "time=" ... "bitrate=" report says, and the
// progress display must stay within its band for whatever total the job has.
#include "fuzzcheck.h"

#include "core/base/progresspercent.h"
#include "core/convert/progressparser.h"

#include <QByteArray>
#include <QRegularExpression>

#include <cstring>
#include <limits>
#include <optional>

namespace {

// Chunks are separated by this byte, so mutations can move chunk borders freely.
constexpr char ChunkBreak = '\xff';
constexpr qsizetype ReadSize = 1024;

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Line ends in the first `length` bytes, CR LF counted once.
int lineEndsIn(const QByteArray &text, qsizetype length)
{
    int count = 0;
    for (qsizetype i = 0; i < length; ++i) {
        if (text.at(i) == '\n' && i > 0 && text.at(i - 1) == '\r')
            continue;
        if (isLineEnd(text.at(i)))
            ++count;
    }
    return count;
}

// What a report's time text means, worked out separately from the parser.
std::optional<int> expectedSeconds(const QByteArray &buffer)
{
    const qsizetype time = buffer.indexOf("time=");
    const qsizetype bitrate = buffer.indexOf("bitrate=");
    if (time < 0 || bitrate < time + 5)
        return std::nullopt;
    const QString text = QString::fromLatin1(buffer.mid(time + 5, bitrate - time - 5).trimmed());
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("(?:([0-9]{1,9})|([0-9]{1,9}):([0-9]{2}):([0-9]{2}))(?:\\.[0-9]+)?")));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    qint64 seconds = 0;
    if (match.hasCaptured(1))
        seconds = match.captured(1).toLongLong();
    else
        seconds = match.captured(2).toLongLong() * 3600 + match.captured(3).toLongLong() * 60 +
                  match.captured(4).toLongLong();
    if (seconds > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(seconds);
}

void checkFrame(int done, int total)
{
    const std::optional<int> percent = ProgressPercent(done, total);
    if (done > total) {
        FUZZ_CHECK(!percent);
        return;
    }
    FUZZ_CHECK(percent);
    FUZZ_CHECK(*percent >= 0 && *percent <= 100);
}

void feed(QByteArray &buffer, QByteArray &fed, const QByteArray &chunk, int total)
{
    buffer.append(chunk);
    fed.append(chunk);
    const QByteArray before = buffer;
    qsizetype lastEnd = -1;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (isLineEnd(before.at(i)))
            lastEnd = i;
    }
    const int lineEnds = lineEndsIn(before, lastEnd + 1);
    const std::optional<int> expected = lineEnds > 0 ? expectedSeconds(before) : std::nullopt;

    // The complete lines are consumed; a line without its end keeps a bounded head.
    const QByteArray rest = lastEnd >= 0 ? before.mid(lastEnd + 1) : before.left(MaxUnfinishedLine);
    int calls = 0;
    ParseProgress(buffer, [&](int seconds) {
        ++calls;
        // Trimmed before the first call, so the display never sees a half-consumed buffer.
        FUZZ_CHECK(buffer == rest);
        FUZZ_CHECK(expected && seconds == *expected);
        checkFrame(seconds, total);
    });
    FUZZ_CHECK(buffer == rest);
    if (lastEnd >= 0)
        FUZZ_CHECK(fed.endsWith(buffer));
    FUZZ_CHECK(calls == (expected ? lineEnds : 0));
}

} // namespace

int FuzzProgress(const uint8_t *data, size_t size)
{
    if (size < sizeof(qint32))
        return 0;
    qint32 total = 0;
    std::memcpy(&total, data, sizeof total);
    const QByteArray input(reinterpret_cast<const char *>(data) + sizeof total,
                           qsizetype(size - sizeof total));

    QByteArray buffer;
    QByteArray fed;
    for (const QByteArray &piece : input.split(ChunkBreak)) {
        // A read returns at most 1024 bytes, and its text ends at a zero byte.
        for (qsizetype at = 0; at < piece.size() || at == 0; at += ReadSize) {
            QByteArray chunk = piece.mid(at, ReadSize);
            const qsizetype zero = chunk.indexOf('\0');
            if (zero >= 0)
                chunk.truncate(zero);
            feed(buffer, fed, chunk, total);
        }
    }
    return 0;
}
