#pragma once

#include "core/convert/outputplan.h"

#include <QList>
#include <QString>
#include <QVector>

// Rows of one batch that aim at one output file.
struct SameOutputGroup
{
    QString path;
    QList<int> rows;    // in list order
    QList<int> written; // those that write it; the others are skipped (ExistingOutput::Skip)
};

// The rows of a plan (PlanOutputs()) that aim at one path, where at least one of them writes
// it, in the order of each group's first row. Under Replace every row of a group writes the
// file and the last one's output remains; under Skip the first writes it and the later ones
// are skipped; under Number each row has a name of its own, so there are no groups. Rows the
// batch refuses write nothing and belong to no group.
QVector<SameOutputGroup> SameOutputGroups(const QVector<PlannedOutput> &plan);
