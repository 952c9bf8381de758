#include "gui/skin/skinplacement.h"

#include <algorithm>
#include <cmath>

namespace {

// Far enough to stand for "no end" in a window's coordinates.
constexpr double Far = 1e6;

} // namespace

bool SkinPlacement::Axis::stretches() const
{
    return from1 > from0 && (to1 - to0) != (from1 - from0);
}

double SkinPlacement::Axis::map(double v) const
{
    if (v <= from0)
        return v + (to0 - from0);
    if (v >= from1)
        return v + (to1 - from1);
    return to0 + (v - from0) * (to1 - to0) / (from1 - from0);
}

double SkinPlacement::Axis::unmap(double v) const
{
    if (v <= to0)
        return v - (to0 - from0);
    if (v >= to1)
        return v - (to1 - from1);
    return from0 + (v - to0) * (from1 - from0) / (to1 - to0);
}

SkinPlacement::Axis SkinPlacement::pictureAxis(double low, double high, double sliceLow,
                                               double sliceHigh, bool nearEdge, bool farEdge,
                                               double growth)
{
    if (!farEdge)
        return Axis::moved(0);
    if (!nearEdge)
        return Axis::moved(growth);
    // The zone between the slices stretches. Its ends lie on whole pixels, so that the parts
    // meet without a seam; slices that leave no room stretch the whole picture.
    double from0 = std::round(low + sliceLow);
    double from1 = std::round(high - sliceHigh);
    if (from1 <= from0) {
        from0 = low;
        from1 = high;
    }
    if (from1 <= from0)
        return Axis::moved(0);
    // A window smaller than the skin squeezes the zone to nothing, never further.
    return {from0, from1, from0, std::max(from0, from1 + growth)};
}

SkinPlacement SkinPlacement::forPicture(const QRectF &bounds, Qt::Edges anchors,
                                        const QMarginsF &slice, const QSizeF &growth)
{
    SkinPlacement placement;
    placement.m_x = pictureAxis(bounds.left(), bounds.right(), slice.left(), slice.right(),
                                anchors.testFlag(Qt::LeftEdge), anchors.testFlag(Qt::RightEdge),
                                growth.width());
    placement.m_y = pictureAxis(bounds.top(), bounds.bottom(), slice.top(), slice.bottom(),
                                anchors.testFlag(Qt::TopEdge), anchors.testFlag(Qt::BottomEdge),
                                growth.height());
    return placement;
}

SkinPlacement SkinPlacement::forText(Qt::Edges anchors, const QSizeF &growth)
{
    auto offset = [](bool nearEdge, bool farEdge, double g) {
        return farEdge ? (nearEdge ? g / 2 : g) : 0.0;
    };
    SkinPlacement placement;
    placement.m_x = Axis::moved(
        offset(anchors.testFlag(Qt::LeftEdge), anchors.testFlag(Qt::RightEdge), growth.width()));
    placement.m_y = Axis::moved(
        offset(anchors.testFlag(Qt::TopEdge), anchors.testFlag(Qt::BottomEdge), growth.height()));
    return placement;
}

bool SkinPlacement::isIdentity() const
{
    return !m_x.stretches() && !m_y.stretches() && m_x.to0 == m_x.from0 && m_y.to0 == m_y.from0;
}

QPointF SkinPlacement::map(const QPointF &point) const
{
    return QPointF(m_x.map(point.x()), m_y.map(point.y()));
}

QRectF SkinPlacement::mapRect(const QRectF &rect) const
{
    return QRectF(map(rect.topLeft()), map(rect.bottomRight()));
}

QPointF SkinPlacement::unmap(const QPointF &point) const
{
    return QPointF(m_x.unmap(point.x()), m_y.unmap(point.y()));
}

QRectF SkinPlacement::unmapRect(const QRectF &rect) const
{
    return QRectF(unmap(rect.topLeft()), unmap(rect.bottomRight()));
}

QList<SkinPlacement::Piece> SkinPlacement::pieces(const Axis &axis)
{
    if (!axis.stretches())
        return {{-Far, Far, 1, axis.to0 - axis.from0}};
    QList<Piece> list = {{-Far, axis.to0, 1, axis.to0 - axis.from0}};
    if (axis.to1 > axis.to0) {
        const double scale = (axis.to1 - axis.to0) / (axis.from1 - axis.from0);
        list.append({axis.to0, axis.to1, scale, axis.to0 - axis.from0 * scale});
    }
    list.append({axis.to1, Far, 1, axis.to1 - axis.from1});
    return list;
}

QList<SkinPlacement::Part> SkinPlacement::parts() const
{
    QList<Part> list;
    const QList<Piece> columns = pieces(m_x);
    const QList<Piece> rows = pieces(m_y);
    for (const Piece &row : rows) {
        for (const Piece &column : columns) {
            list.append({QRectF(QPointF(column.low, row.low), QPointF(column.high, row.high)),
                         QTransform(column.scale, 0, 0, row.scale, column.offset, row.offset)});
        }
    }
    return list;
}
