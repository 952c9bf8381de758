#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRegion>
#include <QWidget>

class SkinElement;
class SkinWindow;

// The face of a skinned window: a child widget filling it, beneath its other
// children. It draws the form and the elements, shows the buttons' states,
// reports clicks and moves the window when its background is dragged.
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
    void renderId(QPainter &painter, const QString &id) const;
    State stateOf(const SkinElement &element) const;
    void setUnder(SkinElement *element);
    void repaint(SkinElement *element);
    void paintFocusRing(QPainter &painter, const SkinElement &element);
    // The enabled button under pos, or nullptr.
    SkinElement *liveButtonAt(const QPoint &pos) const;

    SkinWindow *m_owner;
    QPixmap m_body;
    SkinElement *m_under = nullptr;
    SkinElement *m_pressed = nullptr;
    bool m_dragging = false;
    QPoint m_dragOffset;
};
