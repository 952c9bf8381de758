#include "core/joblist/folderscan.h"

#include "core/base/workfilename.h"
#include "core/joblist/rawnamelinks.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QVector>

#include <cstdlib>

#include <dirent.h>
#include <sys/stat.h>

bool IsAcceptedExtension(const QString &ext)
{
    static const QStringList accepted = {
        QStringLiteral(".mp3"), QStringLiteral(".mpeg"), QStringLiteral(".wav"),
        QStringLiteral(".mpg"), QStringLiteral(".wmv"),  QStringLiteral(".asf"),
        QStringLiteral(".asx"), QStringLiteral(".wma"),  QStringLiteral(".aac")};
    return accepted.contains(ext);
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
    if (!stream)
        return;
    QList<QByteArray> subfolders;
    while (const dirent *item = ::readdir(stream)) {
        const QByteArray name(item->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray rawPath = rawDir + name;
        struct stat st;
        // Links to folders are not followed, so a link cannot lead the scan round in a loop.
        if (scan.recursive && ::lstat(rawPath.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            subfolders.append(rawPath + '/');
            continue;
        }
        const qsizetype dot = name.lastIndexOf('.');
        const QString ext = dot < 0 ? QString() : QString::fromLatin1(name.mid(dot)).toLower();
        if (!IsAcceptedExtension(ext))
            continue;
        // Only regular files (links to them included): a folder or FIFO named x.mp3 is no media.
        if (::stat(rawPath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (QByteArrayView(rawPath).isValidUtf8()) {
            if (!IsWorkFileName(QFile::decodeName(name)))
                scan.files.append(QFile::decodeName(rawPath));
            continue;
        }
        const QString link = scan.links ? scan.links->linkTo(rawPath) : QString();
        if (!link.isEmpty())
            scan.files.append(link);
        else if (scan.skipped)
            scan.skipped->append((QByteArrayView(rawDir).isValidUtf8()
                                      ? QFile::decodeName(rawDir)
                                      : QString::fromLatin1(rawDir)) +
                                 QString::fromLatin1(name));
    }
    ::closedir(stream);
    for (const QByteArray &sub : std::as_const(subfolders))
        scanInto(sub, scan);
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
