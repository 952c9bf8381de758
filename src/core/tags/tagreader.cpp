#include "core/tags/tagreader.h"

#include "core/tags/audiolength.h"
#include "core/tags/genrenames.h"
#include "core/tags/mp4boxes.h"
#include "core/tags/tagfile.h"
#include "core/tags/tagpictures.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <new>
#include <vector>

namespace {

using Properties = QMap<QString, QStringList>;

// Several values of one field, as the list and the tag editor show them.
const QLatin1String ValueSeparator("; ");

// Fields TagLib has no name for, which other taggers write into MP4 files as iTunes-style
// free-form items ("----:com.apple.iTunes:NAME": custom fields, ReplayGain): by NAME in upper
// case. The encoder's gapless and loudness notes describe the source's encoding only.
void addFreeFormItems(const TagLib::MP4::Tag &tag, TagLib::PropertyMap &properties)
{
    const TagLib::String prefix("----:com.apple.iTunes:");
    for (const TagLib::String &item : properties.unsupportedData()) {
        if (!item.startsWith(prefix))
            continue;
        const TagLib::String name = item.substr(prefix.size()).upper();
        if (name.isEmpty() || name.startsWith("ITUN") || properties.contains(name))
            continue;
        const TagLib::StringList values = tag.item(item).toStringList();
        if (!values.isEmpty())
            properties.insert(name, values);
    }
}

// The same for ASF attributes of text TagLib has no name for; Microsoft's own (WM/..., the
// SDK's) describe the file, not the music.
void addCustomAttributes(const TagLib::ASF::Tag &tag, TagLib::PropertyMap &properties)
{
    for (const TagLib::String &name : properties.unsupportedData()) {
        if (name.startsWith("WM/") || name.startsWith("WMFSDK") ||
            name == "DeviceConformanceTemplate" || !tag.contains(name))
            continue;
        TagLib::StringList values;
        for (const TagLib::ASF::Attribute &attribute : tag.attribute(name)) {
            if (attribute.type() == TagLib::ASF::Attribute::UnicodeType)
                values.append(attribute.toString());
        }
        if (!values.isEmpty() && !properties.contains(name.upper()))
            properties.insert(name.upper(), values);
    }
}

// The file's tags other than ID3v1, the one read first where it has several.
std::vector<TagLib::PropertyMap> fullerTags(TagLib::File &file)
{
    using namespace TagLib;
    std::vector<PropertyMap> tags;
    if (auto *mpeg = dynamic_cast<MPEG::File *>(&file)) {
        if (mpeg->hasID3v2Tag())
            tags.push_back(mpeg->ID3v2Tag()->properties());
        if (mpeg->hasAPETag())
            tags.push_back(mpeg->APETag()->properties());
    } else if (auto *flac = dynamic_cast<FLAC::File *>(&file)) {
        if (flac->hasXiphComment())
            tags.push_back(flac->xiphComment()->properties());
        if (flac->hasID3v2Tag())
            tags.push_back(flac->ID3v2Tag()->properties());
    } else if (auto *ogg = dynamic_cast<Ogg::File *>(&file)) {
        if (auto *comment = dynamic_cast<Ogg::XiphComment *>(ogg->tag()))
            tags.push_back(comment->properties());
    } else if (auto *mp4 = dynamic_cast<MP4::File *>(&file)) {
        if (mp4->hasMP4Tag()) {
            tags.push_back(mp4->tag()->properties());
            addFreeFormItems(*mp4->tag(), tags.back());
        }
    } else if (auto *asf = dynamic_cast<ASF::File *>(&file)) {
        if (asf->tag()) {
            tags.push_back(asf->tag()->properties());
            addCustomAttributes(*asf->tag(), tags.back());
        }
    } else if (auto *wav = dynamic_cast<RIFF::WAV::File *>(&file)) {
        if (wav->hasID3v2Tag())
            tags.push_back(wav->ID3v2Tag()->properties());
        if (wav->hasInfoTag())
            tags.push_back(wav->InfoTag()->properties());
    } else if (auto *aiff = dynamic_cast<RIFF::AIFF::File *>(&file)) {
        if (aiff->hasID3v2Tag())
            tags.push_back(aiff->tag()->properties());
    } else if (auto *tta = dynamic_cast<TrueAudio::File *>(&file)) {
        if (tta->hasID3v2Tag())
            tags.push_back(tta->ID3v2Tag()->properties());
    } else if (auto *wavPack = dynamic_cast<WavPack::File *>(&file)) {
        if (wavPack->hasAPETag())
            tags.push_back(wavPack->APETag()->properties());
    } else if (auto *ape = dynamic_cast<APE::File *>(&file)) {
        if (ape->hasAPETag())
            tags.push_back(ape->APETag()->properties());
    } else if (auto *mpc = dynamic_cast<MPC::File *>(&file)) {
        if (mpc->hasAPETag())
            tags.push_back(mpc->APETag()->properties());
    }
    return tags;
}

// Every field of the first tag, then what later tags add.
Properties mergedProperties(const std::vector<TagLib::PropertyMap> &tags)
{
    Properties merged;
    for (const TagLib::PropertyMap &tag : tags) {
        for (const auto &field : tag) {
            const QString key = QStringOf(field.first);
            if (merged.contains(key))
                continue;
            QStringList values;
            for (const TagLib::String &value : field.second)
                values << QStringOf(value);
            merged.insert(key, values);
        }
    }
    return merged;
}

// The field's non-empty values, joined; empty when it has none.
QString fieldText(const Properties &properties, const char *key)
{
    QStringList values = properties.value(QLatin1String(key));
    values.removeAll(QString());
    return values.join(ValueSeparator);
}

// The fuller tag's text where it has one, else the ID3v1 field's bytes.
QByteArray chosen(const Properties &properties, const char *key, const QByteArray &id3v1)
{
    const QString text = fieldText(properties, key);
    return text.isEmpty() ? id3v1 : DisplayToTagText(text);
}

// "3/12" gives 3; 0 for what is no track number from 1 to 255.
quint8 trackNumber(const QString &text)
{
    const QString number = text.section(QLatin1Char('/'), 0, 0).trimmed();
    bool ok = false;
    const int track = number.toInt(&ok);
    return ok && track > 0 && track <= 255 ? quint8(track) : 0;
}

ID3info entryOf(const QString &path, const QString &fallbackTitle, const TID3v1 &id3v1,
                const Properties &properties)
{
    ID3info entry;
    entry.Title = chosen(properties, "TITLE", id3v1.Title);
    if (entry.Title.isEmpty())
        entry.Title = fallbackTitle.toUtf8();
    entry.EditTitle = entry.Title;
    entry.SourcePath = path;
    entry.Artist = chosen(properties, "ARTIST", id3v1.Artist);
    entry.Album = chosen(properties, "ALBUM", id3v1.Album);
    entry.Year = chosen(properties, "DATE", id3v1.Year);
    entry.Comment = chosen(properties, "COMMENT", id3v1.Comment);
    const QStringList genres = properties.value(QStringLiteral("GENRE"));
    const QString genre = genres.isEmpty() ? QString() : genres.first();
    if (genre.isEmpty()) {
        entry.GenreName = id3v1.GetGenreName();
        entry.Genre = id3v1.GenreIndex;
    } else {
        entry.Genre = GenreNumber(genre);
        entry.GenreName = entry.Genre < GenreNames.size() ? QByteArray(GenreNames[entry.Genre])
                                                          : DisplayToTagText(genre);
    }
    const QStringList tracks = properties.value(QStringLiteral("TRACKNUMBER"));
    const quint8 track = tracks.isEmpty() ? 0 : trackNumber(tracks.first());
    entry.Track = track != 0 ? track : id3v1.Track;
    entry.Properties = properties;
    return entry;
}

// WAV's IEEE float format, AIFF-C's fl32 and fl64.
bool floatSamples(TagLib::File &file)
{
    using namespace TagLib;
    if (auto *f = dynamic_cast<RIFF::WAV::File *>(&file))
        return f->audioProperties() && f->audioProperties()->format() == 3;
    if (auto *f = dynamic_cast<RIFF::AIFF::File *>(&file)) {
        const RIFF::AIFF::Properties *p = f->audioProperties();
        return p && p->isAiffC() &&
               (p->compressionType() == "fl32" || p->compressionType() == "fl64" ||
                p->compressionType() == "FL32" || p->compressionType() == "FL64");
    }
    return false;
}

int losslessBits(TagLib::File &file)
{
    using namespace TagLib;
    if (auto *f = dynamic_cast<FLAC::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    if (auto *f = dynamic_cast<RIFF::WAV::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    if (auto *f = dynamic_cast<RIFF::AIFF::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    if (auto *f = dynamic_cast<MP4::File *>(&file)) {
        const MP4::Properties *p = f->audioProperties();
        return p && p->codec() == MP4::Properties::ALAC ? p->bitsPerSample() : 0;
    }
    if (auto *f = dynamic_cast<WavPack::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    if (auto *f = dynamic_cast<APE::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    if (auto *f = dynamic_cast<TrueAudio::File *>(&file))
        return f->audioProperties() ? f->audioProperties()->bitsPerSample() : 0;
    return 0;
}

// Everything TagLib tells of an open file; the entry is made by the caller.
void readOpenFile(TagLib::File &file, MediaInfo &info, Properties &properties)
{
    properties = mergedProperties(fullerTags(file));
    const QList<EmbeddedPicture> pictures = PicturesOf(file, false);
    for (const EmbeddedPicture &p : pictures)
        info.entry.Pictures.append(p.info);
    info.seconds = SecondsLikeFfmpeg(file);
    if (const TagLib::AudioProperties *audio = file.audioProperties()) {
        info.sampleRate = std::max(audio->sampleRate(), 0);
        info.channels = std::max(audio->channels(), 0);
        // TagLib takes AAC's channels from the sample description, which need not know them.
        auto *mp4 = dynamic_cast<TagLib::MP4::File *>(&file);
        if (mp4 && mp4->audioProperties() &&
            mp4->audioProperties()->codec() == TagLib::MP4::Properties::AAC)
            info.channels = Mp4AacChannels(file);
    }
    info.bitsPerSample = std::max(losslessBits(file), 0);
    info.floatSamples = floatSamples(file);
    info.tagLibRead = true;
}

} // namespace

MediaInfo ReadMediaInfo(const QString &path, const QString &fallbackTitle)
{
    TID3v1 id3v1;
    return ReadMediaInfo(path, fallbackTitle, id3v1);
}

MediaInfo ReadMediaInfo(const QString &path, const QString &fallbackTitle, TID3v1 &id3v1)
{
    // A missing or unreadable file leaves the tag reset, which is all the entry needs.
    id3v1.ReadFromFile(path);
    MediaInfo info;
    Properties properties;
    try {
        const TagFile source(path);
        if (source.file())
            readOpenFile(*source.file(), info, properties);
    } catch (const std::bad_alloc &) {
        info = MediaInfo(); // what TagLib could not hold is read as if it were not there
        properties.clear();
    }
    ID3info entry = entryOf(path, fallbackTitle, id3v1, properties);
    entry.Pictures = std::move(info.entry.Pictures);
    info.entry = std::move(entry);
    return info;
}
