#include "gui/skin/skinwindow.h"

#include "core/skin/skinfile.h"
#include "gui/skin/skinelement.h"
#include "gui/skin/skinfocusproxy.h"
#include "gui/skin/skinsurface.h"
#include "gui/skin/tskin.h"

#include <QSvgRenderer>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {

// The engine handles these buttons itself; they never reach OnClick.
bool isEngineButton(const QString &name)
{
    return name == QLatin1String("minimize") || name == QLatin1String("close");
}

double firstNumber(const QString &list, double fallback)
{
    const QString first = list.simplified()
                              .replace(QLatin1Char(','), QLatin1Char(' '))
                              .section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    QString number = first;
    if (number.endsWith(QLatin1String("px")))
        number.chop(2);
    const double value = number.toDouble(&ok);
    return ok ? value : fallback;
}

SkinElement::TextStyle textStyleOf(const SkinFile::Element &element, const QTransform &toWindow,
                                   const QFont &baseFont)
{
    const auto &a = element.attributes;
    SkinElement::TextStyle style;
    style.anchor = toWindow.map(QPointF(firstNumber(a.value(QStringLiteral("x")), 0),
                                        firstNumber(a.value(QStringLiteral("y")), 0)));

    const QString anchor = a.value(QStringLiteral("text-anchor"));
    style.alignment = anchor == QLatin1String("middle") ? Qt::AlignHCenter
                      : anchor == QLatin1String("end")  ? Qt::AlignRight
                                                        : Qt::AlignLeft;

    QFont font = baseFont;
    QStringList families;
    const QStringList named = a.value(QStringLiteral("font-family")).split(QLatin1Char(','));
    for (QString family : named) {
        family = family.trimmed();
        family.remove(QLatin1Char('\'')).remove(QLatin1Char('"'));
        // Generic names mean "the desktop's font", which the base font already is.
        if (!family.isEmpty() && family != QLatin1String("sans-serif") &&
            family != QLatin1String("serif") && family != QLatin1String("monospace"))
            families.append(family);
    }
    if (!families.isEmpty())
        font.setFamilies(families);
    const double size = firstNumber(a.value(QStringLiteral("font-size")), 0);
    if (size > 0)
        font.setPixelSize(std::max(1, int(std::lround(size * toWindow.m22()))));
    const QString weight = a.value(QStringLiteral("font-weight"));
    if (weight == QLatin1String("bold")) {
        font.setWeight(QFont::Bold);
    } else if (weight == QLatin1String("normal")) {
        font.setWeight(QFont::Normal);
    } else {
        bool ok = false;
        const int numeric = weight.toInt(&ok);
        if (ok && numeric >= 100 && numeric <= 900)
            font.setWeight(QFont::Weight(numeric));
    }
    if (a.value(QStringLiteral("font-style")) == QLatin1String("italic"))
        font.setItalic(true);
    style.font = font;

    const QString fill = a.value(QStringLiteral("fill"), QStringLiteral("#000000"));
    QColor color = fill == QLatin1String("none") ? QColor(Qt::transparent) : QColor(fill);
    if (!color.isValid())
        color = Qt::black;
    double alpha = color.alphaF();
    alpha *= std::clamp(firstNumber(a.value(QStringLiteral("fill-opacity")), 1), 0.0, 1.0);
    alpha *= std::clamp(firstNumber(a.value(QStringLiteral("opacity")), 1), 0.0, 1.0);
    color.setAlphaF(float(alpha));
    style.color = color;
    return style;
}

} // namespace

SkinWindow::SkinWindow(TSkin *skin, QWidget *window)
    : m_skin(skin), m_window(window), m_surface(new SkinSurface(this, window))
{
    m_surface->setGeometry(window->rect());
    m_surface->lower();
    m_surface->show();
}

SkinWindow::~SkinWindow()
{
    if (m_window && !m_formName.isEmpty())
        m_window->clearMask();
    delete m_surface.data();
}

SkinElement *SkinWindow::FindElement(const QString &name)
{
    for (const auto &element : m_elements) {
        if (element->GetElementName() == name)
            return element.get();
    }
    return nullptr;
}

SkinElement *SkinWindow::buttonAt(const QPoint &pos) const
{
    return elementAt(pos, true);
}

SkinElement *SkinWindow::elementAt(const QPoint &pos, bool buttonsOnly) const
{
    for (auto it = m_elements.rbegin(); it != m_elements.rend(); ++it) {
        SkinElement *element = it->get();
        if ((!buttonsOnly || element->isButton()) && element->contains(pos))
            return element;
    }
    return nullptr;
}

void SkinWindow::clearForm()
{
    m_formName.clear();
    m_elements.clear();
    if (m_surface)
        m_surface->skinChanged();
    if (m_window)
        m_window->clearMask();
}

void SkinWindow::assignForm(const QString &formName)
{
    m_formName = formName;
    // The skin's size is the smallest; a window that grows keeps a size it was given.
    const QSize design = designSize();
    const Qt::Orientations grows = resizable();
    if (!grows || !m_window->testAttribute(Qt::WA_Resized))
        m_window->resize(design);
    m_window->setMinimumSize(design);
    m_window->setMaximumSize(grows.testFlag(Qt::Horizontal) ? QWIDGETSIZE_MAX : design.width(),
                             grows.testFlag(Qt::Vertical) ? QWIDGETSIZE_MAX : design.height());

    // Elements that stay keep their objects, so that pointers the program holds stay good.
    std::vector<std::unique_ptr<SkinElement>> previous = std::move(m_elements);
    m_elements.clear();
    for (const SkinFile::Element &element : m_skin->skinFile().elements()) {
        if (element.name == formName)
            continue;
        SkinElement::Kind kind = SkinElement::Kind::Picture;
        if (element.tag == QLatin1String("text"))
            kind = SkinElement::Kind::Text;
        else if (!element.states.isEmpty() || isEngineButton(element.name))
            kind = SkinElement::Kind::Button;
        auto kept = std::find_if(previous.begin(), previous.end(), [&element](const auto &e) {
            return e && e->GetElementName() == element.name;
        });
        std::unique_ptr<SkinElement> item =
            kept != previous.end() ? std::move(*kept)
                                   : std::make_unique<SkinElement>(this, element.name, kind);
        item->setKind(kind);
        item->setStates(element.states);
        // Command buttons take the keyboard focus; the engine's own are left to the window
        // manager's keys.
        const bool focusable = kind == SkinElement::Kind::Button && !isEngineButton(element.name);
        if (focusable && !item->focusProxy() && m_surface) {
            auto *proxy = new SkinFocusProxy(m_surface, item.get());
            proxy->setEnabled(item->isElementEnabled());
            item->setFocusProxy(proxy);
        } else if (!focusable && item->focusProxy()) {
            delete item->focusProxy();
        }
        m_elements.push_back(std::move(item));
    }
    if (m_surface)
        m_surface->skinChanged();
    updateGeometry();
    orderFocusChain();
}

QList<QWidget *> SkinWindow::focusChain() const
{
    // Reading order: rows of buttons from the top, each row from the left; a button belongs
    // to a row when its middle lies within the row's first button.
    std::vector<SkinElement *> buttons;
    for (const auto &element : m_elements) {
        if (element->focusProxy())
            buttons.push_back(element.get());
    }
    std::stable_sort(buttons.begin(), buttons.end(), [](SkinElement *a, SkinElement *b) {
        return a->rect().top() < b->rect().top();
    });
    QList<QWidget *> chain;
    for (size_t first = 0; first < buttons.size();) {
        const QRect row = buttons[first]->rect();
        size_t end = first + 1;
        while (end < buttons.size() && buttons[end]->rect().center().y() <= row.bottom())
            ++end;
        std::stable_sort(
            buttons.begin() + qsizetype(first), buttons.begin() + qsizetype(end),
            [](SkinElement *a, SkinElement *b) { return a->rect().left() < b->rect().left(); });
        for (size_t i = first; i < end; ++i)
            chain.append(buttons[i]->focusProxy());
        first = end;
    }
    return chain;
}

void SkinWindow::setElementsEnabled(const QStringList &names, bool enabled)
{
    QWidget *before = m_window ? m_window->focusWidget() : nullptr;
    for (const QString &name : names) {
        if (SkinElement *element = FindElement(name))
            element->SetElementEnabled(enabled);
    }
    QWidget *after = m_window ? m_window->focusWidget() : nullptr;
    if (!enabled && before != after) {
        m_focusBefore = before;
        m_focusMovedTo = after;
    } else if (enabled && m_focusBefore) {
        if (after == m_focusMovedTo && m_focusBefore->isEnabled())
            m_focusBefore->setFocus(Qt::OtherFocusReason);
        m_focusBefore = nullptr;
        m_focusMovedTo = nullptr;
    }
}

void SkinWindow::orderFocusChain()
{
    const QList<QWidget *> chain = focusChain();
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

QSize SkinWindow::designSize() const
{
    const QSizeF size = m_skin->skinFile().size();
    return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
}

Qt::Orientations SkinWindow::resizable() const
{
    return m_formName.isEmpty() ? Qt::Orientations() : m_skin->skinFile().resizable();
}

QSizeF SkinWindow::growth() const
{
    // The window's present size, also before a hidden window has had its resize event.
    if (!m_window || m_formName.isEmpty())
        return QSizeF();
    const QSize design = designSize();
    return QSizeF(m_window->width() - design.width(), m_window->height() - design.height());
}

QRect SkinWindow::place(const QRect &designRect, Qt::Edges anchors) const
{
    const QRectF placed =
        SkinPlacement::forPicture(designRect, anchors, QMarginsF(), growth()).mapRect(designRect);
    return QRect(QPoint(qRound(placed.left()), qRound(placed.top())),
                 QPoint(qRound(placed.right()) - 1, qRound(placed.bottom()) - 1));
}

void SkinWindow::anchorWidget(QWidget *widget, const QRect &designRect, Qt::Edges anchors)
{
    m_anchoredWidgets.erase(std::remove_if(m_anchoredWidgets.begin(), m_anchoredWidgets.end(),
                                           [widget](const AnchoredWidget &a) {
                                               return !a.widget || a.widget == widget;
                                           }),
                            m_anchoredWidgets.end());
    if (!widget)
        return;
    m_anchoredWidgets.append({widget, designRect, anchors});
    widget->setGeometry(place(designRect, anchors));
}

void SkinWindow::updateGeometry()
{
    if (!m_window || !m_surface)
        return;
    m_surface->setGeometry(m_window->rect());
    if (m_formName.isEmpty())
        return;

    const QSvgRenderer *renderer = m_skin->renderer();
    const SkinFile &file = m_skin->skinFile();
    const QRectF box = renderer->viewBoxF();
    const QSize design = designSize();
    m_toWindow = QTransform();
    if (!box.isEmpty()) {
        m_toWindow.scale(design.width() / box.width(), design.height() / box.height());
        m_toWindow.translate(-box.x(), -box.y());
    }
    const QSizeF growing = growth();
    // Slices are lengths in the skin's units.
    auto scaled = [this](const QMarginsF &slice) {
        return QMarginsF(slice.left() * m_toWindow.m11(), slice.top() * m_toWindow.m22(),
                         slice.right() * m_toWindow.m11(), slice.bottom() * m_toWindow.m22());
    };
    auto boundsOf = [renderer](const QString &id) {
        return renderer->transformForElement(id).mapRect(renderer->boundsOnElement(id));
    };

    const SkinFile::Element *form = file.element(m_formName);
    m_formPlacement =
        SkinPlacement::forPicture(m_toWindow.mapRect(boundsOf(m_formName)),
                                  Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge,
                                  form ? scaled(form->slice) : QMarginsF(), growing);

    for (const auto &element : m_elements) {
        const QString name = element->GetElementName();
        const SkinFile::Element *source = file.element(name);
        if (element->kind() == SkinElement::Kind::Text) {
            const SkinPlacement placement = SkinPlacement::forText(source->anchors, growing);
            SkinElement::TextStyle style = textStyleOf(*source, m_toWindow, m_surface->font());
            style.anchor = placement.map(style.anchor);
            // Keep a text the program has set when only the size changed.
            const QString text = element->text().isNull() ? source->text : element->text();
            element->setTextStyle(style, text, placement);
        } else {
            const QRectF bounds = boundsOf(name);
            QRectF states;
            for (const QString &state : source->states)
                states |= boundsOf(name + QLatin1Char('.') + state);
            const QRectF atDesign = m_toWindow.mapRect(bounds);
            element->setGeometry(bounds, atDesign, m_toWindow.mapRect(states),
                                 SkinPlacement::forPicture(atDesign, source->anchors,
                                                           scaled(source->slice), growing));
        }
    }
    m_surface->skinChanged();
    const QRegion shape = m_surface->formShape();
    if (shape.isEmpty())
        m_window->clearMask();
    else
        m_window->setMask(shape);

    for (const AnchoredWidget &anchored : std::as_const(m_anchoredWidgets)) {
        if (anchored.widget)
            anchored.widget->setGeometry(place(anchored.designRect, anchored.anchors));
    }
    emit m_skin->layoutChanged(m_window);
}
