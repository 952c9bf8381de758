#pragma once

#include <QComboBox>

// A drop-down list (no free text) as the program's windows use it: the open list marks
// the current item with a tick, the mouse wheel changes the choice only while the list
// has the focus (so scrolling past it changes nothing), and the open list shows at most
// maxVisibleItems() items: its own style sheet asks for a list rather than the style's
// menu, so a style sheet given to it later keeps that rule after its own.
class DropDownList : public QComboBox
{
    Q_OBJECT
public:
    explicit DropDownList(QWidget *parent = nullptr);

    // The list's own style sheet rule.
    static QString ownStyleSheet();

protected:
    void wheelEvent(QWheelEvent *event) override;
};
