#pragma once

#include "core/skin/skinerror.h"
#include "core/skin/skinfile.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class QSvgRenderer;
class QWidget;
class SkinElement;
class SkinWindow;

// The skin engine: loads a skin file and draws attached windows with it.
// A skinned window is frameless; its face is a child surface beneath its
// other widgets, its shape follows the form, dragging its background moves
// it. Clicks on the skin's buttons arrive as OnClick, except "minimize" and
// "close", which the engine carries out itself.
class TSkin : public QObject
{
    Q_OBJECT

public:
    explicit TSkin(QObject *parent = nullptr);
    ~TSkin() override;

    // Replaces the skin, or throws and keeps the one loaded. Windows already skinned are
    // drawn again with their forms; elements the new skin has too keep their objects.
    void LoadSkinFile(const QString &path);
    // Makes window frameless and gives it a skin surface (re-showing it if it was shown).
    void AttachWindow(QWidget *window);
    // Draws an attached window with the named form: its size becomes the form's,
    // its mask the form's shape, and the skin's style sheet is applied to it.
    void AssignSkinForm(QWidget *window, const QString &formName);
    SkinWindow *GetWindowSkin(QWidget *window);

    void setElementToolTip(const QString &name, const QString &text);
    QString elementToolTip(const QString &name) const { return m_toolTips.value(name); }
    QString styleSheet() const { return m_file.styleSheet(); }

    bool isLoaded() const { return m_renderer != nullptr; }
    const SkinFile &skinFile() const { return m_file; }
    QSvgRenderer *renderer() const { return m_renderer.get(); }

signals:
    // A button was clicked: pressed and released on it.
    void OnClick(SkinElement *source);
    // The skin of window has been laid out anew: its form was assigned, or its size (or
    // font) changed. Widgets given to SkinWindow::anchorWidget() are in place by then.
    void layoutChanged(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    SkinWindow *find(const QWidget *window) const;
    void applyStyleSheet(SkinWindow *skinWindow);

    SkinFile m_file;
    std::unique_ptr<QSvgRenderer> m_renderer;
    std::vector<std::unique_ptr<SkinWindow>> m_windows;
    QHash<QWidget *, QString> m_appliedStyleSheets;
    QHash<QString, QString> m_toolTips;
};
