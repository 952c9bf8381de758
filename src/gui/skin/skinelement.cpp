#include "gui/skin/skinelement.h"

#include "gui/skin/skinsurface.h"
#include "gui/skin/skinwindow.h"

#include <QFontMetricsF>

SkinElement::SkinElement(SkinWindow *owner, const QString &name, Kind kind)
    : m_owner(owner), m_name(name), m_kind(kind)
{}

void SkinElement::SetElementText(const QString &text)
{
    m_text = text;
}

void SkinElement::SetElementRect(const QRect &r)
{
    // As with a RECT, a rectangle whose right or bottom lies before its left or top is empty.
    m_rect = r.isEmpty() ? QRect(r.topLeft(), QSize(0, 0)) : r;
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

bool SkinElement::hasState(const QString &state) const
{
    if (state == QLatin1String("hover"))
        return m_hover;
    if (state == QLatin1String("down"))
        return m_down;
    return false;
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

void SkinElement::setStates(bool hover, bool down)
{
    m_hover = hover;
    m_down = down;
}

void SkinElement::setGeometry(const QRectF &documentBounds, const QRectF &pictureBounds)
{
    m_documentBounds = documentBounds;
    m_pictureBounds = pictureBounds;
    m_shownArea = area();
}

void SkinElement::setTextStyle(const TextStyle &style, const QString &initialText)
{
    m_textStyle = style;
    m_text = initialText;
    m_shownArea = area();
}
