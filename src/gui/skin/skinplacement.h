#pragma once

#include <QList>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

// Where a piece of a skin goes in a window larger than the skin: along each axis it keeps
// its distance to the edge it is anchored to, or, anchored to both edges, it stretches. A
// stretched picture keeps its border (the slice) at its own size, so rounded corners and
// lines along the edges stay as drawn; only the part between is scaled. Coordinates are
// the window's: "design" ones as at the skin's own size, "placed" ones as now.
class SkinPlacement
{
public:
    // Leaves everything where it is.
    SkinPlacement() = default;
    // A picture with these bounds (design coordinates) in a window `growth` larger.
    static SkinPlacement forPicture(const QRectF &bounds, Qt::Edges anchors, const QMarginsF &slice,
                                    const QSizeF &growth);
    // A text, which never stretches: anchored to both edges of an axis, it keeps its place
    // relative to the middle.
    static SkinPlacement forText(Qt::Edges anchors, const QSizeF &growth);

    bool isIdentity() const;
    QPointF map(const QPointF &point) const;
    QRectF mapRect(const QRectF &rect) const;
    // From placed coordinates back to design ones.
    QPointF unmap(const QPointF &point) const;
    QRectF unmapRect(const QRectF &rect) const;

    // The parts a picture is drawn in: each maps design coordinates linearly into its
    // target, and the targets tile the plane. One part when nothing stretches.
    struct Part
    {
        QRectF target;
        QTransform transform;
    };
    QList<Part> parts() const;

private:
    // One axis in three pieces: moved by (to0 - from0) before the stretched zone, scaled
    // within it, moved by (to1 - from1) after it.
    struct Axis
    {
        double from0 = 0;
        double from1 = 0;
        double to0 = 0;
        double to1 = 0;

        static Axis moved(double offset) { return {0, 0, offset, offset}; }
        bool stretches() const;
        double map(double v) const;
        double unmap(double v) const;
    };
    static Axis pictureAxis(double low, double high, double sliceLow, double sliceHigh,
                            bool nearEdge, bool farEdge, double growth);
    // A stretch of the placed axis, [low, high), and the linear map into it.
    struct Piece
    {
        double low;
        double high;
        double scale;
        double offset;
    };
    static QList<Piece> pieces(const Axis &axis);

    Axis m_x;
    Axis m_y;
};
