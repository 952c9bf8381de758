#include "core/joblist/folderscan.h"

#include "core/base/workfilename.h"
#include "core/joblist/mediatypes.h"
#include "core/joblist/naturalorder.h"
#include "core/joblist/rawnamelinks.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QVector>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

bool IsAcceptedExtension(const QString &ext)
{
    return ext.startsWith(QLatin1Char('.')) && IsMediaFileName(ext);
}

namespace {

struct Scan
{
    bool recursive = false;
    RawNameLinks *links = nullptr;
    QStringList *skipped = nullptr;
    QSet<QByteArray> visited;
    QStringList files;
};

// A name as the user reads it: UTF-8 when it is, else ISO-8859-1.
QString shownName(const QByteArray &raw)
{
    return QByteArrayView(raw).isValidUtf8() ? QFile::decodeName(raw) : QString::fromLatin1(raw);
}

// Raw names in natural order of their shown names.
QList<QByteArray> naturallySorted(const QList<QByteArray> &raw)
{
    QStringList shown;
    shown.reserve(raw.size());
    for (const QByteArray &name : raw)
        shown << shownName(name);
    QList<QByteArray> sorted;
    sorted.reserve(raw.size());
    for (const qsizetype i : NaturalOrder(shown))
        sorted << raw.at(i);
    return sorted;
}

void skip(Scan &scan, const QByteArray &rawPath, const QString &why)
{
    if (scan.skipped)
        scan.skipped->append(shownName(rawPath) + QStringLiteral(": ") + why);
}

// Paths this long cannot be opened by name (and no link reaches them): the program could
// read no tag from such a file and the encoder could not open it.
bool tooLong(const QByteArray &rawPath)
{
    return rawPath.size() >= PATH_MAX;
}

QString tooLongReason()
{
    return QStringLiteral("the path is longer than the system allows (%1 bytes)").arg(PATH_MAX);
}

// Raw names, as the file system holds them: QDir would decode an invalid one lossily.
void scanInto(const QByteArray &rawDir, Scan &scan)
{
    // A folder reached twice (through a bind mount, say) is scanned once.
    if (scan.recursive) {
        char *real = ::realpath(rawDir.constData(), nullptr);
        const QByteArray canonical = real ? QByteArray(real) : rawDir;
        std::free(real);
        if (scan.visited.contains(canonical))
            return;
        scan.visited.insert(canonical);
    }
    DIR *stream = ::opendir(rawDir.constData());
    if (!stream) {
        skip(scan, rawDir,
             QStringLiteral("the folder cannot be read: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    QList<QByteArray> files;
    QList<QByteArray> subfolders;
    while (const dirent *item = ::readdir(stream)) {
        const QByteArray name(item->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray rawPath = rawDir + name;
        // Relative to the open folder: a path too long to name still tells what it is.
        struct stat st;
        const bool known = ::fstatat(::dirfd(stream), name.constData(), &st, 0) == 0;
        struct stat own;
        // Links to folders are not followed, so a link cannot lead the scan round in a loop.
        if (scan.recursive &&
            ::fstatat(::dirfd(stream), name.constData(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(own.st_mode)) {
            if (tooLong(rawPath + '/'))
                skip(scan, rawPath + '/', tooLongReason());
            else
                subfolders.append(name);
            continue;
        }
        const qsizetype dot = name.lastIndexOf('.');
        const QString ext = dot < 0 ? QString() : QString::fromLatin1(name.mid(dot));
        if (!IsAcceptedExtension(ext))
            continue;
        // Only regular files (links to them included): a folder or FIFO named x.mp3 is no media.
        if (!known || !S_ISREG(st.st_mode))
            continue;
        if (tooLong(rawPath))
            skip(scan, rawPath, tooLongReason());
        else
            files.append(name);
    }
    ::closedir(stream);
    for (const QByteArray &name : naturallySorted(files)) {
        const QByteArray rawPath = rawDir + name;
        if (QByteArrayView(rawPath).isValidUtf8()) {
            if (!IsWorkFileName(QFile::decodeName(name)))
                scan.files.append(QFile::decodeName(rawPath));
            continue;
        }
        const QString link = scan.links ? scan.links->linkTo(rawPath) : QString();
        if (!link.isEmpty())
            scan.files.append(link);
        else
            skip(scan, rawPath, QStringLiteral("the name is not UTF-8 and cannot be reached"));
    }
    for (const QByteArray &sub : naturallySorted(subfolders))
        scanInto(rawDir + sub + '/', scan);
}

} // namespace

QStringList ScanFolder(const QString &folder, bool recursive, RawNameLinks *links,
                       QStringList *skipped)
{
    QByteArray dir = QFile::encodeName(folder);
    if (!dir.endsWith('/'))
        dir += '/';
    Scan scan;
    scan.recursive = recursive;
    scan.links = links;
    scan.skipped = skipped;
    scanInto(dir, scan);
    return scan.files;
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
    static const QVector<FileFilter> filters = [] {
        QVector<FileFilter> all{{QStringLiteral("All Sapported Files"), MediaPatterns()}};
        for (const MediaFamily &f : MediaFamilies())
            all.append({f.description, f.patterns});
        return all;
    }();
    return filters;
}
