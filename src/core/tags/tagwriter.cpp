#include "core/tags/tagwriter.h"

#include "core/tags/genrenames.h"
#include "core/tags/tagfile.h"

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

using Fields = QMap<QString, QStringList>;
using Pictures = QList<EmbeddedPicture>;

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

TagLib::String tagString(const QString &text)
{
    return TagLib::String(text.toUtf8().constData(), TagLib::String::UTF8);
}

TagLib::StringList tagStrings(const QStringList &values)
{
    TagLib::StringList list;
    for (const QString &value : values)
        list.append(tagString(value));
    return list;
}

TagLib::ByteVector tagBytes(const QByteArray &data)
{
    return TagLib::ByteVector(data.constData(), unsigned(data.size()));
}

TagLib::PropertyMap propertyMap(const Fields &fields)
{
    TagLib::PropertyMap map;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        map.insert(tagString(it.key()), tagStrings(it.value()));
    return map;
}

// ---- Track, disc and ReplayGain in each container's form ----

// "3" and total "12" as "3/12".
void joinNumber(Fields &fields, const QString &numberKey, const QString &totalKey)
{
    if (!fields.contains(numberKey) || !fields.contains(totalKey))
        return;
    fields.insert(numberKey, {fields.value(numberKey).constFirst() + QLatin1Char('/') +
                              fields.take(totalKey).constFirst()});
}

// "-6.50 dB" as -6.5.
std::optional<double> decibels(const QStringList &values)
{
    if (values.isEmpty())
        return std::nullopt;
    QString text = values.constFirst().trimmed();
    if (text.endsWith(QLatin1String("db"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// ReplayGain's reference level is 5 dB above EBU R128's -23 LUFS, which Opus gains aim at.
constexpr double R128Offset = 5.0;
constexpr std::array<std::pair<const char *, const char *>, 2> Gains = {{
    {"REPLAYGAIN_TRACK_GAIN", "R128_TRACK_GAIN"},
    {"REPLAYGAIN_ALBUM_GAIN", "R128_ALBUM_GAIN"},
}};

void replayGainFor(TagContainer container, Fields &fields, QStringList *dropped)
{
    if (container == TagContainer::Opus) {
        for (const auto &[replayGain, r128] : Gains) {
            const std::optional<double> db = decibels(fields.value(key(replayGain)));
            if (fields.contains(key(r128)) || !db)
                continue;
            const long q78 = std::lround((*db - R128Offset) * 256);
            fields.insert(key(r128), {QString::number(std::clamp(q78, -32768L, 32767L))});
            fields.remove(key(replayGain));
        }
        // An Opus file must not carry REPLAYGAIN_* (RFC 7845 5.2.1): the rest has no place.
        for (const QString &fieldKey : fields.keys()) {
            if (!fieldKey.startsWith(QLatin1String("REPLAYGAIN_")))
                continue;
            fields.remove(fieldKey);
            const bool gainGiven = fieldKey.endsWith(QLatin1String("_GAIN"));
            if (!gainGiven && dropped)
                dropped->append(fieldKey);
        }
        return;
    }
    for (const auto &[replayGain, r128] : Gains) {
        if (!fields.contains(key(r128)))
            continue;
        bool ok = false;
        const int q78 = fields.take(key(r128)).constFirst().trimmed().toInt(&ok);
        if (!fields.contains(key(replayGain)) && ok)
            fields.insert(key(replayGain),
                          {QString::asprintf("%.2f dB", q78 / 256.0 + R128Offset)});
        else if (!ok && dropped)
            dropped->append(key(r128));
    }
}

// ---- What the containers that TagLib does not write keep ----

QStringList keptOutsideTagLib(TagContainer container, const Fields &fields, bool id3v1After)
{
    QStringList held;
    if (container == TagContainer::RealMedia)
        held = {key("TITLE"), key("ARTIST"), key("COPYRIGHT"), key("COMMENT")};
    if (id3v1After) {
        held << key("TITLE") << key("ARTIST") << key("ALBUM") << key("DATE") << key("COMMENT");
        const QStringList genre = fields.value(key("GENRE"));
        if (!genre.isEmpty() && GenreNumber(genre.constFirst()) < GenreNames.size())
            held << key("GENRE");
    }
    QStringList lost;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        if (!held.contains(it.key()))
            lost.append(it.key());
    }
    return lost;
}

// ---- ID3v2.3 (MP3, WAV) ----

void removeAllFrames(TagLib::ID3v2::Tag &tag)
{
    // Not through a copy of TagLib's list: a copy would share its owning of the frames.
    std::vector<TagLib::ID3v2::Frame *> frames;
    for (TagLib::ID3v2::Frame *frame : tag.frameList())
        frames.push_back(frame);
    for (TagLib::ID3v2::Frame *frame : frames)
        tag.removeFrame(frame);
}

TagLib::ID3v2::AttachedPictureFrame *apicFrame(const EmbeddedPicture &picture)
{
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::Type(picture.info.type));
    frame->setDescription(tagString(picture.info.description));
    frame->setMimeType(tagString(picture.info.mimeType));
    frame->setPicture(tagBytes(picture.data));
    return frame;
}

// Fields of frames ID3v2.4 alone has, which TagLib leaves out of an ID3v2.3 tag: they go
// into TXXX frames of their own names, which readers take back as these fields.
const std::array<const char *, 9> Id3v24Only = {"ALBUMSORT",    "ARTISTSORT",  "DISCSUBTITLE",
                                                "ENCODINGTIME", "MOOD",        "PRODUCEDNOTICE",
                                                "RELEASEDATE",  "TAGGINGDATE", "TITLESORT"};

void fillId3v2(TagLib::ID3v2::Tag &tag, const Fields &fields, const Pictures &pictures,
               QStringList &rejected)
{
    using namespace TagLib;
    removeAllFrames(tag);
    Fields framed = fields;
    Fields txxx;
    for (const char *name : Id3v24Only) {
        if (framed.contains(key(name)))
            txxx.insert(key(name), framed.take(key(name)));
    }
    const PropertyMap left = tag.setProperties(propertyMap(framed));
    for (const auto &field : left)
        rejected.append(QStringOf(field.first));
    // After setProperties(), which removes what its map lacks.
    for (auto it = txxx.cbegin(); it != txxx.cend(); ++it)
        tag.addFrame(
            new ID3v2::UserTextIdentificationFrame(tagString(it.key()), tagStrings(it.value())));
    for (const EmbeddedPicture &picture : pictures)
        tag.addFrame(apicFrame(picture));
    // Latin-1 where a frame's text fits, else UTF-16: TagLib chooses as it writes ID3v2.3.
    for (ID3v2::Frame *frame : tag.frameList()) {
        if (auto *text = dynamic_cast<ID3v2::TextIdentificationFrame *>(frame))
            text->setTextEncoding(String::Latin1);
        else if (auto *comment = dynamic_cast<ID3v2::CommentsFrame *>(frame))
            comment->setTextEncoding(String::Latin1);
        else if (auto *lyrics = dynamic_cast<ID3v2::UnsynchronizedLyricsFrame *>(frame))
            lyrics->setTextEncoding(String::Latin1);
        else if (auto *apic = dynamic_cast<ID3v2::AttachedPictureFrame *>(frame))
            apic->setTextEncoding(String::Latin1);
    }
}

// RIFF INFO holds one text per field, and few fields; the ID3v2 chunk holds them all.
void fillInfo(TagLib::RIFF::Info::Tag &info, const Fields &fields)
{
    const TagLib::RIFF::Info::FieldListMap old = info.fieldListMap();
    for (const auto &field : old)
        info.removeField(field.first);
    Fields single;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        single.insert(it.key(), {it.value().join(QLatin1String("; "))});
    info.setProperties(propertyMap(single));
}

bool writeMpeg(TagLib::MPEG::File &file, const Fields &fields, const Pictures &pictures,
               QStringList &rejected)
{
    fillId3v2(*file.ID3v2Tag(true), fields, pictures, rejected);
    // Whatever else the encoder wrote goes (an APE tag, say); the caller appends ID3v1.
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3,
                     TagLib::File::DoNotDuplicate);
}

bool writeWav(TagLib::RIFF::WAV::File &file, const Fields &fields, const Pictures &pictures,
              QStringList &rejected)
{
    fillId3v2(*file.ID3v2Tag(), fields, pictures, rejected);
    fillInfo(*file.InfoTag(), fields);
    return file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripOthers,
                     TagLib::ID3v2::v3);
}

// ---- Vorbis comments (FLAC, Ogg Vorbis, Opus) ----

TagLib::FLAC::Picture *flacPicture(const EmbeddedPicture &picture)
{
    auto *p = new TagLib::FLAC::Picture;
    p->setType(TagLib::FLAC::Picture::Type(picture.info.type));
    p->setDescription(tagString(picture.info.description));
    p->setMimeType(tagString(picture.info.mimeType));
    p->setData(tagBytes(picture.data));
    return p;
}

void fillXiph(TagLib::Ogg::XiphComment &comment, const Fields &fields, QStringList &rejected)
{
    comment.removeAllFields();
    comment.removeAllPictures();
    const TagLib::PropertyMap left = comment.setProperties(propertyMap(fields));
    for (const auto &field : left)
        rejected.append(QStringOf(field.first));
}

bool writeFlac(TagLib::FLAC::File &file, const Fields &fields, const Pictures &pictures,
               QStringList &rejected)
{
    fillXiph(*file.xiphComment(true), fields, rejected);
    file.removePictures();
    for (const EmbeddedPicture &picture : pictures)
        file.addPicture(flacPicture(picture));
    return file.save();
}

template <typename OggFile>
bool writeOgg(OggFile &file, const Fields &fields, const Pictures &pictures, QStringList &rejected)
{
    TagLib::Ogg::XiphComment &comment = *file.tag();
    fillXiph(comment, fields, rejected);
    for (const EmbeddedPicture &picture : pictures)
        comment.addPicture(flacPicture(picture));
    return file.save();
}

// ---- MP4 ----

const QLatin1String FreeFormPrefix("----:com.apple.iTunes:");

// ReplayGain's free-form names are lower case by custom.
QString freeFormName(const QString &fieldKey)
{
    return fieldKey.startsWith(QLatin1String("REPLAYGAIN_")) ? fieldKey.toLower() : fieldKey;
}

TagLib::MP4::CoverArt coverArt(const EmbeddedPicture &picture)
{
    using TagLib::MP4::CoverArt;
    CoverArt::Format format = CoverArt::Unknown;
    if (picture.info.mimeType == QLatin1String("image/jpeg"))
        format = CoverArt::JPEG;
    else if (picture.info.mimeType == QLatin1String("image/png"))
        format = CoverArt::PNG;
    else if (picture.info.mimeType == QLatin1String("image/bmp"))
        format = CoverArt::BMP;
    else if (picture.info.mimeType == QLatin1String("image/gif"))
        format = CoverArt::GIF;
    return CoverArt(format, tagBytes(picture.data));
}

// Free-form items take what has no atom: nothing is rejected.
bool writeMp4(TagLib::MP4::File &file, const Fields &fields, const Pictures &pictures,
              QStringList &)
{
    using namespace TagLib;
    MP4::Tag &tag = *file.tag();
    const MP4::ItemMap old = tag.itemMap();
    for (const auto &item : old)
        tag.removeItem(item.first);
    const PropertyMap left = tag.setProperties(propertyMap(fields));
    for (const auto &field : left)
        tag.setItem(tagString(FreeFormPrefix + freeFormName(QStringOf(field.first))),
                    MP4::Item(field.second));
    // MP4 knows no picture types; players show the first image as the cover.
    MP4::CoverArtList covers;
    for (const bool front : {true, false}) {
        for (const EmbeddedPicture &picture : pictures) {
            if ((picture.info.type == 3) == front)
                covers.append(coverArt(picture));
        }
    }
    if (!covers.isEmpty())
        tag.setItem("covr", MP4::Item(covers));
    return file.save();
}

// ---- ASF (WMA) ----

// Totals as other taggers name them in ASF; ReplayGain lower case, as players write it.
QString attributeName(const QString &fieldKey)
{
    if (fieldKey == QLatin1String("TRACKTOTAL"))
        return QStringLiteral("TotalTracks");
    if (fieldKey == QLatin1String("DISCTOTAL"))
        return QStringLiteral("TotalDiscs");
    return freeFormName(fieldKey);
}

// An attribute takes any name: nothing is rejected.
bool writeAsf(TagLib::ASF::File &file, const Fields &fields, const Pictures &pictures,
              QStringList &)
{
    using namespace TagLib;
    ASF::Tag &tag = *file.tag();
    const ASF::AttributeListMap old = tag.attributeListMap();
    for (const auto &attribute : old)
        tag.removeItem(attribute.first);
    for (void (ASF::Tag::*set)(const String &) :
         {&ASF::Tag::setTitle, &ASF::Tag::setArtist, &ASF::Tag::setComment, &ASF::Tag::setCopyright,
          &ASF::Tag::setRating})
        (tag.*set)(String());
    // The content description holds one text per field: several values as Windows shows them.
    Fields asf = fields;
    for (const char *single : {"TITLE", "ARTIST", "COMMENT", "COPYRIGHT"}) {
        if (asf.contains(key(single)))
            asf.insert(key(single), {asf.value(key(single)).join(QLatin1String("; "))});
    }
    const PropertyMap left = tag.setProperties(propertyMap(asf));
    for (const auto &field : left) {
        for (const String &value : field.second)
            tag.addAttribute(tagString(attributeName(QStringOf(field.first))),
                             ASF::Attribute(value));
    }
    for (const EmbeddedPicture &p : pictures) {
        ASF::Picture picture;
        picture.setType(ASF::Picture::Type(p.info.type));
        picture.setDescription(tagString(p.info.description));
        picture.setMimeType(tagString(p.info.mimeType));
        picture.setPicture(tagBytes(p.data));
        tag.addAttribute("WM/Picture", ASF::Attribute(picture));
    }
    return file.save();
}

// ---- The file ----

template <typename FileType, typename Writer>
std::optional<bool> writeAs(TagLib::File *file, Writer write, const Fields &fields,
                            const Pictures &pictures, QStringList &rejected)
{
    auto *typed = dynamic_cast<FileType *>(file);
    if (!typed)
        return std::nullopt;
    return write(*typed, fields, pictures, rejected);
}

// Whether the tag was saved; nothing when the file is not of the container's kind.
std::optional<bool> writeFile(TagLib::File *file, TagContainer container, const Fields &fields,
                              const Pictures &pictures, QStringList &rejected)
{
    using namespace TagLib;
    switch (container) {
    case TagContainer::Mpeg:
        return writeAs<MPEG::File>(file, writeMpeg, fields, pictures, rejected);
    case TagContainer::Wav:
        return writeAs<RIFF::WAV::File>(file, writeWav, fields, pictures, rejected);
    case TagContainer::Asf:
        return writeAs<ASF::File>(file, writeAsf, fields, pictures, rejected);
    case TagContainer::Flac:
        return writeAs<FLAC::File>(file, writeFlac, fields, pictures, rejected);
    case TagContainer::OggVorbis:
        return writeAs<Ogg::Vorbis::File>(file, writeOgg<Ogg::Vorbis::File>, fields, pictures,
                                          rejected);
    case TagContainer::Opus:
        return writeAs<Ogg::Opus::File>(file, writeOgg<Ogg::Opus::File>, fields, pictures,
                                        rejected);
    case TagContainer::Mp4:
        return writeAs<MP4::File>(file, writeMp4, fields, pictures, rejected);
    case TagContainer::None:
    case TagContainer::RealMedia:
        break;
    }
    return std::nullopt;
}

} // namespace

QMap<QString, QStringList> ContainerFields(TagContainer container,
                                           const QMap<QString, QStringList> &fields,
                                           QStringList *dropped)
{
    Fields out = fields;
    replayGainFor(container, out, dropped);
    switch (container) {
    case TagContainer::Mpeg:
    case TagContainer::Wav:
    case TagContainer::Mp4:
        joinNumber(out, key("TRACKNUMBER"), key("TRACKTOTAL"));
        joinNumber(out, key("DISCNUMBER"), key("DISCTOTAL"));
        break;
    case TagContainer::None:
    case TagContainer::RealMedia:
    case TagContainer::Asf:
    case TagContainer::Flac:
    case TagContainer::OggVorbis:
    case TagContainer::Opus:
        break;
    }
    return out;
}

TagWriteResult WriteOutputTag(int fd, TagContainer container, const OutputTag &tag, bool id3v1After)
{
    TagWriteResult result;
    QStringList lost;
    const Fields fields = ContainerFields(container, tag.fields, &lost);
    // Nothing to write: the file stays as the encoder wrote it.
    const bool nothing = tag.fields.isEmpty() && tag.pictures.isEmpty();
    if (nothing || container == TagContainer::None || container == TagContainer::RealMedia) {
        if (fd >= 0)
            ::close(fd);
        result.notKept = ReportFieldNames(lost + keptOutsideTagLib(container, fields, id3v1After),
                                          !tag.pictures.isEmpty());
        return result;
    }
    std::optional<bool> saved;
    try {
        const TagFile work(fd);
        saved = writeFile(work.file(), container, fields, tag.pictures, lost);
    } catch (const std::bad_alloc &) {
        saved = false; // a save may have begun
    }
    if (!saved) {
        result.outcome = TagWriteResult::Outcome::NotOpened;
        result.notKept = ReportFieldNames(tag.fields.keys(), !tag.pictures.isEmpty());
        return result;
    }
    result.outcome = *saved ? TagWriteResult::Outcome::Written : TagWriteResult::Outcome::Failed;
    result.notKept = ReportFieldNames(lost, false);
    return result;
}
