#pragma once

#include "core/convert/outputnaming.h"
#include "core/convert/sameoutputs.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

// Asked before a batch whose rows would write the same output file: every such file with
// all its rows, and what the existing-file rule makes of each ("replaced by row 3",
// "remains", "written", "skipped"). "Convert anyway" accepts; Cancel, the default, rejects.
class SameOutputDialog : public QDialog
{
    Q_OBJECT
public:
    // `sources` names each row's source file, by row.
    SameOutputDialog(const QVector<SameOutputGroup> &groups, ExistingOutput rule,
                     const QStringList &sources, QWidget *parent = nullptr);
};
