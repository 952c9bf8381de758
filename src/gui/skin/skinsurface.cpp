#include "gui/skin/skinsurface.h"

#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QCursor>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>
#include <QToolTip>
#include <QWindow>

namespace {

// How much the engine lightens or darkens a button whose skin has no such state.
const QColor SynthesizedHover(255, 255, 255, 34);
const QColor SynthesizedDown(0, 0, 0, 70);
// How strongly a disabled button without a "disabled" state is drawn.
constexpr qreal SynthesizedDisabledOpacity = 0.38;

// Opaque enough to count as part of the window's shape.
constexpr int ShapeAlpha = 128;

} // namespace

SkinSurface::SkinSurface(SkinWindow *owner, QWidget *window) : QWidget(window), m_owner(owner)
{
    setObjectName(QStringLiteral("SkinSurface"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SkinSurface::skinChanged()
{
    m_body = QPixmap();
    m_under = nullptr;
    m_pressed = nullptr;
    update();
}

void SkinSurface::renderId(QPainter &painter, const QString &id) const
{
    const QSvgRenderer *renderer = m_owner->skin()->renderer();
    const QRectF bounds = renderer->transformForElement(id).mapRect(renderer->boundsOnElement(id));
    // An empty target would make the renderer stretch the element over the whole device.
    if (bounds.isEmpty())
        return;
    painter.save();
    painter.setTransform(m_owner->toWindow(), true);
    m_owner->skin()->renderer()->render(&painter, id, bounds);
    painter.restore();
}

QRegion SkinSurface::formShape()
{
    if (m_owner->formName().isEmpty() || size().isEmpty())
        return QRegion();
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderId(painter, m_owner->formName());
    }

    // Rows with the same runs of opaque pixels become one band of rectangles.
    QList<QRect> rects;
    QList<QPair<int, int>> band;
    int bandTop = 0;
    auto flush = [&](int bottom) {
        for (const auto &run : std::as_const(band))
            rects.append(QRect(run.first, bandTop, run.second - run.first, bottom - bandTop));
    };
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QList<QPair<int, int>> runs;
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && qAlpha(line[x]) < ShapeAlpha)
                ++x;
            const int start = x;
            while (x < image.width() && qAlpha(line[x]) >= ShapeAlpha)
                ++x;
            if (x > start)
                runs.append(qMakePair(start, x));
        }
        if (y == 0 || runs != band) {
            flush(y);
            band = runs;
            bandTop = y;
        }
    }
    flush(image.height());
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

void SkinSurface::paintBody(QPainter &painter)
{
    const qreal ratio = devicePixelRatioF();
    if (m_body.isNull() || m_body.devicePixelRatio() != ratio ||
        m_body.size() != (QSizeF(size()) * ratio).toSize()) {
        m_body = QPixmap((QSizeF(size()) * ratio).toSize());
        m_body.setDevicePixelRatio(ratio);
        // Pixels at the rounded edges that are only partly covered show over black.
        m_body.fill(Qt::black);
        if (!m_owner->formName().isEmpty()) {
            QPainter bodyPainter(&m_body);
            bodyPainter.setRenderHint(QPainter::Antialiasing);
            bodyPainter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderId(bodyPainter, m_owner->formName());
        }
    }
    painter.drawPixmap(0, 0, m_body);
}

SkinSurface::State SkinSurface::stateOf(const SkinElement &element) const
{
    if (!element.isButton() || m_under != &element || !element.isElementEnabled())
        return State::Normal;
    if (m_pressed == &element)
        return State::Down;
    return m_pressed ? State::Normal : State::Hover;
}

void SkinSurface::paintPicture(QPainter &painter, const SkinElement &element, State state)
{
    const QString name = element.GetElementName();
    painter.save();
    if (element.hasRect())
        painter.setClipRect(element.rect(), Qt::IntersectClip);
    if (state == State::Down)
        painter.translate(1, 1);

    const QString stateName = state == State::Hover  ? QStringLiteral("hover")
                              : state == State::Down ? QStringLiteral("down")
                                                     : QString();
    if (!element.isElementEnabled()) {
        if (element.hasState(QStringLiteral("disabled"))) {
            renderId(painter, name);
            renderId(painter, name + QStringLiteral(".disabled"));
        } else {
            painter.setOpacity(SynthesizedDisabledOpacity);
            renderId(painter, name);
        }
    } else if (stateName.isEmpty()) {
        renderId(painter, name);
    } else if (element.hasState(stateName)) {
        // A state is drawn over the element.
        renderId(painter, name);
        renderId(painter, name + QLatin1Char('.') + stateName);
    } else {
        const QRect area = element.pictureBounds().toAlignedRect().adjusted(-1, -1, 1, 1);
        const qreal ratio = devicePixelRatioF();
        QImage layer((QSizeF(area.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.setRenderHint(QPainter::Antialiasing);
            layerPainter.translate(-area.topLeft());
            renderId(layerPainter, name);
            layerPainter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            layerPainter.fillRect(area, state == State::Hover ? SynthesizedHover : SynthesizedDown);
        }
        painter.drawImage(area.topLeft(), layer);
    }
    painter.restore();
    paintFocusRing(painter, element);
}

void SkinSurface::paintFocusRing(QPainter &painter, const SkinElement &element)
{
    const QWidget *proxy = element.focusProxy();
    if (!proxy || !proxy->hasFocus() || !element.isElementEnabled())
        return;
    // The ring lies outside the picture, so the element's rectangle does not clip it; an
    // empty rectangle hides the button, ring and all.
    if (element.hasRect() && element.rect().isEmpty())
        return;
    painter.save();
    if (element.hasState(QStringLiteral("focus"))) {
        renderId(painter, element.GetElementName() + QStringLiteral(".focus"));
    } else {
        // Without a drawing of its own, a ring in the desktop's highlight colour.
        QPen pen(palette().color(QPalette::Highlight), 2);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(element.pictureBounds().adjusted(-2.5, -2.5, 2.5, 2.5), 5, 5);
    }
    painter.restore();
}

void SkinSurface::paintText(QPainter &painter, const SkinElement &element)
{
    const SkinElement::TextStyle &style = element.textStyle();
    const QRectF bounds = element.textBounds();
    painter.save();
    if (element.hasRect())
        painter.setClipRect(element.rect(), Qt::IntersectClip);
    painter.setFont(style.font);
    painter.setPen(style.color);
    // textBounds() has a pixel of slack on the left.
    painter.drawText(QPointF(bounds.left() + 1, style.anchor.y()), element.text());
    painter.restore();
}

void SkinSurface::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paintBody(painter);
    if (m_owner->formName().isEmpty())
        return;
    const QRect dirty = event->rect();
    for (const auto &element : m_owner->elements()) {
        if (!dirty.intersects(element->paintArea()))
            continue;
        if (element->kind() == SkinElement::Kind::Text)
            paintText(painter, *element);
        else
            paintPicture(painter, *element, stateOf(*element));
    }
}

void SkinSurface::repaint(SkinElement *element)
{
    if (element)
        update(element->paintArea());
}

SkinElement *SkinSurface::liveButtonAt(const QPoint &pos) const
{
    SkinElement *button = m_owner->buttonAt(pos);
    return button && button->isElementEnabled() ? button : nullptr;
}

void SkinSurface::setUnder(SkinElement *element)
{
    if (element == m_under)
        return;
    SkinElement *previous = m_under;
    m_under = element;
    repaint(previous);
    repaint(element);
}

void SkinSurface::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (SkinElement *button = m_owner->buttonAt(event->position().toPoint())) {
        if (!button->isElementEnabled())
            return; // a disabled button neither runs nor moves the window
        m_pressed = button;
        m_under = nullptr;
        setUnder(button);
        return;
    }
    // The background moves the window: by the window manager where it can, else by hand.
    QWidget *top = window();
    if (QWindow *handle = top->windowHandle(); handle && handle->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - top->pos();
}

void SkinSurface::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        window()->move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    setUnder(liveButtonAt(event->position().toPoint()));
}

void SkinSurface::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (m_dragging) {
        m_dragging = false;
        return;
    }
    SkinElement *pressed = m_pressed;
    m_pressed = nullptr;
    SkinElement *under = liveButtonAt(event->position().toPoint());
    repaint(pressed);
    setUnder(under);
    if (pressed && pressed == under)
        activate(pressed);
}

void SkinSurface::activate(SkinElement *element)
{
    if (!element->isElementEnabled())
        return;
    const QString name = element->GetElementName();
    QWidget *target = m_owner->window();
    if (name == QLatin1String("minimize")) {
        target->showMinimized();
    } else if (name == QLatin1String("close")) {
        // close() so that the window's closeEvent decides.
        target->close();
    } else {
        QPointer<SkinSurface> self(this);
        emit clicked(element);
        // The handler may have run a dialog; the pointer may have left meanwhile.
        if (self && !rect().contains(mapFromGlobal(QCursor::pos())))
            setUnder(nullptr);
    }
}

void SkinSurface::leaveEvent(QEvent *event)
{
    if (!m_pressed)
        setUnder(nullptr);
    QWidget::leaveEvent(event);
}

void SkinSurface::changeEvent(QEvent *event)
{
    // Texts are laid out in the surface's font, which a style sheet may change.
    if (event->type() == QEvent::FontChange)
        m_owner->updateGeometry();
    QWidget::changeEvent(event);
}

bool SkinSurface::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const SkinElement *element = m_owner->elementAt(help->pos());
        const QString text =
            element ? m_owner->skin()->elementToolTip(element->GetElementName()) : QString();
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this, element->rect());
        }
        return true;
    }
    return QWidget::event(event);
}
