#include "gui/dialogs/sameoutputdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString fateOf(int row, const SameOutputGroup &group, ExistingOutput rule)
{
    if (!group.written.contains(row))
        return QStringLiteral("skipped");
    if (rule == ExistingOutput::Skip)
        return QStringLiteral("written");
    if (row == group.written.last())
        return QStringLiteral("remains");
    return QStringLiteral("replaced by row %1")
        .arg(group.written.at(group.written.indexOf(row) + 1) + 1);
}

} // namespace

SameOutputDialog::SameOutputDialog(const QVector<SameOutputGroup> &groups, ExistingOutput rule,
                                   const QStringList &sources, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SameOutputBox"));
    setWindowTitle(QStringLiteral("Same output file"));
    auto *layout = new QVBoxLayout(this);
    const QString fate =
        rule == ExistingOutput::Skip
            ? QStringLiteral("Under \"Skip the file\" the first row of each is written and the "
                             "others are skipped.")
            : QStringLiteral("Each replaces the one written before it, so only the last row's "
                             "output remains.");
    auto *text = new QLabel(
        QStringLiteral("Some files would be written to the same output file. %1\n\nGive them "
                       "different titles in the tag editor, or choose \"Number\" under "
                       "Settings, to keep them all.")
            .arg(fate),
        this);
    text->setObjectName(QStringLiteral("SameOutputText"));
    text->setWordWrap(true);
    layout->addWidget(text);

    // However many there are, all of them, in a list that scrolls.
    auto *list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("SameOutputList"));
    list->setHeaderLabels({QStringLiteral("Output and rows"), QStringLiteral("Becomes")});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    for (const SameOutputGroup &group : groups) {
        auto *file = new QTreeWidgetItem(list, {QDir::toNativeSeparators(group.path)});
        file->setFirstColumnSpanned(true);
        QFont bold = file->font(0);
        bold.setBold(true);
        file->setFont(0, bold);
        for (int row : group.rows)
            new QTreeWidgetItem(file,
                                {QStringLiteral("Row %1: %2").arg(row + 1).arg(sources.value(row)),
                                 fateOf(row, group, rule)});
    }
    list->expandAll();
    list->setItemsExpandable(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    layout->addWidget(list);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *go =
        buttons->addButton(QStringLiteral("Convert anyway"), QDialogButtonBox::AcceptRole);
    go->setObjectName(QStringLiteral("ConvertAnywayButton"));
    go->setAutoDefault(false);
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setDefault(true);
    cancel->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, 360);
}
