#include "core/convert/outputplan.h"

#include "core/convert/commandline.h"
#include "core/joblist/joblistmodel.h"

#include <QHash>

QVector<PlannedOutput> PlanOutputs(const JobListModel &model, const QString &outputDir,
                                   const QString &extension)
{
    const int rows = model.rowCount();
    QVector<PlannedOutput> plan(rows);
    QHash<QString, QList<int>> rowsByPath;
    for (int row = 0; row < rows; ++row) {
        const ID3info &entry = model.entry(row);
        plan[row].path = OutputPath(outputDir, entry.Title, entry.SourcePath, extension);
        plan[row].overwritesOwnSource = IsSameFile(plan[row].path, entry.SourcePath);
        rowsByPath[plan[row].path].append(row);
    }
    for (int row = 0; row < rows; ++row) {
        for (int other : rowsByPath.value(plan[row].path)) {
            if (other != row)
                plan[row].sameOutputRows.append(other);
        }
    }
    return plan;
}
