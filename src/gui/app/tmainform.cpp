#include "gui/app/tmainform.h"

#include "gui/app/screenplace.h"
#include "gui/app/statusdelegate.h"

#include "core/convert/batchprogress.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/outputplan.h"
#include "core/convert/profiletables.h"
#include "core/convert/sameoutputs.h"
#include "core/convert/targetformat.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/naturalorder.h"
#include "core/session/conversionsession.h"
#include "core/session/endaction.h"
#include "core/settings/settingsstore.h"
#include "core/skin/skinerror.h"
#include "core/tags/genrenames.h"
#include "gui/dialogs/sameoutputdialog.h"
#include "gui/dialogs/shutdowncountdown.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"
#include "gui/dropdownlist.h"
#include "gui/skin/progressmeter.h"
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
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
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
    {"addfile", "Add files (Ctrl+O)"},
    {"addfolder", "Add a folder (Ctrl+Shift+O)"},
    {"remove", "Remove the selected file (Delete)"},
    {"clear", "Clear the list"},
    {"id3", "Edit tags (F2)"},
    {"settings", "Settings"},
    {"stop", "Stop converting (Escape)"},
};

// The commands the gate drops while an add or a batch runs; the skin shows them disabled.
const char *const GatedCommands[] = {"addfile", "addfolder", "remove", "clear", "id3", "more"};

// The tooltip of a format's command, in the skin and in the "More" menu.
QString convertTip(const TargetFormat &format)
{
    switch (format.sizeRule) {
    case TargetFormat::SizeRule::Pcm:
        return QStringLiteral("Convert to %1 (uncompressed: the bitrate is not used)")
            .arg(format.name);
    case TargetFormat::SizeRule::Lossless:
        return QStringLiteral("Convert to %1 (lossless: the bitrate is not used)").arg(format.name);
    case TargetFormat::SizeRule::Bitrate:
        break;
    }
    return QStringLiteral("Convert to ") + format.name;
}

// Where the main window's own widgets sit on the skin at its own size, and the edges they
// keep to as the window grows: the list grows both ways, the output folder's line along the
// bottom, the profile lists stay at the top right.
const QRect ListGeometry(12, 103, 332, 182);
const QRect OutputLabelGeometry(12, 289, 268, 17);
const QRect OpenOutputGeometry(284, 288, 60, 19);
const Qt::Edges AllEdges = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge;
const struct
{
    const char *name;
    QRect geometry;
} ComboGeometries[] = {{"suiComboBox1", QRect(354, 156, 121, 21)},
                       {"suiComboBox2", QRect(354, 209, 121, 21)},
                       {"suiComboBox3", QRect(354, 261, 121, 21)}};

// The position of value in a profile table, or the default's when the table lacks it.
int indexOfValue(const QVector<ProfileItem> &table, const QString &value, int fallback)
{
    for (int i = 0; i < table.size(); ++i) {
        if (table.at(i).value == value)
            return i;
    }
    return fallback;
}

// A count as the user reads it, thousands separated ("2,000").
QString countText(int n)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(n);
}

// The text elements of the progress band besides the percentage: what the last batch did.
const QLatin1String ProgressInfoName("pbinfo");

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

} // namespace

TMainForm::TMainForm(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Wavetransmuter"));
    setAcceptDrops(true);

    m_settings = std::make_unique<SettingsStore>();
    m_session = new ConversionSession(this);
    // What the user chose last time; the end action starts from "nothing" at every run (a
    // remembered shutdown would surprise).
    ConversionOptions options;
    options.profile = m_settings->readProfile();
    options.outputDir = m_settings->LoadOutputDir();
    options.jobsAtOnce = m_settings->readJobs();
    options.naming = m_settings->readNaming();
    options.tags = m_settings->readTagOptions();
    m_session->setOptions(options);
    m_skin = new TSkin(this);
    m_skin->setObjectName(QStringLiteral("Skin1"));
    connect(m_skin, &TSkin::OnClick, this, [this](SkinElement *source) {
        // The element belongs to the skin; only its name is needed.
        DispatchCommand(source ? source->GetElementName() : QString());
    });
    // At a new size the band's fill and the output folder's line are laid out anew.
    connect(m_skin, &TSkin::layoutChanged, this, [this](QWidget *window) {
        if (window != this || !m_skin->isLoaded())
            return;
        drawProgress(m_progress.done, m_progress.total, m_progress.secondsLeft);
        showOutputDir();
    });
    setupWidgets();
    connectSession();
}

// The session goes first: its encoders end before the widgets that show them.
TMainForm::~TMainForm()
{
    delete m_session;
}

JobListModel *TMainForm::model() const
{
    return m_session->model();
}

quint8 TMainForm::IdleFlag() const
{
    return m_ready && !m_commandRunning && !m_converting && m_session->isIdle() ? 1 : 0;
}

void TMainForm::setupWidgets()
{
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(ListGeometry);
    ListView1->setTabKeyNavigation(false); // Tab leaves the list; the arrows move in it
    ListView1->setModel(model());
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
    ListView1->setItemDelegateForColumn(JobListModel::StatusColumn, new StatusDelegate(ListView1));
    ListView1->setAcceptDrops(true);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { openTagEditorAt(index.row()); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, &TMainForm::showListMenu);
    connect(model(), &QAbstractItemModel::rowsAboutToBeInserted, this, &TMainForm::beforeRowsAdded);
    connect(model(), &QAbstractItemModel::rowsInserted, this, &TMainForm::afterRowsAdded);
    // Widths the user gives the columns are kept; the title takes what they leave.
    m_columnWidths = m_settings->readColumnWidths();
    if (m_columnWidths.size() != JobListModel::ColumnCount - 1)
        m_columnWidths.clear();
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) {
                if (m_fittingColumns || column == JobListModel::TitleColumn)
                    return;
                if (m_columnWidths.isEmpty()) {
                    for (int c = JobListModel::TitleColumn + 1; c < JobListModel::ColumnCount; ++c)
                        m_columnWidths << ListView1->columnWidth(c);
                }
                m_columnWidths[column - JobListModel::TitleColumn - 1] = width;
            });
    fitColumns();

    OutputLabel = new QLabel(this);
    OutputLabel->setObjectName(QStringLiteral("OutputLabel"));
    OutputLabel->setGeometry(OutputLabelGeometry);
    OpenOutputButton = new QPushButton(QStringLiteral("Open"), this);
    OpenOutputButton->setObjectName(QStringLiteral("OpenOutputButton"));
    OpenOutputButton->setGeometry(OpenOutputGeometry);
    OpenOutputButton->setToolTip(QStringLiteral("Open the output folder"));
    OpenOutputButton->setAutoDefault(false);
    connect(OpenOutputButton, &QPushButton::clicked, this, &TMainForm::openOutputDir);

    // Each list shows the profile's value: the one kept from the last run.
    const EncodingProfile &profile = m_session->options().profile;
    auto makeCombo = [this](int n, const QVector<ProfileItem> &items, const QString &value,
                            int fallback) {
        auto *combo = new DropDownList(this);
        combo->setObjectName(QString::fromLatin1(ComboGeometries[n].name));
        combo->setGeometry(ComboGeometries[n].geometry);
        combo->setMaxVisibleItems(12);
        for (const ProfileItem &item : items)
            combo->addItem(item.shown);
        combo->setCurrentIndex(indexOfValue(items, value, fallback));
        return combo;
    };
    suiComboBox1 = makeCombo(0, ProfileTables::sampleRates(), profile.SampleRate,
                             ProfileTables::defaultSampleRateIndex());
    suiComboBox2 = makeCombo(1, ProfileTables::bitrates(), profile.Bitrate,
                             ProfileTables::defaultBitrateIndex());
    suiComboBox3 = makeCombo(2, ProfileTables::channels(), profile.Channels,
                             ProfileTables::defaultChannelsIndex());
    connect(suiComboBox1, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox1Change);
    connect(suiComboBox2, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox2Change);
    QStringList unused;
    for (const TargetFormat &format : TargetFormats()) {
        if (format.ignoresBitrate())
            unused << format.name + (format.sizeRule == TargetFormat::SizeRule::Lossless
                                         ? QStringLiteral(" (lossless)")
                                         : QStringLiteral(" (uncompressed)"));
    }
    suiComboBox2->setToolTip(
        QStringLiteral("The bitrate of every format but %1, which do not use it")
            .arg(unused.join(QStringLiteral(" and "))));
    connect(suiComboBox3, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TMainForm::suiComboBox3Change);
}

void TMainForm::setDialogs(TID3Form *id3Form, TdirForm *dirFormIn, TSetForm *setForm)
{
    ID3Form = id3Form;
    dirForm = dirFormIn;
    SetForm = setForm;
    if (ID3Form) {
        ID3Form->setModel(model());
        for (const char *name : GenreNames)
            ID3Form->ComboBox1->addItem(QString::fromLatin1(name));
    }
    if (SetForm) {
        // The dialog stores each choice; the session takes it from the next job on.
        connect(SetForm, &TSetForm::namingChanged, m_session, &ConversionSession::setNaming);
        SetForm->setExampleProvider([this](const QString &dir, const NamingOptions &naming) {
            return namingExample(dir, naming);
        });
        connect(SetForm, &TSetForm::outputDirChanged, this, [this](const QString &dir) {
            m_session->setOutputDir(dir);
            showOutputDir();
        });
        connect(SetForm, &TSetForm::finishActionChanged, m_session,
                &ConversionSession::setFinishAction);
        connect(SetForm, &TSetForm::jobsChanged, m_session, &ConversionSession::setJobsAtOnce);
        connect(SetForm, &TSetForm::tagOptionsChanged, m_session,
                &ConversionSession::setTagOptions);
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
    try {
        BindSkin();
    } catch (const SkinError &e) {
        // The set-up stops here, as for any error while the window first shows.
        m_startupError = QString::fromUtf8(e.what());
        if (QScreen *s = screen())
            move(s->availableGeometry().center() - rect().center());
        QMessageBox::critical(this, QStringLiteral("Wavetransmuter"), m_startupError);
        return;
    }
    restorePlace();
    m_ready = true;
    updateGate();
    ShowProgress(0, 100);
    // The music folder (or the stored one) is made when missing; a failure is left for the
    // first job to report.
    ConversionSession::prepareOutputDir(m_session->options().outputDir);
    showOutputDir();
    // Told once, after the window is up: without an encoder no file gets a time or a
    // conversion, and the user should learn why before adding any.
    QStringList notices;
    const QString encoderProblem = EncoderProblem(m_session->encoderPath());
    if (!encoderProblem.isEmpty())
        notices << encoderProblem;
    if (!m_settings->readError().isEmpty())
        notices << m_settings->readError() + QStringLiteral("; the music folder is used instead.");
    if (!notices.isEmpty())
        QTimer::singleShot(0, this,
                           [this, notices] { notify(notices.join(QLatin1String("\n\n"))); });
    setupKeyboard();
}

void TMainForm::restorePlace()
{
    // The skin's size is the smallest; a skin that does not grow keeps its own.
    if (const std::optional<QSize> size = m_settings->readWindowSize())
        resize(*size);
    const std::optional<QPoint> pos = m_settings->readWindowPos();
    QList<QRect> screens;
    for (const QScreen *s : QGuiApplication::screens())
        screens << s->availableGeometry();
    if (pos) {
        setGeometry(PlaceOnScreens(QRect(*pos, size()), screens, minimumSize()));
    } else if (QScreen *s = screen()) {
        const QRect area = s->availableGeometry();
        setGeometry(
            PlaceOnScreens(QRect(area.center() - rect().center(), size()), {area}, minimumSize()));
    }
    if (m_settings->readWindowMaximized() && maximumSize() != minimumSize())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::savePlace()
{
    // The size it comes back to from maximised, and the place it had then.
    const QRect normal =
        isMaximized() && normalGeometry().isValid() ? normalGeometry() : geometry();
    m_settings->writeWindowPos(normal.topLeft(), nullptr);
    m_settings->writeWindowSize(normal.size(), isMaximized(), nullptr);
    if (!m_columnWidths.isEmpty())
        m_settings->writeColumnWidths(m_columnWidths, nullptr);
}

void TMainForm::anchorWidgets()
{
    SkinWindow *skinWindow = m_skin->GetWindowSkin(this);
    skinWindow->anchorWidget(ListView1, ListGeometry, AllEdges);
    skinWindow->anchorWidget(OutputLabel, OutputLabelGeometry,
                             Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    skinWindow->anchorWidget(OpenOutputButton, OpenOutputGeometry, Qt::RightEdge | Qt::BottomEdge);
    DropDownList *combos[] = {suiComboBox1, suiComboBox2, suiComboBox3};
    for (int n = 0; n < 3; ++n)
        skinWindow->anchorWidget(combos[n], ComboGeometries[n].geometry,
                                 Qt::TopEdge | Qt::RightEdge);
}

void TMainForm::connectSession()
{
    connect(m_session, &ConversionSession::idleChanged, this, &TMainForm::updateGate);
    connect(m_session, &ConversionSession::rowsAdded, this, &TMainForm::showAddProgress);
    connect(m_session, &ConversionSession::addFinished, this, &TMainForm::showAddProgress);
    connect(m_session, &ConversionSession::progress, this, &TMainForm::showSessionProgress);
    connect(m_session, &ConversionSession::jobStarted, this,
            [this](int row) { ListView1->selectRow(row); });
    connect(m_session, &ConversionSession::batchEnded, this, &TMainForm::onBatchEnded);
}

void TMainForm::setupKeyboard()
{
    // Tab goes through the skin's commands in reading order, then the list, the output
    // folder's button and the profile lists, and round again.
    QList<QWidget *> chain = m_skin->GetWindowSkin(this)->focusChain();
    chain << ListView1 << OpenOutputButton << suiComboBox1 << suiComboBox2 << suiComboBox3;
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain.at(i - 1), chain.at(i));
    ListView1->setFocus();

    const struct
    {
        QKeySequence keys;
        const char *command;
    } shortcuts[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), "addfile"},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), "addfolder"},
        {QKeySequence(Qt::Key_Delete), "remove"},
        {QKeySequence(Qt::Key_Escape), "stop"},
    };
    for (const auto &s : shortcuts) {
        const QString command = QString::fromLatin1(s.command);
        connect(new QShortcut(s.keys, this), &QShortcut::activated, this,
                [this, command] { DispatchCommand(command); });
    }
    // F2 (and Enter in the list) edits the tags of the selected row.
    connect(new QShortcut(QKeySequence(Qt::Key_F2), this), &QShortcut::activated, this,
            [this] { openTagEditorAt(ListView1->currentIndex().row()); });
}

void TMainForm::fitColumns()
{
    // "Time", "Size" and "Status" as wide as their longest texts, or as the user made them;
    // the title takes the rest, vertical scroll bar or not, so the list needs no horizontal
    // one unless the user widened the others past the window.
    m_fittingColumns = true;
    QHeaderView *header = ListView1->horizontalHeader();
    const QFontMetrics cells(ListView1->font());
    // The item's text margins on both sides, and a pixel of air each side.
    const int margins =
        2 * (ListView1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListView1) + 2);
    const struct
    {
        int column;
        QString longest;
    } fixed[] = {{JobListModel::TimeColumn, QStringLiteral("00:00:00")},
                 {JobListModel::SizeColumn, QStringLiteral("000.00MB")},
                 {JobListModel::StatusColumn,
                  JobStatusText(JobStatus::Converting) + QStringLiteral(" 100%")}};
    header->setStretchLastSection(false);
    for (const auto &f : fixed) {
        header->setSectionResizeMode(f.column, QHeaderView::Interactive);
        const int chosen = m_columnWidths.value(f.column - JobListModel::TitleColumn - 1);
        header->resizeSection(f.column, chosen > 0
                                            ? chosen
                                            : std::max(cells.horizontalAdvance(f.longest) + margins,
                                                       header->sectionSizeHint(f.column)));
    }
    header->setSectionResizeMode(JobListModel::TitleColumn, QHeaderView::Stretch);
    m_fittingColumns = false;
}

void TMainForm::beforeRowsAdded()
{
    // Decided before the rows arrive: afterwards the last row has moved down.
    const QScrollBar *bar = ListView1->verticalScrollBar();
    m_followNewRows = m_followPending || bar->value() >= bar->maximum();
}

void TMainForm::afterRowsAdded()
{
    if (!m_followNewRows || m_followPending)
        return;
    // Once the list has laid the new rows out; a burst of rows scrolls once.
    m_followPending = true;
    QTimer::singleShot(0, this, [this] {
        m_followPending = false;
        ListView1->scrollToBottom();
    });
}

void TMainForm::moveToEnd(bool last)
{
    const int rows = model()->rowCount();
    if (rows == 0)
        return;
    const int column = std::max(0, ListView1->currentIndex().column());
    const QModelIndex target = model()->index(last ? rows - 1 : 0, column);
    ListView1->setCurrentIndex(target);
    ListView1->selectRow(target.row());
    ListView1->scrollTo(target);
}

void TMainForm::setCommandRunning(bool running)
{
    m_commandRunning = running;
    updateGate();
}

void TMainForm::updateGate()
{
    const quint8 idle = IdleFlag();
    if (idle != m_shownGate && m_skin->isLoaded()) {
        m_shownGate = idle;
        QStringList gated;
        for (const char *name : GatedCommands)
            gated << QString::fromLatin1(name);
        for (const TargetFormat &format : TargetFormats())
            gated << format.command;
        m_skin->GetWindowSkin(this)->setElementsEnabled(gated, idle == 1);
    }
    // Paths from a drop or a later start waited for this.
    if (idle == 1 && !m_pendingPaths.isEmpty())
        QTimer::singleShot(0, this, &TMainForm::addPendingPaths);
}

void TMainForm::showOutputDir()
{
    const QString shown = QDir::toNativeSeparators(m_session->options().outputDir);
    const QString prefix = QStringLiteral("Output: ");
    const QFontMetrics metrics(OutputLabel->font());
    const int room = OutputLabel->width() - metrics.horizontalAdvance(prefix) - 2;
    OutputLabel->setText(prefix + metrics.elidedText(shown, Qt::ElideMiddle, room));
    OutputLabel->setToolTip(shown);
}

void TMainForm::openOutputDir()
{
    openFolder(m_session->options().outputDir);
}

void TMainForm::openFolder(const QString &dir)
{
    if (m_openFolder)
        m_openFolder(dir);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(dir));
}

void TMainForm::showMoreMenu()
{
    SkinWindow *skinWindow = m_skin->isLoaded() ? m_skin->GetWindowSkin(this) : nullptr;
    SkinElement *more = skinWindow ? skinWindow->FindElement(QStringLiteral("more")) : nullptr;
    if (!m_moreMenu || m_moreMenu->isEmpty() || !more)
        return;
    // Not exec(): the window's events, a batch's included, go on while it is open.
    m_moreMenu->popup(mapToGlobal(more->rect().bottomLeft() + QPoint(0, 2)));
}

void TMainForm::showListMenu(const QPoint &pos)
{
    const QModelIndex index = ListView1->indexAt(pos);
    if (index.isValid())
        ListView1->selectRow(index.row());
    const int row = index.isValid() ? index.row() : -1;
    if (!m_listMenu) {
        m_listMenu = new QMenu(this);
        m_listMenu->setObjectName(QStringLiteral("ListMenu"));
    }
    m_listMenu->clear();
    const bool idle = IdleFlag() == 1;
    auto add = [this](const char *name, const QString &text, bool enabled, auto run) {
        QAction *action = m_listMenu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, run);
    };
    add("RemoveAction", QStringLiteral("Remove"), idle && row >= 0,
        [this] { DispatchCommand(QStringLiteral("remove")); });
    add("TagsAction", QStringLiteral("Tags..."), idle && row >= 0,
        [this, row] { openTagEditorAt(row); });
    add("ShowInFolderAction", QStringLiteral("Show in folder"), row >= 0,
        [this, row] { showInFolder(row); });
    m_listMenu->addSeparator();
    bool ended = false;
    for (int r = 0; r < model()->rowCount() && !ended; ++r)
        ended = model()->run(r).hasEnded();
    add("SaveReportAction", QStringLiteral("Save report..."), ended, [this] { saveReport(); });
    m_listMenu->popup(ListView1->viewport()->mapToGlobal(pos));
}

void TMainForm::showInFolder(int row)
{
    if (row < 0 || row >= model()->rowCount())
        return;
    // The output's folder once the row has one there; else where its source lies.
    const QString output = model()->run(row).output;
    const bool written = !output.isEmpty() && QFileInfo(output).isFile();
    openFolder(QFileInfo(written ? output : model()->entry(row).SourcePath).path());
}

void TMainForm::saveReport()
{
    QString path;
    if (m_reportFile)
        path = m_reportFile();
    else
        path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save report"),
            QDir(m_session->options().outputDir).filePath(QStringLiteral("report.jsonl")),
            QStringLiteral("JSON Lines (*.jsonl);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(m_session->report()) >= 0 && file.commit())
        return;
    notify(QStringLiteral("Cannot write the report %1: %2").arg(path, file.errorString()));
}

QString TMainForm::namingExample(const QString &outputDir, const NamingOptions &naming) const
{
    return QDir::toNativeSeparators(m_session->examplePath(outputDir, naming));
}

void TMainForm::clearLastBatch()
{
    setProgressInfo(QString());
    if (m_batchEndShown) {
        m_batchEndShown = false;
        ShowProgress(0, 100);
    }
}

void TMainForm::showAddProgress()
{
    if (m_session->isAdding()) {
        m_addShown = true;
        setProgressInfo(
            QStringLiteral("Adding %1 of %2")
                .arg(countText(m_session->addDone()), countText(m_session->addQueued())));
    } else if (m_addShown) {
        m_addShown = false;
        setProgressInfo(QString());
    }
}

void TMainForm::setProgressInfo(const QString &text)
{
    if (text == m_progressInfo)
        return;
    m_progressInfo = text;
    if (m_progressInfoElement) {
        m_progressInfoElement->SetElementText(text);
        m_progressInfoElement->RedrawElement();
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
    m_progressInfoElement = skinWindow->FindElement(ProgressInfoName);
    if (m_progressInfoElement) {
        m_progressInfoElement->SetElementText(m_progressInfo);
        m_progressInfoElement->RedrawElement();
    }
    m_progressLeftElement = skinWindow->FindElement(QStringLiteral("pbleft"));
    for (const auto &c : CommandTips)
        m_skin->setElementToolTip(QString::fromLatin1(c.name), QString::fromLatin1(c.tip));
    // Formats without an element of their own are offered by the "more" element's menu.
    delete m_moreMenu;
    m_moreMenu = new QMenu(this);
    m_moreMenu->setObjectName(QStringLiteral("MoreMenu"));
    m_moreMenu->setToolTipsVisible(true);
    QStringList inMenu;
    for (const TargetFormat &format : TargetFormats()) {
        m_skin->setElementToolTip(format.command, convertTip(format));
        if (skinWindow->FindElement(format.command))
            continue;
        QAction *action = m_moreMenu->addAction(format.name);
        action->setObjectName(format.command);
        action->setToolTip(convertTip(format));
        const QString command = format.command;
        connect(action, &QAction::triggered, this, [this, command] { DispatchCommand(command); });
        inMenu << format.name;
    }
    m_skin->setElementToolTip(QStringLiteral("more"),
                              QStringLiteral("More formats: ") + inMenu.join(QStringLiteral(", ")));
    const QString sheet = m_skin->styleSheet();
    if (!sheet.isEmpty()) {
        for (QWidget *w : {static_cast<QWidget *>(ListView1), static_cast<QWidget *>(OutputLabel),
                           static_cast<QWidget *>(OpenOutputButton)})
            w->setStyleSheet(sheet);
        // The drop-down lists keep their own rules after the skin's.
        for (DropDownList *combo : {suiComboBox1, suiComboBox2, suiComboBox3})
            combo->setStyleSheet(sheet + QLatin1Char('\n') + DropDownList::ownStyleSheet());
    }
    fitColumns();
    anchorWidgets();
    showOutputDir();
}

void TMainForm::ShowProgress(int done, int total)
{
    drawProgress(done, total);
}

void TMainForm::ShowBatchProgress(int done, int total, int secondsLeft)
{
    drawProgress(done, total, secondsLeft);
}

void TMainForm::showSessionProgress(int done, int total, int secondsLeft)
{
    if (secondsLeft < 0 && !m_session->showsWholeBatch())
        ShowProgress(done, total);
    else
        ShowBatchProgress(done, total, secondsLeft);
}

QRect TMainForm::progressBand() const
{
    if (!m_progressBarElement)
        return QRect(QPoint(ProgressGeometry::Left, ProgressGeometry::Top),
                     QPoint(ProgressGeometry::Left + ProgressGeometry::FullWidth - 1,
                            ProgressGeometry::Bottom - 1));
    const QRectF band = m_progressBarElement->pictureBounds();
    return QRect(QPoint(qRound(band.left()), qRound(band.top())),
                 QPoint(qRound(band.right()) - 1, qRound(band.bottom()) - 1));
}

void TMainForm::drawProgress(int done, int total, int secondsLeft)
{
    const QRect band = progressBand();
    const std::optional<ProgressFrame> found =
        ProgressFrameFor(done, total, band.left(), band.width());
    if (!found)
        return; // a report past the probed duration changes nothing
    const ProgressFrame &frame = *found;
    m_progress = {done, total, secondsLeft};
    m_progressText = BatchProgressText(frame.text, secondsLeft);
    m_progressRight = frame.right;
    // The time left has a place of its own where the skin gives one; else it follows the
    // percentage.
    if (m_progressLeftElement) {
        m_progressLeftElement->SetElementText(TimeLeftText(secondsLeft));
        m_progressLeftElement->RedrawElement();
    }
    if (m_progressTextElement) {
        m_progressTextElement->SetElementText(m_progressLeftElement ? frame.text : m_progressText);
        m_progressTextElement->RedrawElement();
    }
    if (m_progressBarElement) {
        m_progressBarElement->SetElementRect(band.left(), band.top(), frame.right,
                                             band.bottom() + 1);
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
        {"more", true, [this] { showMoreMenu(); }},
        {"settings", false, [this] { showSettings(); }},
        {"stop", false, [this] { stop(); }},
    };
    for (const Command &c : commands) {
        if (name != QLatin1String(c.name))
            continue;
        if (c.gated && IdleFlag() != 1)
            return;
        clearLastBatch();
        c.run();
        return;
    }
    if (const TargetFormat *format = TargetFormatForCommand(name)) {
        if (IdleFlag() == 1) {
            clearLastBatch();
            StartConversion(*format);
        }
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
    setCommandRunning(true);
    QStringList chosen = chooseFiles();
    for (QString &path : chosen)
        path = QFileInfo(path).absoluteFilePath();
    // The dialog returns them in no order a person chose ("10 x" before "2 x", or the
    // focused file first).
    SortNaturally(chosen);
    m_session->addFiles(chosen);
    showAddProgress();
    setCommandRunning(false);
}

void TMainForm::AddFolder()
{
    setCommandRunning(true);
    QString picked;
    bool subfolders = false;
    if (dirForm) {
        dirForm->setWindowTitle(QStringLiteral("Add File Directory"));
        const bool remembered = m_settings->readIncludeSubfolders();
        dirForm->setSubfolderChoice(true, remembered);
        dirForm->exec();
        picked = dirForm->PickedFolder();
        subfolders = dirForm->includeSubfolders();
        dirForm->setSubfolderChoice(false);
        // Kept for the next "Add folder"; a settings file that cannot be written only
        // loses the choice, the add goes on.
        if (!picked.isEmpty() && subfolders != remembered)
            m_settings->writeIncludeSubfolders(subfolders, nullptr);
    }
    QStringList skipped;
    const QStringList files = picked.isEmpty()
                                  ? QStringList()
                                  : ScanFolder(picked, subfolders, m_session->rawNames(), &skipped);
    if (!skipped.isEmpty())
        notify(QStringLiteral("These files could not be added:\n") +
               skipped.join(QLatin1Char('\n')));
    m_session->addFiles(files, picked);
    showAddProgress();
    setCommandRunning(false);
}

void TMainForm::RemoveSelected()
{
    setCommandRunning(true);
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    if (!selected.isEmpty() && model()->rowCount() > 0) {
        model()->removeEntry(selected.first().row());
        if (model()->rowCount() > 0)
            ListView1->selectRow(0);
    }
    setCommandRunning(false);
}

void TMainForm::ClearList()
{
    setCommandRunning(true);
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                    QStringLiteral("Are you sure to remove all the files from filelist?\r"
                                   "Not delete from your computer."),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    if (box.exec() == QMessageBox::Ok)
        model()->clear();
    setCommandRunning(false);
}

void TMainForm::EditTags(int row)
{
    if (!ID3Form)
        return;
    ID3Form->setStartRow(row);
    ID3Form->exec();
    ListView1->viewport()->update();
    if (model()->rowCount() > 0)
        ListView1->selectRow(0);
}

void TMainForm::openTagEditorAt(int row)
{
    if (IdleFlag() != 1)
        return;
    clearLastBatch();
    EditTags(std::max(0, row));
}

void TMainForm::showSettings()
{
    if (!SetForm)
        return;
    // Greyed only while a batch runs: an add does not read the output folder.
    const ConversionOptions &options = m_session->options();
    SetForm->prepare(options.outputDir, options.finishAction, m_session->isConverting(),
                     options.jobsAtOnce);
    SetForm->setNaming(options.naming);
    SetForm->setTagOptions(options.tags);
    SetForm->exec();
}

void TMainForm::StartConversion(const TargetFormat &format)
{
    setCommandRunning(true);
    if (confirmSameOutputs(format))
        m_converting = m_session->startConversion(format);
    setCommandRunning(false);
}

bool TMainForm::confirmSameOutputs(const TargetFormat &format)
{
    // Fine when meant, but under Replace only the last output of each file remains and
    // under Skip only the first is written, so ask first.
    const QVector<SameOutputGroup> groups = SameOutputGroups(m_session->planOutputs(format));
    if (groups.isEmpty())
        return true;
    QStringList sources;
    for (int row = 0; row < model()->rowCount(); ++row)
        sources << QFileInfo(model()->entry(row).SourcePath).fileName();
    SameOutputDialog box(groups, m_session->options().naming.existing, sources, this);
    return box.exec() == QDialog::Accepted;
}

bool TMainForm::confirmQuit()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Wavetransmuter"),
                    m_session->isConverting()
                        ? QStringLiteral("A batch is converting. Stop it and quit?\n\nThe files "
                                         "being converted are not finished; those written "
                                         "before stay.")
                        : QStringLiteral("Files are being added. Stop and quit?"),
                    QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("QuitBox"));
    QPushButton *quit = box.addButton(QStringLiteral("&Stop and quit"), QMessageBox::AcceptRole);
    quit->setObjectName(QStringLiteral("StopAndQuitButton"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == quit;
}

void TMainForm::stop()
{
    m_session->stop();
    m_converting = false; // its end is told later; the gate opens now
    updateGate();
}

void TMainForm::onBatchEnded(const BatchTally &tally)
{
    m_converting = false;
    m_batchEndShown = !tally.wasStopped; // the band stays full until the next command
    if (m_batchEndShown)
        drawProgress(m_progress.done, m_progress.total); // no "0:00 left" on a finished batch
    if (SetForm)
        SetForm->setBatchRunning(false);
    setProgressInfo(tally.text());
    if (!tally.wasStopped)
        runFinishAction();
}

void TMainForm::runFinishAction()
{
    switch (m_session->options().finishAction) {
    case EndAction::OpenFolder:
        openOutputDir();
        break;
    case EndAction::Shutdown: {
        // Not at once: whoever is at the screen may still save other work or say no.
        auto *countdown = new ShutdownCountdown(m_shutdownSeconds, this);
        connect(countdown, &QDialog::accepted, this, [] { RunShutdownCommand(); });
        connect(countdown, &QDialog::finished, countdown, &QObject::deleteLater);
        countdown->open();
        break;
    }
    case EndAction::Nothing:
        break;
    }
}

void TMainForm::suiComboBox1Change(int index)
{
    EncodingProfile profile = m_session->options().profile;
    profile.SampleRate = ProfileTables::sampleRateAt(index);
    takeProfile(profile);
}

void TMainForm::suiComboBox2Change(int index)
{
    EncodingProfile profile = m_session->options().profile;
    profile.Bitrate = ProfileTables::bitrateAt(index);
    takeProfile(profile);
}

void TMainForm::suiComboBox3Change(int index)
{
    EncodingProfile profile = m_session->options().profile;
    profile.Channels = ProfileTables::channelsAt(index);
    takeProfile(profile);
}

void TMainForm::takeProfile(const EncodingProfile &profile)
{
    m_session->setProfile(profile);
    // A settings file that cannot be written only loses the choice for the next run.
    m_settings->writeProfile(profile, nullptr);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Running files would be lost: only when the user says so.
    if (!m_session->isIdle() && !confirmQuit()) {
        event->ignore();
        return;
    }
    // As "Stop" stops: the encoders end, their work files go, earlier outputs stay; and
    // none outlives the window.
    m_session->shutdown();
    m_pendingPaths.clear();
    // The next start opens where this one was; a settings file that cannot be
    // written costs only that.
    if (m_shown)
        savePlace();
    event->accept();
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event)
{
    // While busy a drop would be dropped like any gated command: say so with the cursor.
    if (event->mimeData()->hasUrls() && IdleFlag() == 1)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    if (IdleFlag() != 1) {
        event->ignore(); // dropped like any gated command
        return;
    }
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
    if (m_pendingPaths.isEmpty() || IdleFlag() != 1)
        return; // the gate's opening brings them back here
    // A modal dialog (tags, settings, a message) counts as busy: they wait until it closes.
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
        connect(dialog, &QDialog::finished, this, &TMainForm::updateGate, Qt::SingleShotConnection);
        return;
    }
    // Each folder's files with the folder, for "Keep folder structure"; files by themselves.
    QVector<QPair<QStringList, QString>> groups;
    for (const QString &path : std::as_const(m_pendingPaths)) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QString folder = QDir::cleanPath(info.absoluteFilePath());
            groups.append({ScanFolder(folder, false, m_session->rawNames()), folder});
        } else if (info.isFile() && matchesOpenDialogFilter(info.fileName())) {
            if (groups.isEmpty() || !groups.last().second.isEmpty())
                groups.append({{}, QString()});
            groups.last().first << info.absoluteFilePath();
        }
    }
    m_pendingPaths.clear();
    if (std::all_of(groups.begin(), groups.end(), [](const auto &g) { return g.first.isEmpty(); }))
        return;
    clearLastBatch();
    for (const auto &[files, folder] : std::as_const(groups))
        m_session->addFiles(files, folder);
    showAddProgress();
    updateGate();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const auto modifiers = static_cast<QKeyEvent *>(event)->modifiers();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openTagEditorAt(ListView1->currentIndex().row());
            return true;
        }
        // A table's own Home and End go along the row, which here is the same row.
        if ((key == Qt::Key_Home || key == Qt::Key_End) &&
            !(modifiers & (Qt::ShiftModifier | Qt::AltModifier))) {
            moveToEnd(key == Qt::Key_End);
            return true;
        }
    }
    if (watched == ListView1->viewport()) {
        // Drops on the list are the window's drops.
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (drag->mimeData()->hasUrls() && IdleFlag() == 1)
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        } else if (event->type() == QEvent::Drop) {
            dropEvent(static_cast<QDropEvent *>(event));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
