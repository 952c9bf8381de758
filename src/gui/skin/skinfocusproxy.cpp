#include "gui/skin/skinfocusproxy.h"

#include "gui/skin/skinelement.h"
#include "gui/skin/skinsurface.h"

#include <QKeyEvent>

SkinFocusProxy::SkinFocusProxy(SkinSurface *surface, SkinElement *element)
    : QWidget(surface), m_surface(surface), m_element(element)
{
    setObjectName(element->GetElementName() + QStringLiteral("Focus"));
    setAccessibleName(element->GetElementName());
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(element->rect());
    show();
}

void SkinFocusProxy::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat() && event->modifiers() == Qt::NoModifier) {
            m_surface->activate(m_element);
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void SkinFocusProxy::focusInEvent(QFocusEvent *event)
{
    m_surface->update(m_element->paintArea());
    QWidget::focusInEvent(event);
}

void SkinFocusProxy::focusOutEvent(QFocusEvent *event)
{
    m_surface->update(m_element->paintArea());
    QWidget::focusOutEvent(event);
}

void SkinFocusProxy::paintEvent(QPaintEvent *)
{
    // The surface beneath draws the button and its ring.
}
