#include "gui/dialogs/tdirform.h"

#include "gui/layoutscale.h"

#include <QDir>
#include <QFileSystemModel>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeView>

#include <algorithm>

TdirForm::TdirForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_model(new QFileSystemModel(this)), ShellTreeView1(new QTreeView(this)),
      Button1(new QPushButton(QStringLiteral("Ok"), this)),
      Button2(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("dirForm"));
    setWindowTitle(QStringLiteral("Add File Directory"));

    const LayoutScale s(font());
    setFixedSize(s(255), s(239));

    m_model->setObjectName(QStringLiteral("ShellModel"));
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setRootPath(QDir::rootPath());

    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setGeometry(s.rect(5, 5, 243, 193));
    ShellTreeView1->setModel(m_model);
    ShellTreeView1->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        ShellTreeView1->hideColumn(column);
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setIndentation(s(19));
    ShellTreeView1->setUniformRowHeights(true);
    ShellTreeView1->header()->setStretchLastSection(false);
    ShellTreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(s.rect(24, 208, 75, 25));
    Button1->setAutoDefault(false);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(s.rect(144, 208, 75, 25));
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TdirForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TdirForm::Button2Click);

    // Open the way down to the home folder and select it.
    const QModelIndex home = m_model->index(QDir::homePath());
    if (home.isValid()) {
        for (QModelIndex i = home; i.isValid(); i = i.parent())
            ShellTreeView1->expand(i);
        ShellTreeView1->setCurrentIndex(home);
    }
}

QString TdirForm::selectedFolder() const
{
    const QModelIndexList rows = ShellTreeView1->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return QString();
    return m_model->filePath(rows.first());
}

void TdirForm::Button1Click()
{
    m_pickedFolder = selectedFolder();
    accept();
}

void TdirForm::Button2Click()
{
    reject();
}

void TdirForm::reject()
{
    m_pickedFolder.clear();
    QDialog::reject();
}

void TdirForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    m_pickedFolder.clear();
    if (!m_shownBefore) {
        m_shownBefore = true;
        ShellTreeView1->scrollTo(ShellTreeView1->currentIndex(),
                                 QAbstractItemView::PositionAtCenter);
    }
    ShellTreeView1->setFocus();
}
