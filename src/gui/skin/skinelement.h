#pragma once

#include "gui/skin/skinplacement.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

class SkinWindow;

// One named element of a skinned window: a button, a picture or a text.
// Rectangles are in the window's coordinates.
class SkinElement
{
public:
    enum class Kind
    {
        Picture, // drawn, not interactive (the progress fill, decorations)
        Button,  // has states or is handled by the engine; reports clicks
        Text     // a <text> whose content can be replaced
    };

    SkinElement(SkinWindow *owner, const QString &name, Kind kind);
    ~SkinElement();
    SkinElement(const SkinElement &) = delete;
    SkinElement &operator=(const SkinElement &) = delete;

    QString GetElementName() const { return m_name; }
    void SetElementText(const QString &text);
    // Where the element shows: its picture is clipped to r (not moved or
    // scaled). An empty rectangle hides it. When the window's size changes, the rectangle
    // moves and stretches with the element (until the program sets a new one).
    void SetElementRect(const QRect &r);
    // The same as a Win32 RECT: right and bottom are exclusive, so
    // (12, 310, 12, 322) is empty and (12, 310, 481, 322) is 469 wide.
    void SetElementRect(int left, int top, int right, int bottom);
    // Repaints what the element covered at the last redraw and what it covers now.
    void RedrawElement();

    // A disabled button looks so (its "disabled" state, or faded by the engine), shows
    // no hover or press, reports no click and takes no keyboard focus.
    void SetElementEnabled(bool enabled);
    bool isElementEnabled() const { return m_enabled; }

    Kind kind() const { return m_kind; }
    bool isButton() const { return m_kind == Kind::Button; }
    bool hasState(const QString &state) const { return m_states.contains(state); }
    // What the element may paint in any of its states: its picture, its states' pictures
    // and the focus ring the engine draws when the skin has no "focus" state.
    QRect paintArea() const;
    // The widget that takes the keyboard focus for a command button; nullptr for others.
    QWidget *focusProxy() const { return m_focusProxy; }
    void setFocusProxy(QWidget *proxy) { m_focusProxy = proxy; }
    QString text() const { return m_text; }
    bool hasRect() const { return m_rect.has_value(); }
    QRect rect() const; // the set rectangle, or the picture's bounds
    // The whole picture at the window's present size, whatever rectangle is set: for the
    // progress fill, the full band.
    QRectF pictureBounds() const { return m_pictureBounds; }
    QRectF documentBounds() const { return m_documentBounds; }
    // How the picture is moved and stretched from the skin's own size to the window's.
    const SkinPlacement &placement() const { return m_placement; }
    QRect area() const; // what the element paints now
    bool contains(const QPoint &pos) const;

    // Text elements: how the engine draws them.
    struct TextStyle
    {
        QPointF anchor;
        Qt::Alignment alignment = Qt::AlignLeft;
        QFont font;
        QColor color;
    };
    const TextStyle &textStyle() const { return m_textStyle; }
    QRectF textBounds() const;

    // Set up by the skin engine.
    void setKind(Kind kind) { m_kind = kind; }
    void setStates(const QStringList &states);
    // Bounds in the skin's coordinates, then at the skin's own size in the window's.
    void setGeometry(const QRectF &documentBounds, const QRectF &designBounds,
                     const QRectF &designStatesBounds, const SkinPlacement &placement);
    void setTextStyle(const TextStyle &style, const QString &initialText,
                      const SkinPlacement &placement = SkinPlacement());

private:
    // Carries a rectangle the program set over a change of placement.
    void replaceRect(const SkinPlacement &placement);

    SkinWindow *m_owner;
    QString m_name;
    Kind m_kind;
    QStringList m_states;
    bool m_enabled = true;
    QPointer<QWidget> m_focusProxy;
    QRectF m_documentBounds; // in the skin's own coordinates
    QRectF m_pictureBounds;  // in the window's coordinates
    QRectF m_statesBounds;   // all its states' pictures, in the window's coordinates
    SkinPlacement m_placement;
    std::optional<QRect> m_rect;
    QString m_text;
    TextStyle m_textStyle;
    QRect m_shownArea;
};
