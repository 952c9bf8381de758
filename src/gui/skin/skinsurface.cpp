#include "gui/skin/skinsurface.h"

#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>
#include <QToolTip>
#include <QWindow>

#include <algorithm>

namespace {

// How much the engine lightens or darkens a button whose skin has no such state.
const QColor SynthesizedHover(255, 255, 255, 34);
const QColor SynthesizedDown(0, 0, 0, 70);
// How strongly a disabled button without a "disabled" state is drawn.
constexpr qreal SynthesizedDisabledOpacity = 0.38;

// Opaque enough to count as part of the window's shape.
constexpr int ShapeAlpha = 128;

// How close to an edge of a window that can grow a press resizes it, and how far from a
// corner along an edge it resizes both ways.
constexpr int ResizeMargin = 5;
constexpr int ResizeCorner = 16;

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

void SkinSurface::renderId(QPainter &painter, const QString &id,
                           const SkinPlacement &placement) const
{
    QSvgRenderer *renderer = m_owner->skin()->renderer();
    const QRectF bounds = renderer->transformForElement(id).mapRect(renderer->boundsOnElement(id));
    // An empty target would make the renderer stretch the element over the whole device.
    if (bounds.isEmpty())
        return;
    // A stretched picture is drawn once for each part, clipped to it.
    const QList<SkinPlacement::Part> parts = placement.parts();
    for (const SkinPlacement::Part &part : parts) {
        painter.save();
        if (parts.size() > 1)
            painter.setClipRect(part.target, Qt::IntersectClip);
        painter.setTransform(part.transform, true);
        painter.setTransform(m_owner->toWindow(), true);
        renderer->render(&painter, id, bounds);
        painter.restore();
    }
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
        renderId(painter, m_owner->formName(), m_owner->formPlacement());
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
            renderId(bodyPainter, m_owner->formName(), m_owner->formPlacement());
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
    const SkinPlacement &placement = element.placement();
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
            renderId(painter, name, placement);
            renderId(painter, name + QStringLiteral(".disabled"), placement);
        } else {
            painter.setOpacity(SynthesizedDisabledOpacity);
            renderId(painter, name, placement);
        }
    } else if (stateName.isEmpty()) {
        renderId(painter, name, placement);
    } else if (element.hasState(stateName)) {
        // A state is drawn over the element.
        renderId(painter, name, placement);
        renderId(painter, name + QLatin1Char('.') + stateName, placement);
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
            renderId(layerPainter, name, placement);
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
        renderId(painter, element.GetElementName() + QStringLiteral(".focus"), element.placement());
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
    const QPoint pos = event->position().toPoint();
    if (SkinElement *button = m_owner->buttonAt(pos)) {
        if (!button->isElementEnabled())
            return; // a disabled button neither runs nor moves the window
        m_pressed = button;
        m_under = nullptr;
        setUnder(button);
        return;
    }
    m_pressGlobal = event->globalPosition().toPoint();
    // The edges resize the window: by the window manager where it can, else by hand.
    if (const Qt::Edges edges = resizeEdgesAt(pos)) {
        QWindow *handle = window()->windowHandle();
        if (handle && handle->startSystemResize(edges))
            return;
        m_resizing = edges;
        m_resizeStart = window()->geometry();
        return;
    }
    // The rest of the background moves it, once the pointer goes.
    m_movePending = true;
}

void SkinSurface::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint global = event->globalPosition().toPoint();
    if (m_resizing) {
        resizeByHand(global);
        return;
    }
    if (m_movePending) {
        if (!(event->buttons() & Qt::LeftButton)) {
            m_movePending = false;
        } else if ((global - m_pressGlobal).manhattanLength() >=
                   QApplication::startDragDistance()) {
            // By the window manager where it can, else by hand.
            m_movePending = false;
            QWidget *top = window();
            if (QWindow *handle = top->windowHandle(); handle && handle->startSystemMove())
                return;
            m_dragging = true;
            m_dragOffset = m_pressGlobal - top->pos();
        } else {
            return;
        }
    }
    if (m_dragging) {
        window()->move(global - m_dragOffset);
        return;
    }
    SkinElement *button = liveButtonAt(event->position().toPoint());
    setUnder(button);
    showResizeCursor(button ? Qt::Edges() : resizeEdgesAt(event->position().toPoint()));
}

Qt::Edges SkinSurface::resizeEdgesAt(const QPoint &pos) const
{
    const Qt::Orientations grows = m_owner->resizable();
    const QWidget *top = window();
    if (!grows || top->isMaximized() || top->isFullScreen())
        return {};
    const bool nearLeftOrRight = pos.x() < ResizeMargin || pos.x() >= width() - ResizeMargin;
    const bool nearTopOrBottom = pos.y() < ResizeMargin || pos.y() >= height() - ResizeMargin;
    const bool cornerX = pos.x() < ResizeCorner || pos.x() >= width() - ResizeCorner;
    const bool cornerY = pos.y() < ResizeCorner || pos.y() >= height() - ResizeCorner;
    const bool both = grows == (Qt::Horizontal | Qt::Vertical);
    Qt::Edges edges;
    if (grows.testFlag(Qt::Horizontal) && (nearLeftOrRight || (both && nearTopOrBottom && cornerX)))
        edges |= pos.x() < width() / 2 ? Qt::LeftEdge : Qt::RightEdge;
    if (grows.testFlag(Qt::Vertical) && (nearTopOrBottom || (both && nearLeftOrRight && cornerY)))
        edges |= pos.y() < height() / 2 ? Qt::TopEdge : Qt::BottomEdge;
    return edges;
}

void SkinSurface::showResizeCursor(Qt::Edges edges)
{
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool falling =
            edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    } else if (horizontal) {
        setCursor(Qt::SizeHorCursor);
    } else if (vertical) {
        setCursor(Qt::SizeVerCursor);
    } else {
        unsetCursor();
    }
}

void SkinSurface::resizeByHand(const QPoint &globalPos)
{
    QWidget *top = window();
    const QPoint moved = globalPos - m_pressGlobal;
    const QSize least = top->minimumSize();
    const QSize most = top->maximumSize();
    const QRect start = m_resizeStart;
    QRect next = start;
    // The edge opposite the one dragged stays; the size keeps within the window's limits.
    if (m_resizing & Qt::LeftEdge)
        next.setLeft(std::clamp(start.left() + moved.x(), start.right() + 1 - most.width(),
                                start.right() + 1 - least.width()));
    else if (m_resizing & Qt::RightEdge)
        next.setRight(std::clamp(start.right() + moved.x(), start.left() + least.width() - 1,
                                 start.left() + most.width() - 1));
    if (m_resizing & Qt::TopEdge)
        next.setTop(std::clamp(start.top() + moved.y(), start.bottom() + 1 - most.height(),
                               start.bottom() + 1 - least.height()));
    else if (m_resizing & Qt::BottomEdge)
        next.setBottom(std::clamp(start.bottom() + moved.y(), start.top() + least.height() - 1,
                                  start.top() + most.height() - 1));
    top->setGeometry(next);
}

void SkinSurface::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_movePending = false;
    if (m_dragging || m_resizing) {
        m_dragging = false;
        m_resizing = {};
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

void SkinSurface::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click on the caption maximises a window that can grow, or brings it back.
    const QPoint pos = event->position().toPoint();
    const SkinElement *caption = m_owner->FindElement(QStringLiteral("caption"));
    if (event->button() == Qt::LeftButton && caption && caption->contains(pos) &&
        !m_owner->buttonAt(pos) && m_owner->resizable() && !resizeEdgesAt(pos)) {
        m_movePending = false;
        QWidget *top = window();
        if (top->isMaximized())
            top->showNormal();
        else
            top->showMaximized();
        return;
    }
    // Elsewhere the second click is a press like the first.
    mousePressEvent(event);
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
    if (!m_resizing)
        unsetCursor();
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
