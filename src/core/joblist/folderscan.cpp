#include "core/joblist/folderscan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QVector>

bool IsAcceptedExtension(const QString &ext)
{
    static const QStringList accepted = {
        QStringLiteral(".mp3"), QStringLiteral(".mpeg"), QStringLiteral(".wav"),
        QStringLiteral(".mpg"), QStringLiteral(".wmv"),  QStringLiteral(".asf"),
        QStringLiteral(".asx"), QStringLiteral(".wma"),  QStringLiteral(".aac")};
    return accepted.contains(ext);
}

namespace {

void scanInto(const QString &folder, bool recursive, QSet<QString> &visited, QStringList &files)
{
    QString dir = folder;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // A folder reached twice (through a bind mount, say) is scanned once.
    if (recursive) {
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (visited.contains(canonical))
            return;
        visited.insert(canonical);
    }
    QStringList subfolders;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        const QFileInfo info(it.filePath());
        if (recursive && info.isDir() && !info.isSymLink()) {
            subfolders.append(dir + name);
            continue;
        }
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot < 0 ? QString() : name.mid(dot).toLower();
        if (!IsAcceptedExtension(ext))
            continue;
        // Only regular files (links to them included): a folder or FIFO named x.mp3 is no media.
        if (!info.isFile())
            continue;
        files.append(dir + name);
    }
    for (const QString &sub : std::as_const(subfolders))
        scanInto(sub, recursive, visited, files);
}

} // namespace

QStringList ScanFolder(const QString &folder, bool recursive)
{
    QStringList files;
    QSet<QString> visited;
    scanInto(folder, recursive, visited, files);
    return files;
}

QStringList DialogAppendOrder(const QStringList &chosen)
{
    if (chosen.size() < 2)
        return chosen;
    QStringList order = chosen.mid(1);
    order.append(chosen.first());
    return order;
}

const QVector<FileFilter> &OpenDialogFilters()
{
    auto patterns = [](const char *list) {
        return QString::fromLatin1(list).split(QLatin1Char(';'));
    };
    static const QVector<FileFilter> filters = {
        {QStringLiteral("All Sapported Files"),
         patterns(
             "*.mp3;*.mpeg;*.wav;*.mpg;*.wmv;*.asf;*.asx;*.wma;*.aac;*.rm;*.ram;*.rmvb;*.avi")},
        {QStringLiteral("MP3 Files(*.mp3,*.mpg,*.mpeg)"), patterns("*.mpg;*.mp3;*.mpeg")},
        {QStringLiteral("WAV Files(*.wav)"), patterns("*.wav")},
        {QStringLiteral("WMA Files(*.wma,*.wmv,*.asf,*.asx)"), patterns("*.wma;*.asf;*.asx;*.wmv")},
        {QStringLiteral("AAC Files(*.aac)"), patterns("*.aac")},
        {QStringLiteral("Rm Files(*.rm,*.ram,*.rmvb)"), patterns("*.rm;*.ram;*.rmvb")},
        {QStringLiteral("AVI Files(*.avi)"), patterns("*.avi")},
    };
    return filters;
}
