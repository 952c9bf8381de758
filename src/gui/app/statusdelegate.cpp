#include "gui/app/statusdelegate.h"

#include "core/joblist/joblistmodel.h"

void StatusDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
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
