#include "core/tags/outputtag.h"

#include "core/tags/genrenames.h"
#include "core/tags/tagtext.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace {

using Fields = QMap<QString, QStringList>;

// How the list and the tag editor show several values of one field (see the reader).
const QLatin1String ValueSeparator("; ");

// The common fields as the report names them, in the report's order.
constexpr std::array<std::pair<const char *, const char *>, 13> CommonNames = {{
    {"TITLE", "title"},
    {"ARTIST", "artist"},
    {"ALBUM", "album"},
    {"ALBUMARTIST", "album_artist"},
    {"DATE", "date"},
    {"GENRE", "genre"},
    {"COMMENT", "comment"},
    {"TRACKNUMBER", "track"},
    {"TRACKTOTAL", "track_total"},
    {"DISCNUMBER", "disc"},
    {"DISCTOTAL", "disc_total"},
    {"COMPOSER", "composer"},
    {"LYRICS", "lyrics"},
}};

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

// "3/12" becomes number "3" and total "12"; a total under another name (TOTALTRACKS, as some
// taggers write it) takes the usual one.
void splitNumber(Fields &fields, const QString &numberKey, const QString &totalKey,
                 const QString &totalAlias)
{
    if (fields.contains(totalAlias)) {
        const QStringList total = fields.take(totalAlias);
        if (!fields.contains(totalKey))
            fields.insert(totalKey, total);
    }
    if (!fields.contains(numberKey))
        return;
    QString number = fields.value(numberKey).constFirst().trimmed();
    const qsizetype slash = number.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        const QString total = number.mid(slash + 1).trimmed();
        number = number.left(slash).trimmed();
        if (!total.isEmpty() && !fields.contains(totalKey))
            fields.insert(totalKey, {total});
    }
    if (number.isEmpty())
        fields.remove(numberKey);
    else
        fields.insert(numberKey, {number});
}

// The entry's text for one field over the source's values.
void overlay(Fields &fields, const ID3info &entry, const QString &fieldKey, const QString &text)
{
    if (text.isEmpty()) {
        if (entry.Cleared.contains(fieldKey))
            fields.remove(fieldKey);
        return;
    }
    // Unedited: the source's values as the list shows them.
    if (fields.value(fieldKey).join(ValueSeparator) == text)
        return;
    fields.insert(fieldKey, {text});
}

void overlayGenre(Fields &fields, const ID3info &entry)
{
    const QString genreKey = key("GENRE");
    const QStringList source = fields.value(genreKey);
    if (entry.Genre < GenreNames.size()) {
        // The list knows the source's genre by its number, whatever its spelling there.
        if (!source.isEmpty() && GenreNumber(source.constFirst()) == entry.Genre)
            return;
        fields.insert(genreKey, {QString::fromLatin1(GenreNames[entry.Genre])});
        return;
    }
    const QString name = TagTextToDisplay(entry.GenreName);
    if (!source.isEmpty() && source.constFirst().compare(name, Qt::CaseInsensitive) == 0)
        return;
    overlay(fields, entry, genreKey, name);
}

} // namespace

QMap<QString, QStringList> OutputFields(const ID3info &entry)
{
    Fields fields;
    for (auto it = entry.Properties.cbegin(); it != entry.Properties.cend(); ++it) {
        QStringList values = it.value();
        values.removeAll(QString());
        if (!values.isEmpty())
            fields.insert(it.key(), values);
    }
    // They tell how the source was made, which the output was not.
    fields.remove(key("ENCODER"));
    fields.remove(key("ENCODING"));
    splitNumber(fields, key("TRACKNUMBER"), key("TRACKTOTAL"), key("TOTALTRACKS"));
    splitNumber(fields, key("DISCNUMBER"), key("DISCTOTAL"), key("TOTALDISCS"));

    const QString title = TagTextToDisplay(entry.Title);
    const bool standInTitle = !fields.contains(key("TITLE")) && !entry.SourcePath.isEmpty() &&
                              title == QFileInfo(entry.SourcePath).fileName();
    if (!standInTitle)
        overlay(fields, entry, key("TITLE"), title);
    overlay(fields, entry, key("ARTIST"), TagTextToDisplay(entry.Artist));
    overlay(fields, entry, key("ALBUM"), TagTextToDisplay(entry.Album));
    overlay(fields, entry, key("DATE"), TagTextToDisplay(entry.Year));
    overlay(fields, entry, key("COMMENT"), TagTextToDisplay(entry.Comment));
    overlayGenre(fields, entry);
    if (!fields.contains(key("TRACKNUMBER")) && entry.Track > 0)
        fields.insert(key("TRACKNUMBER"), {QString::number(entry.Track)});
    return fields;
}

QString ReportFieldName(const QString &fieldKey)
{
    for (const auto &[tagName, reportName] : CommonNames) {
        if (fieldKey == QLatin1String(tagName))
            return QString::fromLatin1(reportName);
    }
    QString name = fieldKey.toLower();
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    }
    return name;
}

QStringList ReportFieldNames(const QStringList &keys, bool pictures)
{
    QStringList common;
    QStringList others;
    for (const auto &[tagName, reportName] : CommonNames) {
        if (keys.contains(QLatin1String(tagName)))
            common.append(QString::fromLatin1(reportName));
    }
    for (const QString &fieldKey : keys) {
        const QString name = ReportFieldName(fieldKey);
        if (!common.contains(name) && !others.contains(name))
            others.append(name);
    }
    std::sort(others.begin(), others.end());
    QStringList names = common + others;
    if (pictures)
        names.append(QStringLiteral("picture"));
    return names;
}
