#include "core/joblist/folderscan.h"

#include "core/convert/outputfile.h"
#include "core/joblist/rawnamelinks.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>

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

QStringList ScanFolder(const QString &folder, RawNameLinks *links, QStringList *skipped)
{
    QString dir = folder;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    QStringList files;
    // Raw names, as the file system holds them: QDir would decode an invalid one lossily.
    const QByteArray rawDir = QFile::encodeName(dir);
    DIR *stream = ::opendir(rawDir.constData());
    if (!stream)
        return files;
    while (const dirent *item = ::readdir(stream)) {
        const QByteArray name(item->d_name);
        const qsizetype dot = name.lastIndexOf('.');
        const QString ext = dot < 0 ? QString() : QString::fromLatin1(name.mid(dot)).toLower();
        if (!IsAcceptedExtension(ext))
            continue;
        const QByteArray rawPath = rawDir + name;
        struct stat st;
        // Only regular files (links to them included): a folder or FIFO named x.mp3 is no media.
        if (::stat(rawPath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (QByteArrayView(name).isValidUtf8()) {
            const QString path = dir + QFile::decodeName(name);
            if (!IsWorkFileName(QFile::decodeName(name)))
                files.append(path);
            continue;
        }
        const QString link = links ? links->linkTo(rawPath) : QString();
        if (!link.isEmpty())
            files.append(link);
        else if (skipped)
            skipped->append(dir + QString::fromLatin1(name));
    }
    ::closedir(stream);
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
