#include "core/convert/sourcefiles.h"

#include "core/joblist/joblistmodel.h"

#include <QFile>

#include <optional>

#include <sys/stat.h>

namespace {

std::optional<QPair<quint64, quint64>> identity(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return qMakePair(quint64(st.st_dev), quint64(st.st_ino));
}

} // namespace

SourceFiles::SourceFiles(const JobListModel &model)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        const QString &path = model.entry(row).SourcePath;
        if (const auto id = identity(path); id && !m_sources.contains(*id))
            m_sources.insert(*id, Source{row, path});
    }
}

SourceFiles::Source SourceFiles::sourceAt(const QString &path) const
{
    const auto id = identity(path);
    return id ? m_sources.value(*id) : Source();
}
