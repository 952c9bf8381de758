#include "core/convert/outputnaming.h"

#include "core/convert/commandline.h"
#include "core/convert/outputfile.h"
#include "core/tags/genrenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QRegularExpression &fieldPattern()
{
    static const QRegularExpression field(QStringLiteral("\\{([a-z]+)\\}"));
    return field;
}

QStringList fieldNames()
{
    return {QStringLiteral("title"),   QStringLiteral("artist"), QStringLiteral("album"),
            QStringLiteral("year"),    QStringLiteral("genre"),  QStringLiteral("track"),
            QStringLiteral("filename")};
}

// A field's text, never empty, "." or "..".
QString fieldValue(const QString &field, const ID3info &entry)
{
    if (field == QLatin1String("title"))
        return OutputTitle(entry.Title, entry.SourcePath);
    if (field == QLatin1String("filename")) {
        const QFileInfo source(entry.SourcePath);
        const QString base = source.completeBaseName();
        return base.isEmpty() ? source.fileName() : base;
    }
    QString value;
    QString unknown;
    if (field == QLatin1String("artist")) {
        value = TagBytesToName(entry.Artist);
        unknown = QStringLiteral("Unknown Artist");
    } else if (field == QLatin1String("album")) {
        value = TagBytesToName(entry.Album);
        unknown = QStringLiteral("Unknown Album");
    } else if (field == QLatin1String("year")) {
        value = TagBytesToName(entry.Year);
        unknown = QStringLiteral("Unknown Year");
    } else if (field == QLatin1String("genre")) {
        if (entry.Genre < GenreNames.size())
            value = QString::fromLatin1(GenreNames[entry.Genre]);
        unknown = QStringLiteral("Unknown Genre");
    } else if (field == QLatin1String("track")) {
        if (entry.Track != 0)
            value = QStringLiteral("%1").arg(entry.Track, 2, 10, QLatin1Char('0'));
        unknown = QStringLiteral("Unknown Track");
    }
    value = value.trimmed();
    if (value.isEmpty() || value == QLatin1String(".") || value == QLatin1String(".."))
        return unknown;
    return value;
}

QString substituted(const QString &component, const ID3info &entry)
{
    QString out;
    qsizetype at = 0;
    QRegularExpressionMatchIterator it = fieldPattern().globalMatch(component);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += component.mid(at, m.capturedStart() - at);
        out += fieldValue(m.captured(1), entry);
        at = m.capturedEnd();
    }
    out += component.mid(at);
    return out;
}

// A folder of the output's path: never "." or "..", never empty.
QString safeFolder(const QString &name, const NameRules &rules)
{
    const QString safe = SafeNameComponent(name, QString(), rules);
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QStringLiteral("_");
    return safe;
}

bool leadsOut(const QString &relative)
{
    return relative == QLatin1String("..") || relative.startsWith(QLatin1String("../")) ||
           QDir::isAbsolutePath(relative);
}

// The folders of `source` below `base`, as raw names: through the link a name that is not
// UTF-8 is reached by (RawNameLinks), whose target is the raw path.
QList<QByteArray> rawFoldersBelow(const QString &base, const QString &source)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(source).constData(), target, sizeof target);
    const QByteArray prefix = QFile::encodeName(QDir::cleanPath(base)) + '/';
    if (length <= 0 || size_t(length) >= sizeof target)
        return {};
    const QByteArray raw(target, length);
    if (!raw.startsWith(prefix))
        return {};
    QList<QByteArray> parts = raw.mid(prefix.size()).split('/');
    parts.removeLast(); // the file's own name
    parts.removeAll(QByteArray());
    if (parts.contains(".."))
        return {};
    parts.removeAll(".");
    return parts;
}

// The source's folder below the folder its row was added from, as safe folder names.
QStringList keptFolders(const ID3info &entry, const NameRules &rules)
{
    if (entry.BaseFolder.isEmpty())
        return {};
    const QString relative =
        QDir(entry.BaseFolder).relativeFilePath(QFileInfo(entry.SourcePath).path());
    QStringList folders;
    if (relative == QLatin1String("."))
        return {};
    if (leadsOut(relative)) {
        for (const QByteArray &raw : rawFoldersBelow(entry.BaseFolder, entry.SourcePath))
            folders.append(safeFolder(TagBytesToName(raw), rules));
        return folders;
    }
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        folders.append(safeFolder(part, rules));
    return folders;
}

OutputState stateAt(const QString &path)
{
    return OutputStateAt(AT_FDCWD, QFile::encodeName(path));
}

} // namespace

QString ExistingOutputName(ExistingOutput policy)
{
    switch (policy) {
    case ExistingOutput::Skip:
        return QStringLiteral("skip");
    case ExistingOutput::Number:
        return QStringLiteral("number");
    case ExistingOutput::Replace:
        break;
    }
    return QStringLiteral("replace");
}

std::optional<ExistingOutput> ExistingOutputFromName(const QString &name)
{
    for (ExistingOutput policy :
         {ExistingOutput::Replace, ExistingOutput::Skip, ExistingOutput::Number}) {
        if (ExistingOutputName(policy).compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return policy;
    }
    return std::nullopt;
}

QStringList ExistingOutputNames()
{
    return {ExistingOutputName(ExistingOutput::Replace), ExistingOutputName(ExistingOutput::Skip),
            ExistingOutputName(ExistingOutput::Number)};
}

QString PatternProblem(const QString &pattern)
{
    const QStringList parts = pattern.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return QStringLiteral("The pattern names no file");
    const QStringList known = fieldNames();
    for (const QString &part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("A folder of the pattern is \"%1\"").arg(part);
        QString rest = part;
        QRegularExpressionMatchIterator it = fieldPattern().globalMatch(part);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (!known.contains(m.captured(1)))
                return QStringLiteral("Unknown field {%1}; the fields are {%2}")
                    .arg(m.captured(1), known.join(QStringLiteral("} {")));
        }
        rest.remove(fieldPattern());
        if (rest.contains(QLatin1Char('{')) || rest.contains(QLatin1Char('}')))
            return QStringLiteral("\"%1\" holds a brace that is no field").arg(part);
    }
    return {};
}

OutputDecision DecideOutput(const QString &outputDir, const ID3info &entry,
                            const QString &extension, const NamingOptions &naming,
                            const QHash<QString, int> &claimed)
{
    OutputDecision decision;
    if (outputDir.isEmpty())
        return decision;
    const NameRules rules = NameRulesFor(outputDir);
    const QString pattern =
        PatternProblem(naming.pattern).isEmpty() ? naming.pattern : NamingOptions::DefaultPattern();
    QStringList parts = pattern.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    decision.stem = substituted(parts.takeLast(), entry);
    QString folder = outputDir;
    QStringList folders = naming.keepFolders ? keptFolders(entry, rules) : QStringList();
    for (const QString &part : std::as_const(parts))
        folders.append(safeFolder(substituted(part, entry), rules));
    for (const QString &name : std::as_const(folders))
        folder += QLatin1Char('/') + name;
    auto pathWith = [&](int number) {
        return folder + QLatin1Char('/') +
               NumberedFileName(decision.stem, number, extension, rules);
    };
    decision.path = pathWith(1);

    switch (naming.existing) {
    case ExistingOutput::Replace:
        break;
    case ExistingOutput::Skip:
        if (const auto row = claimed.constFind(rules.key(decision.path)); row != claimed.cend()) {
            decision.skip = true;
            decision.reason = QStringLiteral("Row %1 writes this output too").arg(*row + 1);
        } else if (stateAt(decision.path) == OutputState::Output) {
            decision.skip = true;
            decision.reason = QStringLiteral("The output exists already");
        }
        break;
    case ExistingOutput::Number:
        for (;;) {
            const OutputState state = stateAt(decision.path);
            if (!claimed.contains(rules.key(decision.path)) && state != OutputState::Output &&
                state != OutputState::Other)
                break;
            decision.path = pathWith(++decision.number);
        }
        break;
    }
    decision.key = rules.key(decision.path);
    return decision;
}

QString NumberedFileName(const QString &stem, int number, const QString &extension,
                         const NameRules &rules)
{
    const QString suffix = number > 1 ? QStringLiteral(" (%1)").arg(number) : QString();
    return SafeNameComponent(stem, suffix + extension, rules) + suffix + extension;
}
