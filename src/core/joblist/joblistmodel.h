#pragma once

#include "core/joblist/jobrun.h"
#include "core/joblist/jobstatus.h"
#include "core/tags/id3info.h"

#include <QAbstractTableModel>
#include <QVector>

#include <optional>

// The job list: one ID3info per row, with its duration in seconds, its output's size in
// bytes (estimated, or the real one once converted) and its status. The column texts
// ("00:03:25", "3.43MB", "Converting 42%") are made only for showing. Rows and their
// entries live in one array, so they cannot get out of step however commands nest. Every
// row also has an id that never repeats, which lets a job or an add that outlives a list
// change find its own row again (or learn that it is gone).
class JobListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        TitleColumn,
        TimeColumn,
        SizeColumn,
        StatusColumn,
        ColumnCount
    };

    enum Role
    {
        // The row's JobStatus (as int), whatever the "Status" column's text says.
        StatusRole = Qt::UserRole + 1
    };

    explicit JobListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Appends a row with status "Unconvert", its size estimated from its duration at the
    // given bitrate; returns its id.
    quint64 appendEntry(const ID3info &entry, std::optional<int> seconds = std::nullopt,
                        qint64 estimateBitsPerSecond = 0);
    void removeEntry(int row);
    void clear();

    const ID3info &entry(int row) const { return m_rows.at(row).entry; }
    void setEntry(int row, const ID3info &entry);
    QVector<ID3info> FileEntries() const;

    // The duration; nothing while it is not known.
    std::optional<int> seconds(int row) const { return m_rows.at(row).seconds; }
    // The output's size: the estimate, or the real size once the row has one (hasRealSize).
    qint64 sizeBytes(int row) const { return m_rows.at(row).bytes; }
    bool hasRealSize(int row) const { return m_rows.at(row).realSize; }
    JobStatus status(int row) const { return m_rows.at(row).status; }
    QString reason(int row) const { return m_rows.at(row).reason; }
    quint64 rowId(int row) const { return m_rows.at(row).id; }
    int rowOfId(quint64 id) const; // -1 when the row is gone

    // Also forgets the row's progress.
    void setStatus(int row, JobStatus status, const QString &reason = QString());
    // How far a converting row is, 0 to 100; the "Status" column shows it ("Converting 42%").
    // Kept per row, so that rows converting side by side each show their own.
    void setProgress(int row, int percent);
    int progress(int row) const { return m_rows.at(row).percent; } // -1: none reported
    // The duration learnt later (from the encoder), with the size estimated anew from it.
    void setSeconds(int row, int seconds, qint64 estimateBitsPerSecond);
    const JobRun &run(int row) const { return m_rows.at(row).run; }
    void setRun(int row, const JobRun &run) { m_rows[row].run = run; }
    // The size of the file a finished row wrote; RecomputeSizes() leaves it alone.
    void setOutputSize(int row, qint64 bytes);
    // Every row's size estimated from its duration at the given bitrate; rows that show the
    // size of their finished output keep it, unless told otherwise (a new batch).
    void RecomputeSizes(qint64 bitsPerSecond, bool keepRealSizes = true);

private:
    struct Row
    {
        quint64 id = 0;
        ID3info entry;
        std::optional<int> seconds;
        qint64 bytes = 0;
        JobStatus status = JobStatus::Unconvert;
        QString reason; // why the row failed, or a note on its output; shown as its tooltip
        int percent = -1;
        bool realSize = false; // size is the finished output's, not an estimate
        JobRun run;
    };
    void emitRowChanged(int row, int firstColumn, int lastColumn);

    QVector<Row> m_rows;
    quint64 m_nextId = 1;
};
