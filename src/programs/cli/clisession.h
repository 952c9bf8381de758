#pragma once

#include "programs/cli/clioptions.h"

#include <QEventLoop>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

class ConversionSession;
class JobListModel;
class RawNameLinks;
class ReportFile;

// One run of the command-line front end: rows are made and converted by the same
// conversion session the desktop program drives, without any window. What is its own: the
// arguments, the terminal's lines, the report file and the exit status.
class CliSession : public QObject
{
    Q_OBJECT
public:
    // `links` reaches the files whose names are not valid UTF-8; paths are printed as the
    // user gave them, not as the links that reach them.
    CliSession(const CliOptions &options, RawNameLinks *links, QObject *parent = nullptr);
    ~CliSession() override;

    // Runs to the end and returns the exit status: 0 every row "Finish", 1 any row not,
    // 2 bad usage or no encoder, 130 interrupted, 141 standard output or the report closed.
    int run();

private:
    bool chooseOutputDir(QString &error);
    // Each PATH's files with the folder they came from (empty for a file given itself).
    struct Files
    {
        QStringList paths;
        QString baseFolder;
    };
    bool collectFiles(QVector<Files> &files, QString &error) const;
    void keepShard(QVector<Files> &files) const;
    // Exit status 2 with `error` said, and the output folder removed again when this run
    // made it and left it empty.
    int refuse(const QString &error);
    bool openReport(QString &error);
    int dryRun();
    int convert();
    // Stops the batch as the window's "stop" does; the run then exits with `status`.
    void stop(int status);
    // A line could not go to standard output or the report (`what`): EPIPE, its reader has
    // gone, stops the batch as an interrupt does.
    void lostOutput(const QString &what, int error);
    void showProgress(int done, int total, int secondsLeft);
    void writeProgressLine(const QByteArray &line);
    void onJobEnded(int row);
    void printHeldLines(bool all);
    void clearProgressLine();
    QByteArray shown(const QString &path) const;

    CliOptions m_options;
    RawNameLinks *m_links;
    ConversionSession *m_session;
    JobListModel *m_model;
    QEventLoop m_loop;
    ReportFile *m_report = nullptr; // --report FILE
    bool m_reportToStdout = false;  // --report -
    bool m_stdoutLost = false;      // nothing more is written where a write failed
    bool m_reportLost = false;
    QString m_madeOutputDir; // made by this run, removed again when the run is refused
    bool m_interrupted = false;
    int m_stopStatus = 0;
    bool m_progressToTerminal = false;
    bool m_progressShown = false;
    int m_currentRow = -1;
    int m_endedRows = 0;
    // --keep-order: what ended rows print, held until every earlier row has printed.
    struct Held
    {
        QByteArray line;
        QByteArray source;
        QString reason; // for standard error; empty when there is nothing to say
    };
    QMap<int, Held> m_held;
    int m_nextToPrint = 0;
};
