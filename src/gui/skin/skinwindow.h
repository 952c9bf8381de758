#pragma once

#include "gui/skin/skinplacement.h"
#include "gui/skin/skinsurface.h"

#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <memory>
#include <vector>

class QWidget;
class SkinElement;
class SkinSurface;
class TSkin;

// The skin of one attached window: its form and its elements.
class SkinWindow
{
public:
    SkinWindow(TSkin *skin, QWidget *window);
    ~SkinWindow();
    SkinWindow(const SkinWindow &) = delete;
    SkinWindow &operator=(const SkinWindow &) = delete;

    // The element of that name, nullptr when the form has none.
    SkinElement *FindElement(const QString &name);

    QWidget *window() const { return m_window; }
    TSkin *skin() const { return m_skin; }
    SkinSurface *surface() const { return m_surface; }
    QString formName() const { return m_formName; }
    const std::vector<std::unique_ptr<SkinElement>> &elements() const { return m_elements; }
    // The topmost button under pos (window coordinates), or nullptr.
    SkinElement *buttonAt(const QPoint &pos) const;
    // The topmost element under pos, of any kind unless buttonsOnly.
    SkinElement *elementAt(const QPoint &pos, bool buttonsOnly = false) const;
    // From the skin's coordinates to the window's at the skin's own size ("design"
    // coordinates); each element's placement() goes on from there to the present size.
    QTransform toWindow() const { return m_toWindow; }

    // The window's size at the skin's own scale; the smallest it can be made.
    QSize designSize() const;
    // The directions in which the window can grow (the form's "resize"); none: a fixed size.
    Qt::Orientations resizable() const;
    // Where a rectangle laid out for designSize() lies at the window's present size: it keeps
    // its distance to the anchored edges, and anchored to both edges of an axis it stretches
    // (the other edges of the anchors: as in a skin's "anchor"). For the window's own widgets.
    QRect place(const QRect &designRect, Qt::Edges anchors) const;
    // Keeps widget at place(designRect, anchors): now, and whenever the window's size changes
    // (before the skin's layoutChanged signal).
    void anchorWidget(QWidget *widget, const QRect &designRect, Qt::Edges anchors);
    // How the form is stretched to the window's size.
    const SkinPlacement &formPlacement() const { return m_formPlacement; }
    // The widgets that take the keyboard focus for the command buttons, in reading order
    // (Tab visits them so); the window puts its own widgets before or after them.
    QList<QWidget *> focusChain() const;
    // Enables or disables the named elements together. Disabling the focused button moves
    // the focus on (Qt skips disabled widgets); enabling them again gives it back, unless
    // the user has moved it meanwhile.
    void setElementsEnabled(const QStringList &names, bool enabled);

    // Called by the engine.
    void assignForm(const QString &formName);
    void clearForm();
    void updateGeometry();

private:
    struct AnchoredWidget
    {
        QPointer<QWidget> widget;
        QRect designRect;
        Qt::Edges anchors;
    };

    void orderFocusChain();
    // How much larger than designSize() the window is now.
    QSizeF growth() const;

    TSkin *m_skin;
    QPointer<QWidget> m_window;
    QPointer<SkinSurface> m_surface;
    QString m_formName;
    QTransform m_toWindow;
    SkinPlacement m_formPlacement;
    QList<AnchoredWidget> m_anchoredWidgets;
    std::vector<std::unique_ptr<SkinElement>> m_elements;
    // Where the focus was before setElementsEnabled() moved it, and where it went.
    QPointer<QWidget> m_focusBefore;
    QPointer<QWidget> m_focusMovedTo;
};
