#pragma once

#include <QList>
#include <QString>
#include <QVector>

class JobListModel;

// Where each row of the list would be written, and which rows get in each other's way,
// worked out before a batch starts (the dry run lists it, the window warns with it).
struct PlannedOutput
{
    QString path;
    QList<int> sameOutputRows; // the other rows that write this very path; the later wins
    bool overwritesOwnSource = false;
};

QVector<PlannedOutput> PlanOutputs(const JobListModel &model, const QString &outputDir,
                                   const QString &extension);
