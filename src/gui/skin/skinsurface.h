#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QWidget>

class SkinElement;
class SkinPlacement;
class SkinWindow;

// The face of a skinned window: a child widget filling it, beneath its other
// children. It draws the form and the elements, shows the buttons' states,
// reports clicks and moves the window when its background is dragged. A window that can
// grow is resized by dragging its edges, and maximised by a double click on the skin's
// "caption".
class SkinSurface : public QWidget
{
    Q_OBJECT

public:
    SkinSurface(SkinWindow *owner, QWidget *window);

    // The form's opaque area, for the window's mask.
    QRegion formShape();
    // Forget what was drawn and hovered: the form or its elements changed.
    void skinChanged();
    // Runs a button as a click on it does: the engine's own, or clicked() for the program.
    void activate(SkinElement *element);

signals:
    void clicked(SkinElement *element);

protected:
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    enum class State
    {
        Normal,
        Hover,
        Down
    };

    void paintBody(QPainter &painter);
    void paintPicture(QPainter &painter, const SkinElement &element, State state);
    void paintText(QPainter &painter, const SkinElement &element);
    // Draws the skin's element id placed as given (its parts stretched, its border not).
    void renderId(QPainter &painter, const QString &id, const SkinPlacement &placement) const;
    State stateOf(const SkinElement &element) const;
    void setUnder(SkinElement *element);
    void repaint(SkinElement *element);
    void paintFocusRing(QPainter &painter, const SkinElement &element);
    // The enabled button under pos, or nullptr.
    SkinElement *liveButtonAt(const QPoint &pos) const;
    // The window's edges that a press at pos resizes: none unless the window can grow.
    Qt::Edges resizeEdgesAt(const QPoint &pos) const;
    void showResizeCursor(Qt::Edges edges);
    void resizeByHand(const QPoint &globalPos);

    SkinWindow *m_owner;
    QPixmap m_body;
    SkinElement *m_under = nullptr;
    SkinElement *m_pressed = nullptr;
    // A press on the background moves the window once the pointer has gone a little way,
    // so that a double click still arrives.
    bool m_movePending = false;
    bool m_dragging = false;
    QPoint m_pressGlobal;
    QPoint m_dragOffset;
    // Resizing by hand where the window manager does not do it.
    Qt::Edges m_resizing;
    QRect m_resizeStart;
};
