#pragma once

#include "programs/cli/clioptions.h"

#include <QEventLoop>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

#include <cstdio>

class ConversionSession;
class JobListModel;
class RawNameLinks;

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
    // 2 bad usage or no encoder, 130 interrupted.
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
    bool openReport(QString &error);
    int dryRun();
    int convert();
    void onSignal();
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
    FILE *m_report = nullptr; // the --report stream, standard output for "-"
    bool m_interrupted = false;
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
