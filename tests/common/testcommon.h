#pragma once

// Helpers every test program may use: files, generated audio, the real ffmpeg and the
// fake encoder. Linked in by wt_add_test() as the library wt_testcommon.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

QByteArray readFile(const QString &path);
// Creates or replaces the file; true when every byte was written.
bool writeFile(const QString &path, const QByteArray &bytes);

class JobListModel;
// What the list shows of a row: its "Time" and "Size" texts.
QString timeShown(const JobListModel &model, int row);
QString sizeShown(const JobListModel &model, int row);
// A duration text ("00:03:45") as the seconds a row holds; nothing for an empty text.
std::optional<int> secondsOf(const QString &duration);

// ffmpeg and ffprobe on PATH; empty when missing.
QString ffmpegPath();
QString ffprobePath();
// Writes `seconds` of a sine into `path` with the real ffmpeg (the extension picks the
// format); `extra` goes before the output path. Returns whether ffmpeg succeeded.
bool makeSine(const QString &path, double seconds, int rate = 22050, int channels = 1,
              const QStringList &extra = {});
// ffprobe's value(s) for `entries` (e.g. "stream=sample_rate"), one per line, trimmed.
QString probeEntries(const QString &path, const QString &entries);
// True when the real ffmpeg decodes the whole file without an error.
bool decodesCleanly(const QString &path);
// The whole seconds of the "Duration:" line `ffmpeg -i` prints for the file; -1 for none.
int ffmpegSeconds(const QString &path);

// One picture of a tag, as TagLib gives it.
struct TagPicture
{
    int type = 3; // ID3v2 picture type
    QString description;
    QString mimeType;
    QByteArray data;

    bool operator==(const TagPicture &o) const
    {
        return type == o.type && description == o.description && mimeType == o.mimeType &&
               data == o.data;
    }
};

// For QCOMPARE: type, description, MIME type, size and a digest of the bytes.
char *toString(const TagPicture &picture);

// Writes `properties` (TagLib's field names: TITLE, ALBUMARTIST, ...) into the file's tag
// through TagLib, picking the format by the file's extension, and adds `pictures` where that
// format keeps pictures (MP4 without types, APE as "Cover Art (Front)" items). Fields MP4
// and ASF have no name for go in as free-form items and attributes of their names. An MP3
// gets an ID3v2 tag of `id3v2Version` alone (an ID3v1 block already there stays). True when
// TagLib saved the file.
bool writeTagLibTag(const QString &path, const QMap<QString, QStringList> &properties,
                    const QList<TagPicture> &pictures, int id3v2Version = 4);
// The same with one picture, unless `png` is empty (front cover, "cover", image/png).
bool writeTagLibTag(const QString &path, const QMap<QString, QStringList> &properties,
                    const QByteArray &png = {}, int id3v2Version = 4);

// A file's tag as TagLib reads it: its properties (with MP4 free-form items and ASF
// attributes TagLib has no name for, by their names in upper case) and its pictures.
struct TagLibTag
{
    QMap<QString, QStringList> fields;
    QList<TagPicture> pictures;
};
TagLibTag readTagLibTag(const QString &path);

// True while the process runs (a zombie counts as gone).
bool processAlive(qint64 pid);

// Everything under `root`, by path: a regular file by the SHA-256 of its bytes, a folder as
// "dir", a FIFO as "fifo", a symbolic link as "link to <target>". Never opens a FIFO.
QMap<QString, QByteArray> snapshot(const QString &root);
// The work files of conversions in `dir`: the named ones (hidden, see IsWorkFileName) by
// name, and the unnamed ones this program or a process it started holds open, each as a path
// relative to `dir` that reaches it (through /proc) while it is held.
QStringList workFilesIn(const QString &dir);

// The stand-in encoder of tests/fakeencoder: its path, and its knobs in the environment.
namespace FakeEncoder {
QString path();
// Unsets every FAKE_* knob (and the shutdown record), so each test starts from defaults.
void reset();
void set(const char *knob, const QByteArray &value);
// The process ids the fake encoder wrote to FAKE_PID_FILE, in start order.
QList<qint64> pids(const QString &pidFile);
// One conversion as FAKE_TIMES_LOG recorded it, in nanoseconds of the monotonic clock;
// end is -1 for a run that did not end by itself.
struct Conversion
{
    QString in;
    qint64 start = 0;
    qint64 end = -1;
};
// The conversions of FAKE_TIMES_LOG, in start order.
QList<Conversion> conversions(const QString &timesLog);
// The most conversions that ran at the same moment.
int mostAtOnce(const QList<Conversion> &runs);
} // namespace FakeEncoder
