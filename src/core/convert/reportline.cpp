#include "core/convert/reportline.h"

#include "core/joblist/joblistmodel.h"
#include "core/joblist/rawnamelinks.h"

#include <QByteArrayView>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray json(const QJsonValue &value)
{
    // A document holds arrays and objects only: the value is cut back out of one.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray field(const char *key, const QByteArray &value)
{
    return '"' + QByteArray(key) + "\":" + value;
}

QByteArray number(const QString &decimal)
{
    return QByteArray::number(decimal.toLongLong());
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue shownPath(const QString &path, const RawNameLinks *links)
{
    if (path.isEmpty())
        return QJsonValue::Null;
    const QByteArray bytes = links ? links->originalPath(path) : QFile::encodeName(path);
    return QByteArrayView(bytes).isValidUtf8() ? QString::fromUtf8(bytes)
                                               : QString::fromLatin1(bytes);
}

} // namespace

QByteArray ReportLine(const JobListModel &model, int row, const RawNameLinks *links)
{
    const JobRun &run = model.run(row);
    const std::optional<int> seconds = model.seconds(row);
    const QJsonValue duration = seconds ? QJsonValue(*seconds) : QJsonValue(QJsonValue::Null);
    QList<QByteArray> fields = {
        field("source", json(shownPath(model.entry(row).SourcePath, links))),
        field("output", json(shownPath(run.output, links))),
        field("status", json(JobStatusText(model.status(row)))),
        field("reason", json(textOrNull(model.reason(row)))),
        field("duration", json(duration)),
        field("output_bytes",
              run.outputBytes < 0 ? QByteArray("null") : QByteArray::number(run.outputBytes)),
    };
    if (run.hasEnded()) {
        fields << field("seconds_taken", QByteArray::number(double(run.elapsedMs) / 1000, 'f', 3))
               << field("format", json(run.format))
               << field("profile", '{' + field("sample_rate", number(run.profile.SampleRate)) +
                                       ',' + field("bitrate", number(run.profile.Bitrate)) + ',' +
                                       field("channels", number(run.profile.Channels)) + '}');
    } else {
        fields << field("seconds_taken", "null") << field("format", "null")
               << field("profile", "null");
    }
    fields << field("not_kept", run.notKept ? json(QJsonArray::fromStringList(*run.notKept))
                                            : QByteArray("null"));
    return '{' + fields.join(',') + '}';
}
