#include "core/convert/outputplan.h"

#include "core/convert/commandline.h"
#include "core/convert/outputfile.h"
#include "core/convert/sourcefiles.h"
#include "core/convert/targetformat.h"
#include "core/joblist/joblistmodel.h"

#include <QFileInfo>
#include <QHash>

QVector<PlannedOutput> PlanOutputs(const JobListModel &model, const QString &outputDir,
                                   const TargetFormat &format, const EncodingProfile &profile,
                                   const NamingOptions &naming)
{
    const SourceFiles sources(model);
    const QString profileRefusal = format.refusal(profile);
    const int rows = model.rowCount();
    QVector<PlannedOutput> plan(rows);
    QHash<QString, QList<int>> rowsByPath; // by key: where names fold case, "A" is "a"
    QVector<QString> keys(rows);
    QHash<QString, int> claimed; // as the batch claims them, row after row
    for (int row = 0; row < rows; ++row) {
        const ID3info &entry = model.entry(row);
        PlannedOutput &out = plan[row];
        const OutputDecision decision =
            DecideOutput(outputDir, entry, format.extension, naming, claimed);
        out.path = decision.path;
        if (decision.skip) {
            out.skipReason = decision.reason;
            continue;
        }
        claimed.insert(decision.key, row);
        out.refusal = OutputRefusal(out.path, entry.SourcePath, sources);
        if (out.refusal.isEmpty())
            out.refusal = profileRefusal;
        out.replacesExistingFile = out.refusal.isEmpty() && QFileInfo(out.path).isFile();
        rowsByPath[decision.key].append(row);
        keys[row] = decision.key;
    }
    for (int row = 0; row < rows; ++row) {
        for (int other : rowsByPath.value(keys.at(row))) {
            if (other != row)
                plan[row].sameOutputRows.append(other);
        }
    }
    return plan;
}

QString OutputRefusal(const QString &path, const QString &ownSource, const SourceFiles &sources)
{
    if (IsSameFile(path, ownSource))
        return QStringLiteral("Output would overwrite the source file");
    const SourceFiles::Source other = sources.sourceAt(path);
    if (other.row >= 0)
        return QStringLiteral("Output would overwrite the source of another row: %1")
            .arg(other.path);
    return OutputPathProblem(path);
}
