#include "gui/skin/tskin.h"

#include "gui/skin/skinelement.h"
#include "gui/skin/skinsurface.h"
#include "gui/skin/skinwindow.h"

#include <QEvent>
#include <QSvgRenderer>
#include <QWidget>
#include <algorithm>

TSkin::TSkin(QObject *parent) : QObject(parent)
{
    // So that OnClick can be queued and spied on.
    qRegisterMetaType<SkinElement *>();
}

TSkin::~TSkin()
{
    for (const auto &skinWindow : m_windows) {
        if (QWidget *window = skinWindow->window())
            window->removeEventFilter(this);
    }
}

void TSkin::LoadSkinFile(const QString &path)
{
    SkinFile file;
    if (!file.load(path))
        throw SkinError(file.errorString());
    auto renderer = std::make_unique<QSvgRenderer>();
    if (!renderer->load(file.svgData()) || !renderer->isValid())
        throw SkinError(
            QStringLiteral("not a skin file: %1: the picture cannot be drawn").arg(file.path()));

    m_file = file;
    m_renderer = std::move(renderer);
    for (const auto &skinWindow : m_windows) {
        const QString form = skinWindow->formName();
        if (form.isEmpty())
            continue;
        if (m_file.hasForm(form)) {
            skinWindow->assignForm(form);
            applyStyleSheet(skinWindow.get());
        } else {
            skinWindow->clearForm();
        }
    }
}

void TSkin::AttachWindow(QWidget *window)
{
    if (!m_renderer)
        throw SkinError(
            QStringLiteral("no skin is loaded: a window can only be attached to a loaded skin"));
    if (!window)
        throw SkinError(QStringLiteral("no window to attach to the skin"));
    if (!window->isWindow())
        throw SkinError(
            QStringLiteral("only a window can be attached to the skin, not the widget \"%1\"")
                .arg(window->objectName()));
    if (find(window))
        return;

    if (!window->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        // Changing the flags hides a shown window.
        const bool shown = window->isVisible();
        window->setWindowFlag(Qt::FramelessWindowHint, true);
        if (shown)
            window->show();
    }

    auto skinWindow = std::make_unique<SkinWindow>(this, window);
    connect(skinWindow->surface(), &SkinSurface::clicked, this, &TSkin::OnClick);
    connect(window, &QObject::destroyed, this, [this, window]() {
        m_appliedStyleSheets.remove(window);
        m_windows.erase(std::remove_if(m_windows.begin(), m_windows.end(),
                                       [window](const auto &w) {
                                           return w->window() == nullptr || w->window() == window;
                                       }),
                        m_windows.end());
    });
    window->installEventFilter(this);
    m_windows.push_back(std::move(skinWindow));
}

void TSkin::AssignSkinForm(QWidget *window, const QString &formName)
{
    SkinWindow *skinWindow = GetWindowSkin(window);
    QString error;
    if (!m_file.hasForm(formName, &error))
        throw SkinError(error);
    skinWindow->assignForm(formName);
    applyStyleSheet(skinWindow);
}

SkinWindow *TSkin::GetWindowSkin(QWidget *window)
{
    SkinWindow *skinWindow = find(window);
    if (!skinWindow) {
        throw SkinError(QStringLiteral("the window \"%1\" is not attached to the skin")
                            .arg(window ? window->objectName() : QString()));
    }
    return skinWindow;
}

void TSkin::setElementToolTip(const QString &name, const QString &text)
{
    if (text.isEmpty())
        m_toolTips.remove(name);
    else
        m_toolTips.insert(name, text);
}

bool TSkin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        if (SkinWindow *skinWindow = find(qobject_cast<QWidget *>(watched)))
            skinWindow->updateGeometry();
    }
    return QObject::eventFilter(watched, event);
}

SkinWindow *TSkin::find(const QWidget *window) const
{
    if (!window)
        return nullptr;
    for (const auto &skinWindow : m_windows) {
        if (skinWindow->window() == window)
            return skinWindow.get();
    }
    return nullptr;
}

void TSkin::applyStyleSheet(SkinWindow *skinWindow)
{
    QWidget *window = skinWindow->window();
    // Leave a style sheet alone that the program set itself.
    const QString current = window->styleSheet();
    if (!current.isEmpty() && current != m_appliedStyleSheets.value(window))
        return;
    window->setStyleSheet(m_file.styleSheet());
    m_appliedStyleSheets.insert(window, m_file.styleSheet());
}
