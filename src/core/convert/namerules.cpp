#include "core/convert/namerules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// f_type values of statfs(2) (linux/magic.h, and fs/exfat and fs/ntfs3 for the two that
// header lacks).
constexpr unsigned long MsdosMagic = 0x4d44; // msdos and vfat
constexpr unsigned long ExfatMagic = 0x2011BAB0;
constexpr unsigned long NtfsMagic = 0x5346544e; // ntfs and ntfs3
constexpr unsigned long FuseMagic = 0x65735546;
constexpr unsigned long CifsMagic = 0xFF534D42;
constexpr unsigned long Smb2Magic = 0xFE534D42;
#ifndef FS_CASEFOLD_FL
constexpr int FS_CASEFOLD_FL = 0x40000000;
#endif

NameRules windowsRules()
{
    NameRules rules;
    rules.foldsCase = true;
    rules.windowsNames = true;
    rules.unnamedFiles = false;
    return rules;
}

// A FUSE mount of a Windows file system: ntfs-3g and exfat-fuse mount as "fuseblk", others
// carry the file system in their subtype ("fuse.exfat", "fuse.fatfs").
bool isWindowsFuseType(const QByteArray &type)
{
    if (type == "fuseblk")
        return true;
    const QByteArray lower = type.toLower();
    return type.startsWith("fuse") &&
           (lower.contains("fat") || lower.contains("ntfs") || lower.contains("msdos"));
}

bool isBelow(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

QString NameRules::key(const QString &path) const
{
    return foldsCase ? path.toCaseFolded() : path;
}

NameRules NameRulesFor(const QString &folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString fat = qEnvironmentVariable("WAVETRANSMUTER_TEST_FAT_FOLDER");
    if (!fat.isEmpty() && isBelow(path, QDir::cleanPath(QFileInfo(fat).absoluteFilePath())))
        return windowsRules();

    QString existing = path;
    int fd = -1;
    while ((fd = ::open(QFile::encodeName(existing).constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK)) < 0) {
        const QString up = QFileInfo(existing).path();
        if (up == existing)
            return {};
        existing = up;
    }
    NameRules rules;
    struct statfs fs;
    struct stat st;
    if (::fstatfs(fd, &fs) == 0 && ::fstat(fd, &st) == 0) {
        const auto type = static_cast<unsigned long>(fs.f_type);
        if (type == MsdosMagic || type == ExfatMagic || type == NtfsMagic || type == CifsMagic ||
            type == Smb2Magic) {
            rules = windowsRules();
        } else if (type == FuseMagic) {
            QFile mounts(QStringLiteral("/proc/self/mountinfo"));
            if (mounts.open(QIODevice::ReadOnly) &&
                isWindowsFuseType(
                    MountTypeOf(mounts.readAll(), major(st.st_dev), minor(st.st_dev))))
                rules = windowsRules();
        }
    }
    int flags = 0;
    if (!rules.foldsCase && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL))
        rules.foldsCase = true;
    ::close(fd);
    return rules;
}

QByteArray MountTypeOf(const QByteArray &mountinfo, unsigned major, unsigned minor)
{
    // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue": the
    // third field is the device; after the optional fields and " - " comes the type.
    const QByteArray device = QByteArray::number(major) + ':' + QByteArray::number(minor);
    for (const QByteArray &line : mountinfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields.at(2) != device)
            continue;
        const qsizetype dash = fields.indexOf("-", 6);
        if (dash > 0 && dash + 1 < fields.size())
            return fields.at(dash + 1);
    }
    return {};
}
