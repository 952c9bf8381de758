#include "gui/app/tmainform.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/endaction.h"
#include "core/convert/profiletables.h"
#include "core/convert/progressmeter.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/rawnamelinks.h"
#include "core/settings/settingsstore.h"
#include "core/skin/skinerror.h"
#include "core/tags/genrenames.h"
#include "core/tags/tid3v1.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"
#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QUrl>

namespace {

// What the skin's command elements say when the pointer rests on them; the conversion
// commands take theirs from the format table.
const struct
{
    const char *name;
    const char *tip;
} CommandTips[] = {
    {"addfile", "Add files"},
    {"addfolder", "Add a folder"},
    {"remove", "Remove the selected file"},
    {"clear", "Clear the list"},
    {"id3", "Edit tags"},
    {"settings", "Settings"},
    {"stop", "Stop converting"},
};

// A pattern such as *.mp3 that also matches Song.MP3: file dialogs on Linux
// compare patterns case-sensitively.
QString caseBlindPattern(const QString &pattern)
{
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

// Enough of the window shows on some screen to grab it again.
bool isOnSomeScreen(const QRect &window)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *s : screens) {
        const QRect seen = s->availableGeometry().intersected(window);
        if (seen.width() >= 64 && seen.height() >= 32)
            return true;
    }
    return false;
}

bool matchesOpenDialogFilter(const QString &fileName)
{
    const QStringList patterns = OpenDialogFilters().first().patterns;
    for (const QString &p : patterns) {
        const QRegularExpression rx(QRegularExpression::wildcardToRegularExpression(p),
                                    QRegularExpression::CaseInsensitiveOption);
        if (rx.match(fileName).hasMatch())
            return true;
    }
    return false;
}

// Colours the "Status" column so that a failed or stopped row stands out.
class StatusDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        QColor colour;
        switch (JobStatus(index.data(JobListModel::StatusRole).toInt())) {
        case JobStatus::Failed:
            colour = QColor(0xf0, 0x7a, 0x6a);
            break;
        case JobStatus::Stopped:
            colour = QColor(0xe0, 0xb0, 0x5a);
            break;
        case JobStatus::Finish:
            colour = QColor(0x6f, 0xd3, 0xc0);
            break;
        case JobStatus::Skipped: // left alone, its output was there: neither done nor wrong
            colour = QColor(0x8e, 0xa8, 0xc8);
            break;
        case JobStatus::Unconvert:
        case JobStatus::Converting:
            break;
        }
        if (colour.isValid() && !(option->state & QStyle::State_Selected))
            option->palette.setColor(QPalette::Text, colour);
    }
};

} // namespace

TMainForm::TMainForm(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Wavetransmuter"));
    setFixedSize(525, 343);
    setAcceptDrops(true);

    m_settings = std::make_unique<SettingsStore>();
    m_rawNames = std::make_unique<RawNameLinks>();
    m_model = new JobListModel(this);
    m_skin = new TSkin(this);
    m_skin->setObjectName(QStringLiteral("Skin1"));
    connect(m_skin, &TSkin::OnClick, this, [this](SkinElement *source) {
        // The element belongs to the skin; only its name is needed.
        DispatchCommand(source ? source->GetElementName() : QString());
    });
    setupWidgets();
}

TMainForm::~TMainForm() = default;

void TMainForm::setupWidgets()
{
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(12, 103, 332, 204);
    ListView1->setModel(m_model);
    ListView1->setShowGrid(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setWordWrap(false);
    ListView1->setTextElideMode(Qt::ElideMiddle);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(20);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {115, 70, 70, 70};
    for (int c = 0; c < JobListModel::ColumnCount; ++c)
        ListView1->setColumnWidth(c, widths[c]);
    ListView1->setItemDelegateForColumn(JobListModel::StatusColumn, new StatusDelegate(ListView1));
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &) { DispatchCommand(QStringLiteral("id3")); });

    auto makeCombo = [this](const char *name, int top, const QVector<ProfileItem> &items,
                            int initial) {
        auto *combo = new QComboBox(this);
        combo->setObjectName(QString::fromLatin1(name));
        combo->setGeometry(354, top, 121, 21);
        combo->setEditable(false);
        for (const ProfileItem &item : items)
            combo->addItem(item.shown);
        combo->setCurrentIndex(initial);
        return combo;
    };
    suiComboBox1 = makeCombo("suiComboBox1", 156, ProfileTables::sampleRates(),
                             ProfileTables::defaultSampleRateIndex());
    suiComboBox2 = makeCombo("suiComboBox2", 209, ProfileTables::bitrates(),
                             ProfileTables::defaultBitrateIndex());
    suiComboBox3 = makeCombo("suiComboBox3", 261, ProfileTables::channels(),
                             ProfileTables::defaultChannelsIndex());
    connect(suiComboBox1, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox1Change);
    connect(suiComboBox2, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox2Change);
    connect(suiComboBox3, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox3Change);
}

void TMainForm::setDialogs(TID3Form *id3Form, TdirForm *dirFormIn, TSetForm *setForm)
{
    ID3Form = id3Form;
    dirForm = dirFormIn;
    SetForm = setForm;
    if (ID3Form)
        ID3Form->setModel(m_model);
    if (SetForm) {
        connect(SetForm, &TSetForm::outputDirChanged, this,
                [this](const QString &dir) { OutputDir = dir; });
        connect(SetForm, &TSetForm::finishActionChanged, this,
                [this](EndAction action) { FinishAction = action; });
    }
}

void TMainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    FormShow();
}

void TMainForm::FormShow()
{
    // Where it was last time, unless that is no longer on any screen; else centred.
    const std::optional<QPoint> saved = m_settings->readWindowPos();
    if (saved && isOnSomeScreen(QRect(*saved, frameGeometry().size())))
        move(*saved);
    else if (QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    Profile = EncodingProfile::defaults();
    try {
        BindSkin();
    } catch (const SkinError &e) {
        // The set-up stops here, as for any error while the window first shows.
        m_startupError = QString::fromUtf8(e.what());
        QMessageBox::critical(this, QStringLiteral("Wavetransmuter"), m_startupError);
        return;
    }
    IdleFlag = 1;
    ShowProgress(0, 100);
    FinishAction = EndAction::Nothing;
    EncoderPath = ResolveEncoderPath();
    QString settingsError;
    OutputDir = m_settings->LoadOutputDir(&settingsError);
    m_tag = std::make_unique<TID3v1>();
    // Told once, after the window is up: without an encoder no file gets a time or a
    // conversion, and the user should learn why before adding any.
    QStringList notices;
    const QString encoderProblem = EncoderProblem(EncoderPath);
    if (!encoderProblem.isEmpty())
        notices << encoderProblem;
    if (!settingsError.isEmpty())
        notices << settingsError + QStringLiteral("; the music folder is used instead.");
    if (!notices.isEmpty())
        QTimer::singleShot(0, this,
                           [this, notices] { notify(notices.join(QLatin1String("\n\n"))); });

    m_adder = new FileAdder(m_model, m_tag.get(), this);
    m_adder->setEncoderPath(EncoderPath);
    m_adder->setBitrateSource([this] { return Profile.Bitrate; });
    connect(m_adder, &FileAdder::finished, this, &TMainForm::onAddFinished);

    m_sequencer = new BatchSequencer(m_model, m_tag.get(), this);
    m_sequencer->setEncoderPath(EncoderPath);
    m_sequencer->setProfileSource([this] { return Profile; });
    m_sequencer->setOutputDirSource([this] { return OutputDir; });
    connect(m_sequencer, &BatchSequencer::progress, this, &TMainForm::ShowProgress);
    connect(m_sequencer, &BatchSequencer::jobStarted, this,
            [this](int row) { ListView1->selectRow(row); });
    connect(m_sequencer, &BatchSequencer::batchFinished, this, &TMainForm::onBatchFinished);
    connect(m_sequencer, &BatchSequencer::batchStopped, this, [this] {
        if (SetForm)
            SetForm->setBatchRunning(false);
    });

    if (ID3Form) {
        for (const char *name : GenreNames)
            ID3Form->ComboBox1->addItem(QString::fromLatin1(name));
    }
}

QString TMainForm::skinFilePath() const
{
    if (!m_skinPath.isEmpty())
        return m_skinPath;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/mp313.skn");
    if (QFileInfo::exists(beside))
        return beside;
    // An installed program keeps its skin in share/wavetransmuter beside its bin folder,
    // wherever the tree was installed to.
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../share/wavetransmuter/mp313.skn");
    if (QFileInfo::exists(installed))
        return QFileInfo(installed).canonicalFilePath();
    const QString configured = QStringLiteral(WT_INSTALL_DATADIR "/mp313.skn");
    if (QFileInfo::exists(configured))
        return configured;
    return beside; // the error then names where the skin was expected
}

void TMainForm::BindSkin()
{
    m_skin->LoadSkinFile(skinFilePath());
    m_skin->AttachWindow(this);
    m_skin->AssignSkinForm(this, QStringLiteral("wavtransform"));
    SkinWindow *skinWindow = m_skin->GetWindowSkin(this);
    m_progressBarElement = skinWindow->FindElement(QStringLiteral("pb"));
    m_progressTextElement = skinWindow->FindElement(QStringLiteral("pbpos"));
    for (const auto &c : CommandTips)
        m_skin->setElementToolTip(QString::fromLatin1(c.name), QString::fromLatin1(c.tip));
    for (const TargetFormat &format : TargetFormats())
        m_skin->setElementToolTip(format.command, QStringLiteral("Convert to ") + format.name);
    const QString sheet = m_skin->styleSheet();
    if (!sheet.isEmpty()) {
        for (QWidget *w :
             {static_cast<QWidget *>(ListView1), static_cast<QWidget *>(suiComboBox1),
              static_cast<QWidget *>(suiComboBox2), static_cast<QWidget *>(suiComboBox3)})
            w->setStyleSheet(sheet);
    }
}

void TMainForm::ShowProgress(int done, int total)
{
    const std::optional<ProgressFrame> frame = ProgressFrameFor(done, total);
    if (!frame)
        return; // a report past the probed duration changes nothing
    m_progressText = frame->text;
    m_progressRight = frame->right;
    if (m_progressTextElement) {
        m_progressTextElement->SetElementText(frame->text);
        m_progressTextElement->RedrawElement();
    }
    if (m_progressBarElement) {
        m_progressBarElement->SetElementRect(ProgressGeometry::Left, ProgressGeometry::Top,
                                             frame->right, ProgressGeometry::Bottom);
        m_progressBarElement->RedrawElement();
    }
}

void TMainForm::DispatchCommand(const QString &name)
{
    struct Command
    {
        const char *name;
        bool gated;
        std::function<void()> run;
    };
    const Command commands[] = {
        {"addfile", true, [this] { AddFiles(); }},
        {"addfolder", true, [this] { AddFolder(); }},
        {"remove", true, [this] { RemoveSelected(); }},
        {"clear", true, [this] { ClearList(); }},
        {"id3", true, [this] { EditTags(); }},
        {"settings", false, [this] { showSettings(); }},
        {"stop", false, [this] { stop(); }},
    };
    for (const Command &c : commands) {
        if (name != QLatin1String(c.name))
            continue;
        if (c.gated && IdleFlag != 1)
            return;
        c.run();
        return;
    }
    if (const TargetFormat *format = TargetFormatForCommand(name)) {
        if (IdleFlag == 1)
            StartConversion(*format);
    }
}

QStringList TMainForm::chooseFiles()
{
    if (m_openFiles)
        return m_openFiles();
    QFileDialog dialog(this, QStringLiteral("Open music Files"));
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const FileFilter &f : OpenDialogFilters()) {
        QStringList patterns;
        for (const QString &p : f.patterns)
            patterns << caseBlindPattern(p);
        filters << f.description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void TMainForm::notify(const QString &text)
{
    if (m_notice)
        m_notice(text);
    else
        QMessageBox::warning(this, QStringLiteral("Wavetransmuter"), text);
}

void TMainForm::AddFiles()
{
    IdleFlag = 0;
    QStringList chosen = chooseFiles();
    for (QString &path : chosen)
        path = QFileInfo(path).absoluteFilePath();
    addPaths(DialogAppendOrder(chosen));
}

void TMainForm::AddFolder()
{
    IdleFlag = 0;
    QString picked;
    if (dirForm) {
        dirForm->setWindowTitle(QStringLiteral("Add File Directory"));
        dirForm->exec();
        picked = dirForm->PickedFolder();
    }
    QStringList skipped;
    const QStringList files =
        picked.isEmpty() ? QStringList() : ScanFolder(picked, m_rawNames.get(), &skipped);
    if (!skipped.isEmpty())
        notify(QStringLiteral("These files could not be added:\n") +
               skipped.join(QLatin1Char('\n')));
    addPaths(files);
}

void TMainForm::addPaths(const QStringList &paths)
{
    // The list commands stay closed until the last probe has reported.
    if (paths.isEmpty() || !m_adder) {
        IdleFlag = 1;
        return;
    }
    m_adder->addFiles(paths);
}

void TMainForm::onAddFinished()
{
    if (!m_sequencer || !m_sequencer->isRunning())
        IdleFlag = 1;
}

void TMainForm::RemoveSelected()
{
    IdleFlag = 0;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    if (!selected.isEmpty() && m_model->rowCount() > 0) {
        m_model->removeEntry(selected.first().row());
        if (m_model->rowCount() > 0)
            ListView1->selectRow(0);
    }
    IdleFlag = 1;
}

void TMainForm::ClearList()
{
    IdleFlag = 0;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                    QStringLiteral("Are you sure to remove all the files from filelist?\r"
                                   "Not delete from your computer."),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    if (box.exec() == QMessageBox::Ok)
        m_model->clear();
    IdleFlag = 1;
}

void TMainForm::EditTags()
{
    if (!ID3Form)
        return;
    ID3Form->exec();
    ListView1->viewport()->update();
    if (m_model->rowCount() > 0)
        ListView1->selectRow(0);
}

void TMainForm::showSettings()
{
    if (!SetForm)
        return;
    SetForm->prepare(OutputDir, FinishAction, IdleFlag != 1);
    SetForm->exec();
}

void TMainForm::StartConversion(const TargetFormat &format)
{
    if (!m_sequencer)
        return;
    IdleFlag = 0;
    if (!m_sequencer->StartConversion(format)) {
        IdleFlag = 1;
        return;
    }
}

void TMainForm::stop()
{
    if (m_adder)
        m_adder->cancel();
    if (m_sequencer)
        m_sequencer->stop();
    IdleFlag = 1;
}

void TMainForm::onBatchFinished()
{
    IdleFlag = 1;
    if (SetForm)
        SetForm->setBatchRunning(false);
    runFinishAction();
}

void TMainForm::runFinishAction()
{
    switch (FinishAction) {
    case EndAction::OpenFolder:
        if (m_openFolder)
            m_openFolder(OutputDir);
        else
            QDesktopServices::openUrl(QUrl::fromLocalFile(OutputDir));
        break;
    case EndAction::Shutdown:
        RunShutdownCommand();
        break;
    case EndAction::Nothing:
        break;
    }
}

void TMainForm::suiComboBox1Change(int index)
{
    Profile.SampleRate = ProfileTables::sampleRateAt(index);
}

void TMainForm::suiComboBox2Change(int index)
{
    Profile.Bitrate = ProfileTables::bitrateAt(index);
    m_model->RecomputeSizes(Profile.Bitrate);
}

void TMainForm::suiComboBox3Change(int index)
{
    Profile.Channels = ProfileTables::channelsAt(index);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // The encoder must not outlive the window, nor leave half a file behind.
    if (m_sequencer)
        m_sequencer->shutdown();
    if (m_adder)
        m_adder->cancel();
    m_pendingPaths.clear(); // the adder's tag object goes next
    m_tag.reset();
    // The next start opens where this one was; a settings file that cannot be
    // written costs only that.
    if (m_shown)
        m_settings->writeWindowPos(pos(), nullptr);
    event->accept();
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    if (IdleFlag != 1)
        return; // dropped like any gated command
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    addPathsFromOutside(paths);
}

void TMainForm::addPathsFromOutside(const QStringList &paths)
{
    m_pendingPaths += paths;
    addPendingPaths();
}

void TMainForm::addPendingPaths()
{
    if (m_pendingPaths.isEmpty())
        return;
    // IdleFlag is set from many places; a short poll while paths wait is simpler
    // than hooking every one of them. A modal dialog (tags, settings) counts as busy.
    if (IdleFlag != 1 || QApplication::activeModalWidget()) {
        if (!m_pendingTimer) {
            m_pendingTimer = new QTimer(this);
            m_pendingTimer->setInterval(150);
            connect(m_pendingTimer, &QTimer::timeout, this, &TMainForm::addPendingPaths);
        }
        m_pendingTimer->start();
        return;
    }
    if (m_pendingTimer)
        m_pendingTimer->stop();
    QStringList files;
    for (const QString &path : std::as_const(m_pendingPaths)) {
        const QFileInfo info(path);
        if (info.isDir())
            files << ScanFolder(info.absoluteFilePath(), m_rawNames.get());
        else if (info.isFile() && matchesOpenDialogFilter(info.fileName()))
            files << info.absoluteFilePath();
    }
    m_pendingPaths.clear();
    if (files.isEmpty())
        return;
    IdleFlag = 0;
    addPaths(files);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ListView1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        DispatchCommand(QStringLiteral("remove"));
        return true;
    }
    if (watched == ListView1->viewport()) {
        // Drops on the list are the window's drops.
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            dropEvent(static_cast<QDropEvent *>(event));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
