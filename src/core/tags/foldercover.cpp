#include "core/tags/foldercover.h"

#include "core/tags/tagblock.h"

#include <QDir>

#include <array>

#include <cerrno>
#include <unistd.h>

namespace {

// In the order of preference.
constexpr std::array<const char *, 5> CoverStems = {"cover", "folder", "front", "album art",
                                                    "albumart"};

QString imageType(const QByteArray &data)
{
    if (data.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("image/jpeg");
    if (data.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("image/png");
    return {};
}

// The whole file, or nothing when it is no regular file or larger than a cover may be.
std::optional<QByteArray> readCover(const QString &path)
{
    qint64 size = 0;
    const int fd = OpenRegularFile(path, false, 1, &size);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    if (size <= MaxFolderCoverBytes) {
        data.resize(qsizetype(size));
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::read(fd, data.data() + done, size_t(data.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        data.truncate(done);
    }
    ::close(fd);
    if (data.isEmpty())
        return std::nullopt;
    return data;
}

} // namespace

std::optional<EmbeddedPicture> FolderCover(const QString &folder)
{
    if (folder.isEmpty())
        return std::nullopt;
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.png")}, QDir::Files,
        QDir::Name);
    for (const char *stem : CoverStems) {
        for (const QString &name : names) {
            const QString lower = name.toLower();
            if (lower.left(lower.lastIndexOf(QLatin1Char('.'))) != QLatin1String(stem))
                continue;
            const std::optional<QByteArray> data = readCover(QDir(folder).filePath(name));
            if (!data)
                continue;
            const QString mimeType = imageType(*data);
            if (mimeType.isEmpty())
                continue;
            EmbeddedPicture cover;
            cover.info.type = 3; // front cover
            cover.info.mimeType = mimeType;
            cover.info.size = data->size();
            cover.data = *data;
            return cover;
        }
    }
    return std::nullopt;
}
