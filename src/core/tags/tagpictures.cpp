#include "core/tags/tagpictures.h"

#include "core/tags/tagfile.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <new>

namespace {

using Pictures = QList<EmbeddedPicture>;

// MP4 and APE store no MIME type; the image's own signature tells.
QString imageMimeType(const TagLib::ByteVector &data)
{
    if (data.startsWith(TagLib::ByteVector("\xFF\xD8\xFF", 3)))
        return QStringLiteral("image/jpeg");
    if (data.startsWith(TagLib::ByteVector("\x89PNG", 4)))
        return QStringLiteral("image/png");
    if (data.startsWith("GIF8"))
        return QStringLiteral("image/gif");
    if (data.startsWith("BM"))
        return QStringLiteral("image/bmp");
    if (data.startsWith("RIFF") && data.containsAt(TagLib::ByteVector("WEBP"), 8))
        return QStringLiteral("image/webp");
    return QString();
}

void add(Pictures &out, int type, const QString &description, const QString &mimeType,
         const TagLib::ByteVector &data, bool withData)
{
    EmbeddedPicture picture;
    picture.info.type = type;
    picture.info.description = description;
    picture.info.mimeType = mimeType.isEmpty() ? imageMimeType(data) : mimeType;
    picture.info.size = qint64(data.size());
    if (withData)
        picture.data = QByteArray(data.data(), qsizetype(data.size()));
    out.append(picture);
}

Pictures fromId3v2(TagLib::ID3v2::Tag *tag, bool withData)
{
    Pictures out;
    if (!tag)
        return out;
    const TagLib::ID3v2::FrameList frames = tag->frameListMap()["APIC"];
    for (TagLib::ID3v2::Frame *frame : frames) {
        if (const auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame)) {
            add(out, int(apic->type()), QStringOf(apic->description()), QStringOf(apic->mimeType()),
                apic->picture(), withData);
        }
    }
    return out;
}

Pictures fromFlacList(const TagLib::List<TagLib::FLAC::Picture *> &list, bool withData)
{
    Pictures out;
    for (const TagLib::FLAC::Picture *p : list)
        add(out, int(p->type()), QStringOf(p->description()), QStringOf(p->mimeType()), p->data(),
            withData);
    return out;
}

// APE binary items named "Cover Art (Front)" and so on hold "description\0image".
Pictures fromApe(TagLib::APE::Tag *tag, bool withData)
{
    static const char *const typeNames[] = {"OTHER",
                                            "ICON",
                                            "OTHER ICON",
                                            "FRONT",
                                            "BACK",
                                            "LEAFLET",
                                            "MEDIA",
                                            "LEAD ARTIST",
                                            "ARTIST",
                                            "CONDUCTOR",
                                            "BAND",
                                            "COMPOSER",
                                            "LYRICIST",
                                            "RECORDING LOCATION",
                                            "DURING RECORDING",
                                            "DURING PERFORMANCE",
                                            "MOVIE SCENE",
                                            "COLORED FISH",
                                            "ILLUSTRATION",
                                            "BAND LOGOTYPE",
                                            "PUBLISHER LOGOTYPE"};
    Pictures out;
    if (!tag)
        return out;
    for (const auto &item : tag->itemListMap()) {
        const QString key = QStringOf(item.first).toUpper();
        if (item.second.type() != TagLib::APE::Item::Binary ||
            !key.startsWith(QLatin1String("COVER ART (")) || !key.endsWith(QLatin1Char(')')))
            continue;
        const QString name = key.mid(11, key.size() - 12);
        int type = 0;
        for (int i = 0; i < int(std::size(typeNames)); ++i) {
            if (name == QLatin1String(typeNames[i]))
                type = i;
        }
        const TagLib::ByteVector value = item.second.binaryData();
        const int zero = value.find(TagLib::ByteVector(1, '\0'));
        const TagLib::ByteVector description = zero < 0 ? TagLib::ByteVector() : value.mid(0, zero);
        const TagLib::ByteVector image = zero < 0 ? value : value.mid(zero + 1);
        add(out, type, QString::fromUtf8(description.data(), qsizetype(description.size())),
            QString(), image, withData);
    }
    // APE items have no order of their own (TagLib gives them by name): by type, the front
    // cover before the back.
    std::stable_sort(out.begin(), out.end(),
                     [](const EmbeddedPicture &a, const EmbeddedPicture &b) {
                         return a.info.type < b.info.type;
                     });
    return out;
}

Pictures fromMp4(TagLib::MP4::Tag *tag, bool withData)
{
    Pictures out;
    if (!tag || !tag->contains("covr"))
        return out;
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    for (const TagLib::MP4::CoverArt &cover : covers) {
        QString mimeType;
        switch (cover.format()) {
        case TagLib::MP4::CoverArt::JPEG:
            mimeType = QStringLiteral("image/jpeg");
            break;
        case TagLib::MP4::CoverArt::PNG:
            mimeType = QStringLiteral("image/png");
            break;
        case TagLib::MP4::CoverArt::BMP:
            mimeType = QStringLiteral("image/bmp");
            break;
        case TagLib::MP4::CoverArt::GIF:
            mimeType = QStringLiteral("image/gif");
            break;
        default:
            break;
        }
        add(out, 3, QString(), mimeType, cover.data(), withData); // MP4 knows front covers only
    }
    return out;
}

Pictures fromAsf(TagLib::ASF::Tag *tag, bool withData)
{
    Pictures out;
    if (!tag)
        return out;
    for (const TagLib::ASF::Attribute &attribute : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture picture = attribute.toPicture();
        if (picture.isValid())
            add(out, int(picture.type()), QStringOf(picture.description()),
                QStringOf(picture.mimeType()), picture.picture(), withData);
    }
    return out;
}

// The first of the candidate lists that holds a picture.
Pictures firstOf(std::initializer_list<Pictures> candidates)
{
    for (const Pictures &p : candidates) {
        if (!p.isEmpty())
            return p;
    }
    return {};
}

} // namespace

QList<EmbeddedPicture> PicturesOf(TagLib::File &file, bool withData)
{
    using namespace TagLib;
    if (auto *f = dynamic_cast<MPEG::File *>(&file))
        return firstOf({fromId3v2(f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr, withData),
                        fromApe(f->hasAPETag() ? f->APETag() : nullptr, withData)});
    if (auto *f = dynamic_cast<FLAC::File *>(&file))
        return firstOf({fromFlacList(f->pictureList(), withData),
                        fromFlacList(f->hasXiphComment() ? f->xiphComment()->pictureList()
                                                         : List<FLAC::Picture *>(),
                                     withData),
                        fromId3v2(f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr, withData)});
    if (auto *f = dynamic_cast<Ogg::File *>(&file)) {
        auto *comment = dynamic_cast<Ogg::XiphComment *>(f->tag());
        return comment ? fromFlacList(comment->pictureList(), withData) : Pictures();
    }
    if (auto *f = dynamic_cast<MP4::File *>(&file))
        return fromMp4(f->hasMP4Tag() ? f->tag() : nullptr, withData);
    if (auto *f = dynamic_cast<ASF::File *>(&file))
        return fromAsf(f->tag(), withData);
    if (auto *f = dynamic_cast<RIFF::WAV::File *>(&file))
        return fromId3v2(f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr, withData);
    if (auto *f = dynamic_cast<RIFF::AIFF::File *>(&file))
        return fromId3v2(f->hasID3v2Tag() ? f->tag() : nullptr, withData);
    if (auto *f = dynamic_cast<TrueAudio::File *>(&file))
        return fromId3v2(f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr, withData);
    if (auto *f = dynamic_cast<WavPack::File *>(&file))
        return fromApe(f->hasAPETag() ? f->APETag() : nullptr, withData);
    if (auto *f = dynamic_cast<APE::File *>(&file))
        return fromApe(f->hasAPETag() ? f->APETag() : nullptr, withData);
    if (auto *f = dynamic_cast<MPC::File *>(&file))
        return fromApe(f->hasAPETag() ? f->APETag() : nullptr, withData);
    return {};
}

QList<EmbeddedPicture> ReadPictures(const QString &path)
{
    try {
        const TagFile source(path);
        return source.file() ? PicturesOf(*source.file(), true) : QList<EmbeddedPicture>();
    } catch (const std::bad_alloc &) {
        return {}; // a picture too large to hold is left out with the rest
    }
}
