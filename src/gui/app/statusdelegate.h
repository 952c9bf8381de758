#pragma once

#include <QStyledItemDelegate>

// Colours the "Status" column so that a failed or stopped row stands out.
class StatusDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
