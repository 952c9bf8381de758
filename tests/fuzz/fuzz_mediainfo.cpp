// Any file of up to 64 KB as a source: reading its tags, pictures and audio properties
// through TagLib must not crash, must leave the file as it was, and must hold together.
// The seeds (mediainfo/corpus) are small tagged files of every container the reader
// knows, made with ffmpeg (jmac and mpcenc for APE and Musepack) and tagged through TagLib.
#include "fuzzfiles.h"

#include "core/tags/entrytag.h"
#include "core/tags/genrenames.h"
#include "core/tags/tagpictures.h"
#include "core/tags/tagreader.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"

#include <QTemporaryDir>

namespace {

constexpr size_t MaxInput = 64 * 1024;

// A field comes from the fuller tag where that has it, else from the ID3v1 block.
void checkField(const ID3info &entry, const char *key, const QByteArray &field,
                const QByteArray &id3v1)
{
    QStringList values = entry.Properties.value(QLatin1String(key));
    values.removeAll(QString());
    if (values.isEmpty()) {
        FUZZ_CHECK(field == id3v1);
        return;
    }
    const QString shown = values.join(QLatin1String("; "));
    FUZZ_CHECK(field == DisplayToTagText(shown));
    FUZZ_CHECK(TagTextToDisplay(field) == shown);
}

} // namespace

int FuzzMediaInfo(const uint8_t *data, size_t size)
{
    if (size > MaxInput)
        return 0;
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // Named as MPEG audio, so that MPEG's reader also sees what no signature claims.
    const QString source = dir.filePath(QStringLiteral("source.mp3"));
    fuzzWriteFile(source, bytes);

    TID3v1 block;
    const MediaInfo info = ReadMediaInfo(source, QStringLiteral("fallback"), block);
    const ID3info &e = info.entry;
    FUZZ_CHECK(fuzzReadFile(source) == bytes);
    FUZZ_CHECK(e.SourcePath == source && e.EditTitle == e.Title && !e.Title.isEmpty());
    FUZZ_CHECK(info.sampleRate >= 0 && info.channels >= 0 && info.bitsPerSample >= 0);
    FUZZ_CHECK(!info.seconds || *info.seconds >= 0);
    if (!info.tagLibRead) {
        FUZZ_CHECK(!info.seconds && info.sampleRate == 0 && info.channels == 0);
        FUZZ_CHECK(e.Properties.isEmpty() && e.Pictures.isEmpty());
    }

    QStringList titles = e.Properties.value(QStringLiteral("TITLE"));
    titles.removeAll(QString());
    if (titles.isEmpty() && block.Title.isEmpty())
        FUZZ_CHECK(e.Title == "fallback");
    else
        checkField(e, "TITLE", e.Title, block.Title);
    checkField(e, "ARTIST", e.Artist, block.Artist);
    checkField(e, "ALBUM", e.Album, block.Album);
    checkField(e, "DATE", e.Year, block.Year);
    checkField(e, "COMMENT", e.Comment, block.Comment);
    if (e.Genre < GenreNames.size())
        FUZZ_CHECK(e.GenreName == GenreNames[e.Genre]);
    FUZZ_CHECK(EntryFromFile(block, source, QStringLiteral("fallback")).Title == e.Title);

    // The pictures read with their bytes are the ones the entry describes.
    const QList<EmbeddedPicture> pictures = ReadPictures(source);
    FUZZ_CHECK(pictures.size() == e.Pictures.size());
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        FUZZ_CHECK(pictures.at(i).info == e.Pictures.at(i));
        FUZZ_CHECK(pictures.at(i).data.size() == pictures.at(i).info.size);
    }
    return 0;
}
