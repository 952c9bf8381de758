#pragma once

#include "core/convert/outputplan.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

class JobListModel;

// The file that --report writes. What is at its path is looked at first without opening it
// for writing (an O_PATH descriptor), so that it can be compared with the run's sources and
// outputs as files, and nothing is truncated when the run is refused. Only a regular file, a
// FIFO, or nothing (then it is made, never through a link) is taken.
//
// An existing file is truncated through the descriptor that was checked when the run starts,
// not replaced by a new file renamed over it: the file keeps its owner, mode and links, works
// in a folder the user may not write, `tail -f` goes on reading it, and no one can swap
// another file in between the check and the truncation.
class ReportFile : public QObject
{
    Q_OBJECT
public:
    explicit ReportFile(const QString &path, QObject *parent = nullptr);
    ~ReportFile() override;

    const QString &path() const { return m_path; }
    bool isFifo() const { return m_fifo; }

    // Takes what is at the path now. False, with *error saying why, for anything but a
    // regular file or a FIFO, a link to nothing, or a missing file in a missing folder.
    bool inspect(QString *error);
    // Why the report must not go where it is: it is the source of a row, or the output a row
    // writes (an existing one as a file, one not written yet by its name in its folder).
    // Empty when it may. After inspect().
    QString conflict(const JobListModel &model, const QVector<PlannedOutput> &plan) const;

    enum class Open
    {
        Opened,
        // A FIFO without a reader: tried again from the event loop (which goes on taking
        // signals) until one comes, then opened() or failed().
        Waiting,
        Changed, // something else is at the path since inspect(): inspect and check again
        Failed,
    };
    Open open(QString *error);
    // Ends a wait for a FIFO's reader: nothing will be written.
    void cancel();
    // Empties an existing regular file, as the run starts writing.
    bool begin(QString *error);
    // See WriteLine(): 0, or the errno of the failure.
    int writeLine(const QByteArray &line);

signals:
    void opened();
    void failed(const QString &error);

private:
    QString procPath() const;
    QString failure(int error) const;
    int openFifo();
    void retryFifo();

    QString m_path;
    int m_inspected = -1; // O_PATH, while the report exists
    int m_fd = -1;
    bool m_fifo = false;
    QTimer m_retry; // a FIFO opened without blocking fails until its reader is there
};
