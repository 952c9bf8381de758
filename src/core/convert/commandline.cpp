#include "core/convert/commandline.h"

#include "core/tags/tagtext.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <sys/stat.h>

namespace {

// Longest file name the usual Linux file systems accept, in bytes.
constexpr int MaxFileNameBytes = 255;

QString shortened(const QString &stem, const QString &extension)
{
    QByteArray stemBytes = stem.toUtf8();
    const qsizetype extensionBytes = extension.toUtf8().size();
    if (stemBytes.size() + extensionBytes <= MaxFileNameBytes)
        return stem;
    qsizetype keep = qMax<qsizetype>(0, MaxFileNameBytes - extensionBytes);
    // Step back over continuation bytes so no character is split.
    while (keep > 0 && (static_cast<uchar>(stemBytes.at(keep)) & 0xC0) == 0x80)
        --keep;
    stemBytes.truncate(keep);
    return QString::fromUtf8(stemBytes);
}

} // namespace

QString QuotePath(const QString &path)
{
    if (path.contains(QLatin1Char(' ')))
        return QLatin1Char('"') + path + QLatin1Char('"');
    return path;
}

QString ConversionCommandLine(const QString &encoder, const QString &in, const QString &out,
                              const EncodingProfile &p, const QStringList &extra,
                              const QStringList &metadata)
{
    QString line = QuotePath(encoder) + QLatin1String(" -y -i ") + QuotePath(in) +
                   QLatin1String(" -ab ") + p.Bitrate + QLatin1String(" -ar ") + p.SampleRate +
                   QLatin1String(" -ac ") + p.Channels;
    for (const QString &field : metadata)
        line += QLatin1String(" -metadata ") + QuotePath(field);
    for (const QString &argument : extra)
        line += QLatin1Char(' ') + QuotePath(argument);
    return line + QLatin1Char(' ') + QuotePath(out);
}

QStringList ConversionArguments(const QString &in, const QString &out, const EncodingProfile &p,
                                const QStringList &extra, const QStringList &metadata)
{
    QStringList arguments = {QStringLiteral("-y"),
                             QStringLiteral("-i"),
                             in,
                             QStringLiteral("-ab"),
                             p.Bitrate,
                             QStringLiteral("-ar"),
                             p.SampleRate,
                             QStringLiteral("-ac"),
                             p.Channels};
    for (const QString &field : metadata)
        arguments << QStringLiteral("-metadata") << field;
    arguments += extra;
    arguments.append(out);
    return arguments;
}

QStringList MetadataArguments(const QMap<QString, QStringList> &fields)
{
    QStringList arguments;
    for (const auto &[key, name] :
         {std::pair("TITLE", "title"), std::pair("ARTIST", "author"),
          std::pair("COPYRIGHT", "copyright"), std::pair("COMMENT", "comment")}) {
        const QStringList values = fields.value(QLatin1String(key));
        if (!values.isEmpty())
            arguments.append(QLatin1String(name) + QLatin1Char('=') +
                             values.join(QLatin1String("; ")));
    }
    return arguments;
}

QString TagBytesToName(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QString OutputTitle(const QByteArray &title, const QString &sourcePath)
{
    const QString stem = TagBytesToName(title);
    if (stem.isEmpty() || stem == QLatin1String(".") || stem == QLatin1String(".."))
        return QFileInfo(sourcePath).fileName();
    return stem;
}

QString SafeNameComponent(const QString &text, const QString &suffix, const NameRules &rules)
{
    static const QString windowsRefused = QStringLiteral(":?\"*<>|\\");
    QString stem = text;
    // A newline or tab in a name breaks every line-based listing of the folder.
    for (QChar &c : stem) {
        const char16_t u = c.unicode();
        if (u == u'/' || u < 0x20 || (u >= 0x7F && u <= 0x9F) ||
            (rules.windowsNames && windowsRefused.contains(c)))
            c = QLatin1Char('_');
    }
    stem = shortened(stem, suffix);
    if (rules.windowsNames) {
        // Windows drops a trailing dot or blank, so FAT drivers refuse them.
        for (qsizetype i = stem.size() - 1;
             i >= 0 && (stem.at(i) == QLatin1Char('.') || stem.at(i) == QLatin1Char(' ')); --i)
            stem[i] = QLatin1Char('_');
    }
    return stem;
}

QString OutputFileName(const QByteArray &title, const QString &sourcePath, const QString &extension)
{
    return SafeNameComponent(OutputTitle(title, sourcePath), extension) + extension;
}

QString OutputPath(const QString &outputDir, const QByteArray &title, const QString &sourcePath,
                   const QString &extension)
{
    return outputDir + QLatin1Char('/') + OutputFileName(title, sourcePath, extension);
}

QByteArray EscapeLineField(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool IsSameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat first;
    struct stat second;
    if (::stat(QFile::encodeName(a).constData(), &first) != 0)
        return false;
    if (::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
