#pragma once

#include <QWidget>

class SkinElement;
class SkinSurface;

// Takes the keyboard focus for one of the skin's command buttons, so that Tab reaches
// the button in the window's focus chain: Space, Enter or Return run it, and the surface
// draws its focus ring while it has the focus. It paints nothing and lets the mouse
// through to the surface beneath; only Tab (or the program) gives it the focus, so a
// click does not leave a ring behind.
class SkinFocusProxy : public QWidget
{
    Q_OBJECT
public:
    SkinFocusProxy(SkinSurface *surface, SkinElement *element);

    SkinElement *element() const { return m_element; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    SkinSurface *m_surface;
    SkinElement *m_element;
};
