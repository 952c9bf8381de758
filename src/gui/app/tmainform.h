#pragma once

#include "core/convert/outputnaming.h"
#include "gui/skin/progressmeter.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class ConversionSession;
class DropDownList;
class JobListModel;
class QComboBox;
class QMenu;
class QLabel;
class QPushButton;
class QTableView;
class SettingsStore;
class SkinElement;
class TdirForm;
class TID3Form;
class TSetForm;
class TSkin;
struct BatchTally;
struct EncodingProfile;
struct TargetFormat;

// The main window. Its face is drawn by the skin; the job list and the three
// profile lists sit on it. Every command arrives by name through DispatchCommand. The
// conversion session it drives does the work: the window only shows it and takes commands.
class TMainForm : public QWidget
{
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // The dialogs are created after the main window, as the program starts them.
    void setDialogs(TID3Form *id3Form, TdirForm *dirForm, TSetForm *setForm);
    SettingsStore *settingsStore() const { return m_settings.get(); }

    void DispatchCommand(const QString &name);
    // Adds files and folders as a drop adds them (folders give their media files,
    // other files are kept when the open dialog would offer them). While the window
    // is busy they wait, and are added once it is idle again.
    void addPathsFromOutside(const QStringList &paths);
    void ShowProgress(int done, int total);
    // With several conversions at once the band shows the whole batch, with the time left.
    void ShowBatchProgress(int done, int total, int secondsLeft);

    ConversionSession *session() const { return m_session; }
    JobListModel *model() const;
    TSkin *skin() const { return m_skin; }

    // 1 while the gated commands are accepted: after the first show, while nothing is added
    // or converted and no command is at work.
    quint8 IdleFlag() const;

    // Overrides for tests and for running from unusual places.
    void setSkinPath(const QString &path) { m_skinPath = path; }
    void setOpenFilesProvider(std::function<QStringList()> provider)
    {
        m_openFiles = std::move(provider);
    }
    void setOpenFolderHandler(std::function<void(const QString &)> handler)
    {
        m_openFolder = std::move(handler);
    }
    // Where "Save report..." writes; empty cancels. A file dialog unless replaced.
    void setReportFileProvider(std::function<QString()> provider)
    {
        m_reportFile = std::move(provider);
    }
    // What the window tells the user outside any dialog: a missing encoder at the start, a
    // settings file it refused, files a folder add could not reach. A message box unless
    // replaced (tests record them).
    void setNoticeHandler(std::function<void(const QString &)> handler)
    {
        m_notice = std::move(handler);
    }
    // How long the "Shutdown" end action counts down before it shuts the computer down.
    void setShutdownCountdown(int seconds) { m_shutdownSeconds = seconds; }
    // What went wrong at the first show, if anything (also shown in a message box).
    QString startupError() const { return m_startupError; }
    // What the band says: the percentage, and the time left when it shows one.
    QString progressText() const { return m_progressText; }
    int progressRight() const { return m_progressRight; }
    // What the progress band says of the add under way ("Adding 340 of 2,000") or of the
    // last batch ("5 converted, 1 failed"), until the next command.
    QString progressInfo() const { return m_progressInfo; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormShow();
    void BindSkin();
    QString skinFilePath() const;
    void setupWidgets();

    void setupKeyboard();
    void connectSession();
    // The widgets follow the skin's edges as the window grows.
    void anchorWidgets();
    // The window's size, place and columns from the last run; see PlaceOnScreens().
    void restorePlace();
    void savePlace();
    void fitColumns();
    // The list follows new rows only when it showed its last row before they came.
    void beforeRowsAdded();
    void afterRowsAdded();
    // Home and End in the list: the first and the last row.
    void moveToEnd(bool last);
    // A command of the window's own is at work (a dialog, a question): the gate is closed.
    void setCommandRunning(bool running);
    // The gated commands' look in the skin follows IdleFlag(); paths waiting for the gate
    // are added once it opens.
    void updateGate();
    void showOutputDir();
    void openOutputDir();
    // Through the replaceable open-folder handler, as the end action opens the output folder.
    void openFolder(const QString &dir);
    // The menu of the formats that have no element of their own in the skin, below "more".
    void showMoreMenu();
    // Remove, Tags, Show in folder and Save report..., for the row at `pos` of the list.
    void showListMenu(const QPoint &pos);
    void showInFolder(int row);
    // The last batch's rows as JSON Lines, as the command line's --report writes them.
    void saveReport();
    // The first row's output path with these options (a made-up row when the list is empty).
    QString namingExample(const QString &outputDir, const NamingOptions &naming) const;
    void setProgressInfo(const QString &text);
    // Every command ends what the band says of the last batch: its summary, and its full bar.
    void clearLastBatch();
    // "Adding 340 of 2,000" while an add runs.
    void showAddProgress();
    // Asks whether to go on when rows would write the same output file; true to go on.
    bool confirmSameOutputs(const TargetFormat &format);
    // Asks whether to stop the batch or the add under way and quit; true to quit.
    bool confirmQuit();

    void AddFiles();
    void AddFolder();
    void RemoveSelected();
    void ClearList();
    // The tag editor, opened on the given row.
    void EditTags(int row = 0);
    // A double click, F2 or Enter on a row: gated as "id3" is.
    void openTagEditorAt(int row);
    void showSettings();
    void StartConversion(const TargetFormat &format);
    void stop();
    void addPendingPaths();
    void onBatchEnded(const BatchTally &tally);
    void showSessionProgress(int done, int total, int secondsLeft);
    // Draws done of total on the band as the window's present size lays it out; nothing
    // changes when done exceeds total.
    void drawProgress(int done, int total, int secondsLeft = -1);
    // The band the fill grows along: the "pb" element's whole picture at the present size.
    QRect progressBand() const;
    void runFinishAction();
    QStringList chooseFiles();
    void notify(const QString &text);

    void suiComboBox1Change(int index);
    void suiComboBox2Change(int index);
    void suiComboBox3Change(int index);
    // The profile the lists show, kept for the next run.
    void takeProfile(const EncodingProfile &profile);

    std::unique_ptr<SettingsStore> m_settings;
    ConversionSession *m_session = nullptr;
    TSkin *m_skin = nullptr;
    SkinElement *m_progressBarElement = nullptr;
    SkinElement *m_progressTextElement = nullptr;
    SkinElement *m_progressLeftElement = nullptr; // optional: the time left, beside the band
    SkinElement *m_progressInfoElement = nullptr; // optional: what the last batch did

    QTableView *ListView1 = nullptr;
    DropDownList *suiComboBox1 = nullptr;
    DropDownList *suiComboBox2 = nullptr;
    DropDownList *suiComboBox3 = nullptr;
    QLabel *OutputLabel = nullptr;
    QPushButton *OpenOutputButton = nullptr;

    QPointer<TID3Form> ID3Form;
    QPointer<TdirForm> dirForm;
    QPointer<TSetForm> SetForm;

    bool m_shown = false;
    bool m_ready = false; // the first show bound the skin: commands may run
    bool m_commandRunning = false;
    bool m_converting = false;    // from a batch's start until the window has heard it ended
    bool m_batchEndShown = false; // the band shows a batch run to its end: full
    bool m_followNewRows = false; // the list showed its last row when rows were last added
    bool m_followPending = false; // a scroll to the new last row is queued
    bool m_addShown = false;      // the band says "Adding ..."
    bool m_fittingColumns = false;
    QList<int> m_columnWidths; // of the columns after the title, when set by the user
    quint8 m_shownGate = 2;    // the IdleFlag the skin shows; 2 before the first show
    QString m_skinPath;
    QString m_startupError;
    QString m_progressText;
    int m_progressRight = ProgressGeometry::Left;
    // What the band shows, to draw it again at a new size.
    struct
    {
        int done = 0;
        int total = 100;
        int secondsLeft = -1;
    } m_progress;
    QString m_progressInfo;
    int m_shutdownSeconds = 30;
    QMenu *m_moreMenu = nullptr;
    QMenu *m_listMenu = nullptr;
    std::function<QString()> m_reportFile;
    std::function<QStringList()> m_openFiles;
    std::function<void(const QString &)> m_openFolder;
    std::function<void(const QString &)> m_notice;
    QStringList m_pendingPaths;
};
