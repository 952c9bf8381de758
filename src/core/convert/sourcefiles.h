#pragma once

#include <QHash>
#include <QPair>
#include <QString>

class JobListModel;

// The files behind every row's source, taken once per batch (or dry run), so that each
// output path can be checked against all of them as files: through symbolic and hard
// links, as IsSameFile() compares.
class SourceFiles
{
public:
    SourceFiles() = default;
    explicit SourceFiles(const JobListModel &model);

    struct Source
    {
        int row = -1; // the first row with this source when the files were taken
        QString path;
    };
    // The source that `path` names as a file; row -1 when it names none (or does not exist).
    Source sourceAt(const QString &path) const;

private:
    // Keyed by (device, inode) of each source that exists.
    QHash<QPair<quint64, quint64>, Source> m_sources;
};
