#include "core/joblist/joblistmodel.h"

#include "core/base/durationtext.h"
#include "core/base/sizeestimate.h"
#include "core/joblist/failuretext.h"
#include "core/tags/tagtext.h"

#include <QDir>

JobListModel::JobListModel(QObject *parent) : QAbstractTableModel(parent) {}

int JobListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int JobListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JobListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case TitleColumn:
            return TagTextToDisplay(row.entry.Title);
        case TimeColumn:
            return DurationText(row.seconds);
        case SizeColumn:
            return SizeText(row.bytes);
        case StatusColumn:
            if (row.status == JobStatus::Converting && row.percent >= 0)
                return JobStatusText(row.status) + QLatin1Char(' ') + QString::number(row.percent) +
                       QLatin1Char('%');
            return JobStatusText(row.status);
        }
    } else if (role == StatusRole) {
        return int(row.status);
    } else if (role == Qt::ToolTipRole) {
        const QString reason =
            row.status == JobStatus::Failed ? ExplainedReason(row.reason) : row.reason;
        if (index.column() == TitleColumn) {
            const QString path = QDir::toNativeSeparators(row.entry.SourcePath);
            return reason.isEmpty() ? path : path + QStringLiteral("\n\n") + reason;
        }
        if (!reason.isEmpty())
            return reason;
    }
    return {};
}

QVariant JobListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TitleColumn:
        return QStringLiteral("File Title");
    case TimeColumn:
        return QStringLiteral("Time");
    case SizeColumn:
        return QStringLiteral("Size");
    case StatusColumn:
        return QStringLiteral("Status");
    }
    return {};
}

Qt::ItemFlags JobListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

quint64 JobListModel::appendEntry(const ID3info &entry, std::optional<int> seconds,
                                  qint64 estimateBitsPerSecond)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    Row r;
    r.id = m_nextId++;
    r.entry = entry;
    r.seconds = seconds;
    r.bytes = EstimateBytes(seconds, estimateBitsPerSecond);
    m_rows.append(r);
    endInsertRows();
    return r.id;
}

void JobListModel::removeEntry(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void JobListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void JobListModel::setEntry(int row, const ID3info &entry)
{
    m_rows[row].entry = entry;
    emitRowChanged(row, TitleColumn, TitleColumn);
}

QVector<ID3info> JobListModel::FileEntries() const
{
    QVector<ID3info> entries;
    entries.reserve(m_rows.size());
    for (const Row &r : m_rows)
        entries.append(r.entry);
    return entries;
}

int JobListModel::rowOfId(quint64 id) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).id == id)
            return i;
    }
    return -1;
}

void JobListModel::setStatus(int row, JobStatus status, const QString &reason)
{
    m_rows[row].status = status;
    m_rows[row].reason = reason;
    m_rows[row].percent = -1;
    emitRowChanged(row, TitleColumn, StatusColumn);
}

void JobListModel::setProgress(int row, int percent)
{
    percent = qBound(0, percent, 100);
    if (m_rows.at(row).percent == percent)
        return;
    m_rows[row].percent = percent;
    emitRowChanged(row, StatusColumn, StatusColumn);
}

void JobListModel::setSeconds(int row, int seconds, qint64 estimateBitsPerSecond)
{
    Row &r = m_rows[row];
    r.seconds = seconds;
    r.bytes = EstimateBytes(seconds, estimateBitsPerSecond);
    r.realSize = false;
    emitRowChanged(row, TimeColumn, SizeColumn);
}

void JobListModel::setOutputSize(int row, qint64 bytes)
{
    m_rows[row].bytes = bytes;
    m_rows[row].realSize = true;
    emitRowChanged(row, SizeColumn, SizeColumn);
}

void JobListModel::RecomputeSizes(qint64 bitsPerSecond, bool keepRealSizes)
{
    if (m_rows.isEmpty())
        return;
    for (Row &r : m_rows) {
        if (r.realSize && keepRealSizes)
            continue;
        r.bytes = EstimateBytes(r.seconds, bitsPerSecond);
        r.realSize = false;
    }
    emit dataChanged(index(0, SizeColumn), index(int(m_rows.size()) - 1, SizeColumn));
}

void JobListModel::emitRowChanged(int row, int firstColumn, int lastColumn)
{
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}
