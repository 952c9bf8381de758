#include "gui/dialogs/tdirform.h"

#include "gui/layoutscale.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

namespace {

// The icon theme's folder icons where there is a theme, else the style's own, so the
// tree never shows bare names.
class FolderIconProvider : public QFileIconProvider
{
public:
    QIcon icon(IconType type) const override
    {
        const QIcon themed = QFileIconProvider::icon(type);
        if (!themed.isNull() && !themed.availableSizes().isEmpty())
            return themed;
        return QApplication::style()->standardIcon(type == Drive ? QStyle::SP_DriveHDIcon
                                                                 : QStyle::SP_DirIcon);
    }
    QIcon icon(const QFileInfo &info) const override
    {
        const QIcon themed = QFileIconProvider::icon(info);
        if (!themed.isNull() && !themed.availableSizes().isEmpty())
            return themed;
        return icon(info.isRoot() ? Drive : Folder);
    }
};

QDir::Filters folderFilter(bool hidden)
{
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (hidden)
        filter |= QDir::Hidden;
    return filter;
}

} // namespace

TdirForm::~TdirForm()
{
    delete m_model; // before the icon provider it uses
}

TdirForm::TdirForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_iconProvider(std::make_unique<FolderIconProvider>()), m_model(new QFileSystemModel(this)),
      ShellTreeView1(new QTreeView(this)), PathLabel(new QLabel(QStringLiteral("Folder:"), this)),
      PathEdit(new QLineEdit(this)),
      HiddenCheck(new QCheckBox(QStringLiteral("Show hidden folders"), this)),
      SubfoldersCheck(new QCheckBox(QStringLiteral("Include subfolders"), this)),
      Button1(new QPushButton(QStringLiteral("Ok"), this)),
      Button2(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("dirForm"));
    setWindowTitle(QStringLiteral("Add File Directory"));

    const LayoutScale s(font());
    setFixedSize(s(300), s(276));

    m_model->setObjectName(QStringLiteral("ShellModel"));
    m_model->setIconProvider(m_iconProvider.get());
    m_model->setFilter(folderFilter(false));
    m_model->setRootPath(QDir::rootPath());

    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setGeometry(s.rect(5, 5, 290, 180));
    ShellTreeView1->setModel(m_model);
    ShellTreeView1->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        ShellTreeView1->hideColumn(column);
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setIndentation(s(19));
    ShellTreeView1->setUniformRowHeights(true);
    ShellTreeView1->header()->setStretchLastSection(false);
    ShellTreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    PathLabel->setObjectName(QStringLiteral("PathLabel"));
    PathLabel->setGeometry(s.rect(5, 193, 40, 17));
    PathEdit->setObjectName(QStringLiteral("PathEdit"));
    PathEdit->setGeometry(s.rect(48, 191, 247, 21));
    PathEdit->setPlaceholderText(QStringLiteral("Type or paste a folder"));
    PathEdit->setClearButtonEnabled(true);
    PathLabel->setBuddy(PathEdit);
    HiddenCheck->setObjectName(QStringLiteral("HiddenCheck"));
    HiddenCheck->setGeometry(s.rect(5, 218, 140, 17));
    SubfoldersCheck->setObjectName(QStringLiteral("SubfoldersCheck"));
    SubfoldersCheck->setGeometry(s.rect(155, 218, 140, 17));
    SubfoldersCheck->hide();

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(s.rect(67, 244, 75, 25));
    Button1->setAutoDefault(false);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(s.rect(158, 244, 75, 25));
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TdirForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TdirForm::Button2Click);

    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { PathEdit->setText(QDir::toNativeSeparators(selectedFolder())); });
    // Enter in the field goes to the folder typed there, rather than pressing a button.
    connect(PathEdit, &QLineEdit::returnPressed, this, &TdirForm::goToTypedFolder);
    connect(HiddenCheck, &QCheckBox::toggled, this, [this](bool on) {
        m_model->setFilter(folderFilter(on));
        scrollToCurrent();
    });
    // Folders are listed in the background: while the first showing lasts, each folder on
    // the way down that comes in moves the selected one, so it is scrolled to again.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this](const QString &loaded) {
        const QString current = m_model->filePath(ShellTreeView1->currentIndex());
        if (!m_shownBefore && isVisible() &&
            (current == loaded ||
             current.startsWith(loaded.endsWith(QLatin1Char('/')) ? loaded
                                                                  : loaded + QLatin1Char('/'))))
            scrollToCurrent();
    });
    connect(this, &QDialog::finished, this, [this] { m_shownBefore = true; });

    setTabOrder(ShellTreeView1, PathEdit);
    setTabOrder(PathEdit, HiddenCheck);
    setTabOrder(HiddenCheck, SubfoldersCheck);
    setTabOrder(SubfoldersCheck, Button1);
    setTabOrder(Button1, Button2);

    // Open the way down to the home folder and select it.
    showFolder(QDir::homePath());
}

void TdirForm::setSubfolderChoice(bool shown, bool checked)
{
    SubfoldersCheck->setVisible(shown);
    SubfoldersCheck->setChecked(shown && checked);
}

bool TdirForm::includeSubfolders() const
{
    // isHidden(), not isVisible(): the picker has closed by the time this is asked.
    return !SubfoldersCheck->isHidden() && SubfoldersCheck->isChecked();
}

QString TdirForm::selectedFolder() const
{
    const QModelIndexList rows = ShellTreeView1->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return QString();
    return m_model->filePath(rows.first());
}

QString TdirForm::typedFolder() const
{
    QString path = QDir::fromNativeSeparators(PathEdit->text().trimmed());
    if (path.isEmpty())
        return QString();
    if (path == QLatin1String("~"))
        path = QDir::homePath();
    else if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    else if (QDir::isRelativePath(path))
        path = QDir::home().filePath(path);
    const QFileInfo info(path);
    return info.isDir() ? QDir::cleanPath(info.absoluteFilePath()) : QString();
}

void TdirForm::showFolder(const QString &path)
{
    const QModelIndex index = m_model->index(path);
    if (!index.isValid())
        return;
    for (QModelIndex i = index; i.isValid(); i = i.parent())
        ShellTreeView1->expand(i);
    ShellTreeView1->setCurrentIndex(index);
    scrollToCurrent();
}

void TdirForm::scrollToCurrent()
{
    ShellTreeView1->scrollTo(ShellTreeView1->currentIndex(), QAbstractItemView::PositionAtCenter);
    // Deep folders would leave the names cut at the left: the start of the row shows.
    ShellTreeView1->horizontalScrollBar()->setValue(0);
}

void TdirForm::goToTypedFolder()
{
    const QString folder = typedFolder();
    if (!folder.isEmpty()) {
        if (folder.contains(QLatin1String("/.")))
            HiddenCheck->setChecked(true); // a hidden folder typed in must be shown
        showFolder(folder);
    }
}

void TdirForm::Button1Click()
{
    const QString shown = QDir::toNativeSeparators(selectedFolder());
    if (PathEdit->text().trimmed().isEmpty() || PathEdit->text() == shown) {
        m_pickedFolder = selectedFolder();
    } else {
        m_pickedFolder = typedFolder();
        if (m_pickedFolder.isEmpty()) {
            QMessageBox::warning(
                this, QStringLiteral("Folder"),
                QStringLiteral("There is no folder \"%1\".").arg(PathEdit->text()));
            return;
        }
    }
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
    // Later showings keep the tree where the user left it.
    if (!m_shownBefore)
        scrollToCurrent();
    ShellTreeView1->setFocus();
}
