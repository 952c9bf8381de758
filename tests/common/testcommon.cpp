#include "common/testcommon.h"

#include "core/base/durationtext.h"
#include "core/base/runandcapture.h"
#include "core/base/workfilename.h"
#include "core/joblist/joblistmodel.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QString ffmpegPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString ffprobePath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
}

bool makeSine(const QString &path, double seconds, int rate, int channels, const QStringList &extra)
{
    QStringList args = {QStringLiteral("-v"),
                        QStringLiteral("error"),
                        QStringLiteral("-y"),
                        QStringLiteral("-f"),
                        QStringLiteral("lavfi"),
                        QStringLiteral("-i"),
                        QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                        QStringLiteral("-ar"),
                        QString::number(rate),
                        QStringLiteral("-ac"),
                        QString::number(channels)};
    args += extra;
    args.append(path);
    QByteArray output;
    const bool ok = RunAndCapture(ffmpegPath(), args, output).succeeded();
    if (!ok)
        qWarning("making %s failed: %s", qPrintable(path), output.constData());
    return ok;
}

QString probeEntries(const QString &path, const QString &entries)
{
    QByteArray output;
    RunAndCapture(ffprobePath(),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   entries, QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), path},
                  output);
    return QString::fromUtf8(output).trimmed();
}

bool decodesCleanly(const QString &path)
{
    QByteArray output;
    const RunResult run =
        RunAndCapture(ffmpegPath(),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                       QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
                      output);
    return run.succeeded() && output.trimmed().isEmpty();
}

int ffmpegSeconds(const QString &path)
{
    QByteArray output;
    RunAndCapture(ffmpegPath(), {QStringLiteral("-hide_banner"), QStringLiteral("-i"), path},
                  output);
    return SecondsFromOutput(output, path).value_or(-1);
}

namespace {

TagLib::String tagLibString(const QString &text)
{
    return TagLib::String(text.toUtf8().constData(), TagLib::String::UTF8);
}

QString qtString(const TagLib::String &text)
{
    return QString::fromUtf8(text.toCString(true));
}

TagLib::ByteVector tagLibBytes(const QByteArray &data)
{
    return TagLib::ByteVector(data.constData(), unsigned(data.size()));
}

QByteArray qtBytes(const TagLib::ByteVector &data)
{
    return QByteArray(data.data(), qsizetype(data.size()));
}

// APE's names of the ID3v2 picture types, as APE tags name their cover items.
const char *const ApeCoverNames[] = {"Other", "Icon", "Other Icon", "Front", "Back"};

TagLib::ID3v2::AttachedPictureFrame *pictureFrame(const TagPicture &p)
{
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::Type(p.type));
    frame->setDescription(tagLibString(p.description));
    frame->setMimeType(tagLibString(p.mimeType));
    frame->setPicture(tagLibBytes(p.data));
    return frame;
}

TagLib::FLAC::Picture *flacPicture(const TagPicture &p)
{
    auto *picture = new TagLib::FLAC::Picture;
    picture->setType(TagLib::FLAC::Picture::Type(p.type));
    picture->setDescription(tagLibString(p.description));
    picture->setMimeType(tagLibString(p.mimeType));
    picture->setData(tagLibBytes(p.data));
    return picture;
}

TagLib::APE::Tag *apeTagOf(TagLib::File *file)
{
    using namespace TagLib;
    if (auto *wavPack = dynamic_cast<WavPack::File *>(file))
        return wavPack->APETag(true);
    if (auto *ape = dynamic_cast<APE::File *>(file))
        return ape->APETag(true);
    if (auto *mpc = dynamic_cast<MPC::File *>(file))
        return mpc->APETag(true);
    return nullptr;
}

TagLib::ID3v2::Tag *id3v2TagOf(TagLib::File *file)
{
    using namespace TagLib;
    if (auto *mpeg = dynamic_cast<MPEG::File *>(file))
        return mpeg->ID3v2Tag(true);
    if (auto *wav = dynamic_cast<RIFF::WAV::File *>(file))
        return wav->ID3v2Tag();
    if (auto *aiff = dynamic_cast<RIFF::AIFF::File *>(file))
        return aiff->tag();
    if (auto *tta = dynamic_cast<TrueAudio::File *>(file))
        return tta->ID3v2Tag(true);
    return nullptr;
}

void addPictures(TagLib::File *file, const QList<TagPicture> &pictures)
{
    using namespace TagLib;
    MP4::CoverArtList covers;
    for (const TagPicture &p : pictures) {
        if (ID3v2::Tag *id3v2 = id3v2TagOf(file))
            id3v2->addFrame(pictureFrame(p));
        else if (auto *flac = dynamic_cast<FLAC::File *>(file))
            flac->addPicture(flacPicture(p));
        else if (auto *ogg = dynamic_cast<Ogg::File *>(file))
            static_cast<Ogg::XiphComment *>(ogg->tag())->addPicture(flacPicture(p));
        else if (dynamic_cast<MP4::File *>(file))
            covers.append(MP4::CoverArt(
                p.mimeType == QLatin1String("image/png") ? MP4::CoverArt::PNG : MP4::CoverArt::JPEG,
                tagLibBytes(p.data)));
        else if (auto *asf = dynamic_cast<ASF::File *>(file)) {
            ASF::Picture picture;
            picture.setType(ASF::Picture::Type(p.type));
            picture.setDescription(tagLibString(p.description));
            picture.setMimeType(tagLibString(p.mimeType));
            picture.setPicture(tagLibBytes(p.data));
            asf->tag()->addAttribute("WM/Picture", ASF::Attribute(picture));
        } else if (APE::Tag *ape = apeTagOf(file)) {
            const char *name = p.type >= 0 && p.type < 5 ? ApeCoverNames[p.type] : "Other";
            ape->setData(String("Cover Art (") + name + ")",
                         tagLibBytes(p.description.toUtf8() + '\0' + p.data));
        }
    }
    if (auto *mp4 = dynamic_cast<MP4::File *>(file); mp4 && !covers.isEmpty())
        mp4->tag()->setItem("covr", covers);
}

// MP4 and ASF have no place of TagLib's for custom fields and ReplayGain: an iTunes-style
// free-form item, an attribute of the field's name, as other taggers write them.
void addUnmapped(TagLib::File *file, const TagLib::PropertyMap &left)
{
    using namespace TagLib;
    for (const auto &field : left) {
        if (auto *mp4 = dynamic_cast<MP4::File *>(file))
            mp4->tag()->setItem("----:com.apple.iTunes:" + field.first, field.second);
        else if (auto *asf = dynamic_cast<ASF::File *>(file)) {
            for (const String &value : field.second)
                asf->tag()->addAttribute(field.first, ASF::Attribute(value));
        }
    }
}

} // namespace

bool writeTagLibTag(const QString &path, const QMap<QString, QStringList> &properties,
                    const QList<TagPicture> &pictures, int id3v2Version)
{
    TagLib::FileRef ref(QFile::encodeName(path).constData());
    if (ref.isNull())
        return false;
    TagLib::PropertyMap map;
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        TagLib::StringList values;
        for (const QString &v : it.value())
            values.append(tagLibString(v));
        map.insert(tagLibString(it.key()), values);
    }
    addUnmapped(ref.file(), ref.file()->setProperties(map));
    addPictures(ref.file(), pictures);
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(ref.file()))
        return mpeg->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                          id3v2Version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4,
                          TagLib::File::DoNotDuplicate);
    return ref.file()->save();
}

bool writeTagLibTag(const QString &path, const QMap<QString, QStringList> &properties,
                    const QByteArray &png, int id3v2Version)
{
    QList<TagPicture> pictures;
    if (!png.isEmpty())
        pictures.append({3, QStringLiteral("cover"), QStringLiteral("image/png"), png});
    return writeTagLibTag(path, properties, pictures, id3v2Version);
}

namespace {

QList<TagPicture> id3v2Pictures(TagLib::ID3v2::Tag *tag)
{
    QList<TagPicture> out;
    if (!tag)
        return out;
    for (TagLib::ID3v2::Frame *frame : tag->frameListMap()["APIC"]) {
        const auto *apic = static_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
        out.append({int(apic->type()), qtString(apic->description()), qtString(apic->mimeType()),
                    qtBytes(apic->picture())});
    }
    return out;
}

QList<TagPicture> flacPictures(const TagLib::List<TagLib::FLAC::Picture *> &list)
{
    QList<TagPicture> out;
    for (const TagLib::FLAC::Picture *p : list)
        out.append({int(p->type()), qtString(p->description()), qtString(p->mimeType()),
                    qtBytes(p->data())});
    return out;
}

QList<TagPicture> picturesOf(TagLib::File *file)
{
    using namespace TagLib;
    QList<TagPicture> out;
    if (auto *mpeg = dynamic_cast<MPEG::File *>(file))
        return id3v2Pictures(mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr);
    if (auto *wav = dynamic_cast<RIFF::WAV::File *>(file))
        return id3v2Pictures(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr);
    if (auto *flac = dynamic_cast<FLAC::File *>(file))
        return flacPictures(flac->pictureList());
    if (auto *ogg = dynamic_cast<Ogg::File *>(file))
        return flacPictures(static_cast<Ogg::XiphComment *>(ogg->tag())->pictureList());
    if (auto *mp4 = dynamic_cast<MP4::File *>(file)) {
        if (mp4->tag()->contains("covr")) {
            for (const MP4::CoverArt &cover : mp4->tag()->item("covr").toCoverArtList())
                out.append({3, QString(),
                            cover.format() == MP4::CoverArt::PNG ? QStringLiteral("image/png")
                                                                 : QStringLiteral("image/jpeg"),
                            qtBytes(cover.data())});
        }
    } else if (auto *asf = dynamic_cast<ASF::File *>(file)) {
        for (const ASF::Attribute &attribute : asf->tag()->attribute("WM/Picture")) {
            const ASF::Picture p = attribute.toPicture();
            out.append({int(p.type()), qtString(p.description()), qtString(p.mimeType()),
                        qtBytes(p.picture())});
        }
    } else if (APE::Tag *ape = apeTagOf(file)) {
        for (int type = 0; type < 5; ++type) {
            const String name = String("COVER ART (") + String(ApeCoverNames[type]).upper() + ")";
            if (!ape->itemListMap().contains(name))
                continue;
            const QByteArray value = qtBytes(ape->itemListMap()[name].binaryData());
            const qsizetype zero = value.indexOf('\0');
            const QByteArray data = value.mid(zero + 1);
            out.append({type, QString::fromUtf8(value.left(zero)),
                        data.startsWith("\x89PNG") ? QStringLiteral("image/png")
                                                   : QStringLiteral("image/jpeg"),
                        data});
        }
    }
    return out;
}

} // namespace

char *toString(const TagPicture &picture)
{
    const QByteArray text =
        QStringLiteral("%1 \"%2\" %3 %4 bytes %5")
            .arg(picture.type)
            .arg(picture.description, picture.mimeType)
            .arg(picture.data.size())
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(picture.data, QCryptographicHash::Sha1).toHex().left(8)))
            .toUtf8();
    return qstrdup(text.constData());
}

TagLibTag readTagLibTag(const QString &path)
{
    using namespace TagLib;
    TagLibTag tag;
    FileRef ref(QFile::encodeName(path).constData());
    if (ref.isNull())
        return tag;
    const PropertyMap properties = ref.file()->properties();
    for (const auto &field : properties) {
        QStringList values;
        for (const String &v : field.second)
            values.append(qtString(v));
        tag.fields.insert(qtString(field.first), values);
    }
    // Free-form MP4 items and ASF attributes TagLib has no name for, by their own names.
    for (const String &name : properties.unsupportedData()) {
        QStringList values;
        String key = name;
        if (auto *mp4 = dynamic_cast<MP4::File *>(ref.file());
            mp4 && name.startsWith("----:com.apple.iTunes:")) {
            key = name.substr(22);
            for (const String &v : mp4->tag()->item(name).toStringList())
                values.append(qtString(v));
        } else if (auto *asf = dynamic_cast<ASF::File *>(ref.file());
                   asf && !name.startsWith("WM/")) {
            for (const ASF::Attribute &a : asf->tag()->attribute(name)) {
                if (a.type() == ASF::Attribute::UnicodeType)
                    values.append(qtString(a.toString()));
            }
        }
        if (!values.isEmpty())
            tag.fields.insert(qtString(key).toUpper(), values);
    }
    tag.pictures = picturesOf(ref.file());
    return tag;
}

bool processAlive(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            state.insert(path, "link to " + QFile::encodeName(info.symLinkTarget()));
        else if (S_ISFIFO(st.st_mode))
            state.insert(path, "fifo");
        else if (S_ISDIR(st.st_mode))
            state.insert(path, "dir");
        else
            state.insert(path,
                         QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256));
    }
    return state;
}

namespace {

// This program and every process below it (the front end a test starts, its encoders).
QList<qint64> ourProcesses()
{
    QHash<qint64, qint64> parents;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        if (close >= 0)
            parents.insert(pid, stat.mid(close + 2).split(' ').value(1).toLongLong());
    }
    QList<qint64> ours = {qint64(::getpid())};
    for (qsizetype i = 0; i < ours.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == ours.at(i) && !ours.contains(it.key()))
                ours.append(it.key());
        }
    }
    return ours;
}

} // namespace

QStringList workFilesIn(const QString &dir)
{
    QStringList found;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (IsWorkFileName(name))
            found.append(name);
    }
    // An unnamed work file shows in /proc as "<dir>/#<inode> (deleted)" while a job or its
    // encoder holds it; it is reached from `dir` through that descriptor.
    const QString unnamed = QDir::cleanPath(QFileInfo(dir).absoluteFilePath()) + u"/#"_qs;
    QSet<QPair<quint64, quint64>> seen;
    for (qint64 pid : ourProcesses()) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
            const QString path = fds + u'/' + fd;
            struct stat st;
            if (!QFileInfo(path).symLinkTarget().startsWith(unnamed) ||
                ::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_nlink != 0)
                continue;
            if (!seen.contains({quint64(st.st_dev), quint64(st.st_ino)})) {
                seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
                found.append(QDir(dir).relativeFilePath(path));
            }
        }
    }
    return found;
}

namespace FakeEncoder {

QString path()
{
    return QStringLiteral(WT_FAKE_ENCODER);
}

void reset()
{
    for (const char *name :
         {"FAKE_DURATION", "FAKE_TRANSCRIPT", "FAKE_CHUNK_BYTES", "FAKE_CHUNK_DELAY_MS",
          "FAKE_OUTPUT_BYTES", "FAKE_EXIT", "FAKE_MODE", "FAKE_HANG_ON", "FAKE_ARGS_LOG",
          "FAKE_PID_FILE", "FAKE_IGNORE_TERM", "FAKE_SLEEP_MS", "FAKE_SLOW_ON", "FAKE_FAIL_ON",
          "FAKE_TIMES_LOG", "FAKE_WRITE_DELAY_MS", "FAKE_WAIT_FOR", "WT_SHUTDOWN_RECORD"})
        qunsetenv(name);
}

void set(const char *knob, const QByteArray &value)
{
    qputenv(knob, value);
}

QList<qint64> pids(const QString &pidFile)
{
    QList<qint64> found;
    for (const QByteArray &line : readFile(pidFile).split('\n')) {
        if (!line.trimmed().isEmpty())
            found.append(line.trimmed().toLongLong());
    }
    return found;
}

QList<Conversion> conversions(const QString &timesLog)
{
    QList<Conversion> runs;
    for (const QByteArray &line : readFile(timesLog).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        const qint64 at = fields.at(1).toLongLong();
        const QString in =
            QString::fromUtf8(line.mid(fields.at(0).size() + fields.at(1).size() + 2));
        if (fields.at(0) == "start") {
            runs.append({in, at, -1});
            continue;
        }
        for (Conversion &run : runs) {
            if (run.in == in && run.end < 0) {
                run.end = at;
                break;
            }
        }
    }
    return runs;
}

int mostAtOnce(const QList<Conversion> &runs)
{
    int most = 0;
    for (const Conversion &run : runs) {
        // At the moment one starts, count those started and not ended yet.
        int atOnce = 0;
        for (const Conversion &other : runs) {
            if (other.start <= run.start && (other.end < 0 || other.end > run.start))
                ++atOnce;
        }
        most = std::max(most, atOnce);
    }
    return most;
}

} // namespace FakeEncoder

QString timeShown(const JobListModel &model, int row)
{
    return model.data(model.index(row, JobListModel::TimeColumn)).toString();
}

QString sizeShown(const JobListModel &model, int row)
{
    return model.data(model.index(row, JobListModel::SizeColumn)).toString();
}

std::optional<int> secondsOf(const QString &duration)
{
    if (duration.isEmpty())
        return std::nullopt;
    return DurationToSeconds(duration);
}
