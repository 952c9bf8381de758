#include "gui/dialogs/tdirform.h"

#include "gui/layoutscale.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

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

// Makes path and the folders above it that are missing, from the top down; on failure
// says why in error.
bool makeFolders(const QString &path, QString *error)
{
    QStringList missing;
    QString existing = QDir::cleanPath(path);
    while (!QFileInfo::exists(existing) && !QFileInfo(existing).isSymLink()) {
        missing.prepend(existing);
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    if (!QFileInfo(existing).isDir()) {
        *error = QStringLiteral("\"%1\" is not a folder").arg(QDir::toNativeSeparators(existing));
        return false;
    }
    for (const QString &folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
            *error = qt_error_string(errno);
            return false;
        }
    }
    return true;
}

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
      NewFolderButton(new QPushButton(QStringLiteral("New folder"), this)),
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

    NewFolderButton->setObjectName(QStringLiteral("NewFolderButton"));
    NewFolderButton->setGeometry(s.rect(5, 244, 80, 25));
    NewFolderButton->setAutoDefault(false);
    NewFolderButton->setToolTip(QStringLiteral("Make a folder in the selected one"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(s.rect(139, 244, 75, 25));
    Button1->setAutoDefault(false);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(s.rect(220, 244, 75, 25));
    Button2->setAutoDefault(false);
    connect(NewFolderButton, &QPushButton::clicked, this, &TdirForm::NewFolderClick);
    connect(Button1, &QPushButton::clicked, this, &TdirForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TdirForm::Button2Click);

    NewFolderButton->setEnabled(false);
    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QString selected = selectedFolder();
        PathEdit->setText(QDir::toNativeSeparators(selected));
        NewFolderButton->setEnabled(!selected.isEmpty());
    });
    // Enter in the field goes to the folder typed there, rather than pressing a button.
    connect(PathEdit, &QLineEdit::returnPressed, this, &TdirForm::goToTypedFolder);
    connect(HiddenCheck, &QCheckBox::toggled, this, [this](bool on) {
        m_model->setFilter(folderFilter(on));
        scrollToCurrent();
    });
    // Folders are listed in the background: while the showing that opened at a folder
    // lasts, each folder on the way down that comes in moves the selected one, so it is
    // scrolled to again.
    connect(m_model, &QFileSystemModel::directoryLoaded, this, [this](const QString &loaded) {
        const QString current = m_model->filePath(ShellTreeView1->currentIndex());
        if (m_followLoading && isVisible() &&
            (current == loaded ||
             current.startsWith(loaded.endsWith(QLatin1Char('/')) ? loaded
                                                                  : loaded + QLatin1Char('/'))))
            scrollToCurrent();
    });
    connect(this, &QDialog::finished, this, [this] { m_followLoading = false; });

    setTabOrder(ShellTreeView1, PathEdit);
    setTabOrder(PathEdit, HiddenCheck);
    setTabOrder(HiddenCheck, SubfoldersCheck);
    setTabOrder(SubfoldersCheck, NewFolderButton);
    setTabOrder(NewFolderButton, Button1);
    setTabOrder(Button1, Button2);

    // Open the way down to the home folder and select it.
    showFolder(QDir::homePath());
}

void TdirForm::setSubfolderChoice(bool shown, bool checked)
{
    SubfoldersCheck->setVisible(shown);
    SubfoldersCheck->setChecked(shown && checked);
}

void TdirForm::setStartFolder(const QString &folder)
{
    if (folder.trimmed().isEmpty())
        return;
    QString existing = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    while (!QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            return;
        existing = parent;
    }
    if (existing.contains(QLatin1String("/.")))
        HiddenCheck->setChecked(true); // a hidden folder must be shown to be selected
    m_followLoading = true;
    showFolder(QFileInfo(existing).absoluteFilePath());
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

QString TdirForm::typedPath() const
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
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString TdirForm::typedFolder() const
{
    const QString path = typedPath();
    return !path.isEmpty() && QFileInfo(path).isDir() ? path : QString();
}

bool TdirForm::offerToMake(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QMessageBox::warning(this, QStringLiteral("Folder"),
                             QStringLiteral("\"%1\" is not a folder.").arg(shown));
        return false;
    }
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, QStringLiteral("Folder"),
                              QStringLiteral("There is no folder \"%1\". Make it?").arg(shown),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes)
        return false;
    QString error;
    if (!makeFolders(path, &error)) {
        QMessageBox::warning(
            this, QStringLiteral("Folder"),
            QStringLiteral("The folder \"%1\" cannot be made: %2").arg(shown, error));
        return false;
    }
    return true;
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
            // A folder that is not there yet is made when the user agrees; else the picker
            // stays open.
            const QString path = typedPath();
            if (!offerToMake(path))
                return;
            m_pickedFolder = path;
        }
    }
    accept();
}

void TdirForm::NewFolderClick()
{
    const QString parent = selectedFolder();
    if (parent.isEmpty())
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("New folder"),
                                               QStringLiteral("Name of the new folder in \"%1\":")
                                                   .arg(QDir::toNativeSeparators(parent)),
                                               QLineEdit::Normal, QStringLiteral("New folder"), &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String("..")) {
        QMessageBox::warning(this, QStringLiteral("New folder"),
                             QStringLiteral("\"%1\" cannot name a folder: a name has no \"/\" "
                                            "and is not \".\" or \"..\".")
                                 .arg(name));
        return;
    }
    const QString path = QDir(parent).filePath(name);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QMessageBox::warning(this, QStringLiteral("New folder"),
                             QStringLiteral("There is already \"%1\" in \"%2\".")
                                 .arg(name, QDir::toNativeSeparators(parent)));
        if (QFileInfo(path).isDir())
            showFolder(path);
        return;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
        const QString reason = qt_error_string(errno);
        QMessageBox::warning(this, QStringLiteral("New folder"),
                             QStringLiteral("The folder \"%1\" cannot be made: %2")
                                 .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    if (name.startsWith(QLatin1Char('.')))
        HiddenCheck->setChecked(true); // shown, to be selected
    showFolder(path);
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
    // Later showings keep the tree where the user left it, unless told where to start.
    if (m_followLoading)
        scrollToCurrent();
    ShellTreeView1->setFocus();
}
