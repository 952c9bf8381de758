#include "core/convert/sameoutputs.h"

#include <QHash>

QVector<SameOutputGroup> SameOutputGroups(const QVector<PlannedOutput> &plan)
{
    QVector<SameOutputGroup> groups;
    QHash<QString, qsizetype> byPath;
    for (int row = 0; row < plan.size(); ++row) {
        const PlannedOutput &out = plan[row];
        if (out.path.isEmpty() || !out.refusal.isEmpty())
            continue;
        auto it = byPath.constFind(out.path);
        if (it == byPath.constEnd()) {
            it = byPath.insert(out.path, groups.size());
            groups.append({out.path, {}, {}});
        }
        SameOutputGroup &group = groups[*it];
        group.rows.append(row);
        if (out.skipReason.isEmpty())
            group.written.append(row);
    }
    groups.removeIf(
        [](const SameOutputGroup &g) { return g.rows.size() < 2 || g.written.isEmpty(); });
    return groups;
}
