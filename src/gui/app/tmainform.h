#pragma once

#include "core/convert/encodingprofile.h"
#include "core/convert/endaction.h"
#include "core/convert/outputnaming.h"
#include "core/convert/progressmeter.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class BatchSequencer;
class DropDownList;
class FileAdder;
class JobListModel;
class QComboBox;
class QMenu;
class RawNameLinks;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class SettingsStore;
class SkinElement;
class TdirForm;
class TID3Form;
class TID3v1;
class TSetForm;
class TSkin;
struct TargetFormat;

// The main window. Its face is drawn by the skin; the job list and the three
// profile lists sit on it. Every command arrives by name through DispatchCommand.
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

    JobListModel *model() const { return m_model; }
    BatchSequencer *sequencer() const { return m_sequencer; }
    FileAdder *adder() const { return m_adder; }
    TSkin *skin() const { return m_skin; }

    // What the program reads from and writes to while it runs.
    quint8 IdleFlag = 0;
    EndAction FinishAction = EndAction::Nothing;
    EncodingProfile Profile;
    QString EncoderPath;
    QString OutputDir;
    NamingOptions Naming; // how outputs are named, kept in the settings file
    int JobsAtOnce = 1;   // conversions at once, from the next batch on

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
    // What the progress band says of the last batch ("5 converted, 1 failed"), until the
    // next command.
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
    void fitColumns();
    // IdleFlag, and the gated commands' look in the skin with it.
    void setIdleFlag(quint8 idle);
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
    // Asks whether to go on when rows would write the same output file; true to go on.
    bool confirmSameOutputs(const TargetFormat &format);

    void AddFiles();
    void AddFolder();
    void RemoveSelected();
    void ClearList();
    // The tag editor, opened on the given row.
    void EditTags(int row = 0);
    // Gated as "id3" is.
    void editTagsAt(int row);
    void showSettings();
    void StartConversion(const TargetFormat &format);
    void stop();
    // `baseFolder`: the folder a folder add took the files from (for "Keep folder structure").
    void addPaths(const QStringList &paths, const QString &baseFolder = QString());
    void addPendingPaths();
    void onAddFinished();
    void onBatchFinished();
    void drawProgress(const ProgressFrame &frame, int secondsLeft = -1);
    bool showsWholeBatch() const;
    void runFinishAction();
    QStringList chooseFiles();
    void notify(const QString &text);

    void suiComboBox1Change(int index);
    void suiComboBox2Change(int index);
    void suiComboBox3Change(int index);

    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<TID3v1> m_tag;
    std::unique_ptr<RawNameLinks> m_rawNames; // lives as long as the rows that use its links
    JobListModel *m_model = nullptr;
    FileAdder *m_adder = nullptr;
    BatchSequencer *m_sequencer = nullptr;
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
    QString m_skinPath;
    QString m_startupError;
    QString m_progressText;
    int m_progressRight = ProgressGeometry::Left;
    QString m_progressInfo;
    int m_shutdownSeconds = 30;
    // What the running batch has done so far.
    int m_converted = 0;
    int m_failed = 0;
    int m_skipped = 0;
    QMenu *m_moreMenu = nullptr;
    QMenu *m_listMenu = nullptr;
    std::function<QString()> m_reportFile;
    std::function<QStringList()> m_openFiles;
    std::function<void(const QString &)> m_openFolder;
    std::function<void(const QString &)> m_notice;
    QStringList m_pendingPaths;
    QTimer *m_pendingTimer = nullptr;
};
