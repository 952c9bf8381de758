#include "gui/skin/skinelement.h"

#include "gui/skin/skinsurface.h"
#include "gui/skin/skinwindow.h"

#include <QFontMetricsF>

namespace {

// Room around a button for the focus ring the engine draws itself.
constexpr int FocusRingMargin = 4;

} // namespace

SkinElement::SkinElement(SkinWindow *owner, const QString &name, Kind kind)
    : m_owner(owner), m_name(name), m_kind(kind)
{}

SkinElement::~SkinElement()
{
    delete m_focusProxy.data();
}

void SkinElement::SetElementEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (m_focusProxy)
        m_focusProxy->setEnabled(enabled);
    if (SkinSurface *surface = m_owner->surface())
        surface->update(paintArea());
}

QRect SkinElement::paintArea() const
{
    QRect painted = area();
    if (m_kind == Kind::Button) {
        // Pressed buttons are drawn a pixel down and right.
        painted = painted.adjusted(-1, -1, 2, 2);
        if (!m_statesBounds.isNull())
            painted |= m_statesBounds.toAlignedRect().adjusted(-1, -1, 2, 2);
        if (m_focusProxy)
            painted |= area().adjusted(-FocusRingMargin, -FocusRingMargin, FocusRingMargin,
                                       FocusRingMargin);
    }
    return painted;
}

void SkinElement::SetElementText(const QString &text)
{
    m_text = text;
}

void SkinElement::SetElementRect(const QRect &r)
{
    // As with a RECT, a rectangle whose right or bottom lies before its left or top is empty.
    m_rect = r.isEmpty() ? QRect(r.topLeft(), QSize(0, 0)) : r;
    if (m_focusProxy)
        m_focusProxy->setGeometry(rect());
}

void SkinElement::SetElementRect(int left, int top, int right, int bottom)
{
    SetElementRect(QRect(QPoint(left, top), QSize(right - left, bottom - top)));
}

void SkinElement::RedrawElement()
{
    const QRect now = area();
    if (SkinSurface *surface = m_owner->surface())
        surface->update((m_shownArea | now).adjusted(-1, -1, 2, 2));
    m_shownArea = now;
}

QRect SkinElement::rect() const
{
    if (m_rect)
        return *m_rect;
    if (m_kind == Kind::Text)
        return textBounds().toAlignedRect();
    return m_pictureBounds.toAlignedRect();
}

QRect SkinElement::area() const
{
    const QRect drawn =
        m_kind == Kind::Text ? textBounds().toAlignedRect() : m_pictureBounds.toAlignedRect();
    return m_rect ? (drawn & *m_rect) : drawn;
}

bool SkinElement::contains(const QPoint &pos) const
{
    return rect().contains(pos);
}

QRectF SkinElement::textBounds() const
{
    const QFontMetricsF metrics(m_textStyle.font);
    const qreal width = metrics.horizontalAdvance(m_text);
    qreal left = m_textStyle.anchor.x();
    if (m_textStyle.alignment & Qt::AlignHCenter)
        left -= width / 2;
    else if (m_textStyle.alignment & Qt::AlignRight)
        left -= width;
    // A pixel of slack on each side for antialiasing and overhanging glyphs.
    return QRectF(left - 1, m_textStyle.anchor.y() - metrics.ascent() - 1, width + 2,
                  metrics.ascent() + metrics.descent() + 2);
}

void SkinElement::setStates(const QStringList &states)
{
    m_states = states;
}

void SkinElement::replaceRect(const SkinPlacement &placement)
{
    if (m_rect) {
        const QRectF design = m_placement.unmapRect(QRectF(*m_rect));
        if (m_rect->isEmpty()) {
            const QPointF corner = placement.map(design.topLeft());
            m_rect = QRect(qRound(corner.x()), qRound(corner.y()), 0, 0);
        } else {
            const QRectF placed = placement.mapRect(design);
            m_rect = QRect(QPoint(qRound(placed.left()), qRound(placed.top())),
                           QPoint(qRound(placed.right()) - 1, qRound(placed.bottom()) - 1));
        }
    }
    m_placement = placement;
}

void SkinElement::setGeometry(const QRectF &documentBounds, const QRectF &designBounds,
                              const QRectF &designStatesBounds, const SkinPlacement &placement)
{
    replaceRect(placement);
    m_documentBounds = documentBounds;
    m_pictureBounds = placement.mapRect(designBounds);
    m_statesBounds = designStatesBounds.isNull() ? QRectF() : placement.mapRect(designStatesBounds);
    m_shownArea = area();
    if (m_focusProxy)
        m_focusProxy->setGeometry(rect());
}

void SkinElement::setTextStyle(const TextStyle &style, const QString &initialText,
                               const SkinPlacement &placement)
{
    replaceRect(placement);
    m_textStyle = style;
    m_text = initialText;
    m_shownArea = area();
}
