#include "gui/dropdownlist.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QWheelEvent>

namespace {

// Draws the items of the open list with room at the left, where the current one has a tick.
class CurrentItemDelegate : public QStyledItemDelegate
{
public:
    CurrentItemDelegate(QComboBox *combo) : QStyledItemDelegate(combo), m_combo(combo) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted = option;
        shifted.rect.adjust(TickRoom, 0, 0, 0);
        // The background (hover, selection) still spans the whole row.
        QStyleOptionViewItem background = option;
        background.text.clear();
        initStyleOption(&background, index);
        background.text.clear();
        const QWidget *view = option.widget;
        QStyle *style = view ? view->style() : m_combo->style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, view);
        QStyledItemDelegate::paint(painter, shifted, index);
        if (index.row() != m_combo->currentIndex())
            return;
        const QRectF r = option.rect;
        const qreal size = std::min<qreal>(r.height() * 0.5, 9);
        const QPointF origin(r.left() + (TickRoom - size) / 2, r.center().y() - size / 2);
        QPainterPath tick;
        tick.moveTo(origin + QPointF(0, size * 0.55));
        tick.lineTo(origin + QPointF(size * 0.38, size * 0.92));
        tick.lineTo(origin + QPointF(size, size * 0.08));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(
            QPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1.6,
                 Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPath(tick);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(TickRoom, 0);
    }

private:
    static constexpr int TickRoom = 18;
    QComboBox *m_combo;
};

} // namespace

DropDownList::DropDownList(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    // The wheel must not take the focus (and with it the choice) on its way past.
    setFocusPolicy(Qt::StrongFocus);
    setItemDelegate(new CurrentItemDelegate(this));
    // A list popup rather than a menu as tall as the screen, so that maxVisibleItems()
    // holds. A style sheet set later must keep this rule (add it after its own).
    setStyleSheet(ownStyleSheet());
}

QString DropDownList::ownStyleSheet()
{
    return QStringLiteral("QComboBox { combobox-popup: 0; }");
}

void DropDownList::wheelEvent(QWheelEvent *event)
{
    if (!hasFocus()) {
        event->ignore(); // to the window beneath, as if the list were not there
        return;
    }
    QComboBox::wheelEvent(event);
}
