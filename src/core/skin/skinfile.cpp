#include "core/skin/skinfile.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QXmlStreamReader>

#include <cmath>
#include <optional>

namespace {

const QString SvgNamespace = QStringLiteral("http://www.w3.org/2000/svg");
const QString StyleSheetId = QStringLiteral("stylesheet");

// Top-level tags that draw something; other tags (defs, gradients, metadata)
// may carry ids without becoming elements.
bool isDrawable(const QString &tag)
{
    static const QSet<QString> tags = {
        QStringLiteral("g"),       QStringLiteral("rect"), QStringLiteral("circle"),
        QStringLiteral("ellipse"), QStringLiteral("line"), QStringLiteral("polyline"),
        QStringLiteral("polygon"), QStringLiteral("path"), QStringLiteral("text"),
        QStringLiteral("image"),   QStringLiteral("use"),  QStringLiteral("switch"),
        QStringLiteral("textArea")};
    return tags.contains(tag);
}

// An SVG length as a number of user units; "px" is the only unit that makes sense here.
double parseLength(QString text, bool *ok)
{
    text = text.trimmed();
    if (text.endsWith(QLatin1String("px")))
        text.chop(2);
    return text.toDouble(ok);
}

// The words of an SVG list: separated by white space or commas.
QStringList listWords(const QString &text)
{
    return QString(text)
        .replace(QLatin1Char(','), QLatin1Char(' '))
        .simplified()
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// "left right" and the like: the edges named, and the near edge of an axis none of whose
// edges is named. Empty when a word is not an edge.
std::optional<Qt::Edges> parseAnchors(const QString &text)
{
    Qt::Edges edges;
    const QStringList words = listWords(text);
    for (const QString &word : words) {
        if (word == QLatin1String("left"))
            edges |= Qt::LeftEdge;
        else if (word == QLatin1String("top"))
            edges |= Qt::TopEdge;
        else if (word == QLatin1String("right"))
            edges |= Qt::RightEdge;
        else if (word == QLatin1String("bottom"))
            edges |= Qt::BottomEdge;
        else
            return std::nullopt;
    }
    if (!(edges & (Qt::LeftEdge | Qt::RightEdge)))
        edges |= Qt::LeftEdge;
    if (!(edges & (Qt::TopEdge | Qt::BottomEdge)))
        edges |= Qt::TopEdge;
    return edges;
}

// One to four lengths, as CSS gives margins: top, right, bottom, left.
std::optional<QMarginsF> parseSlice(const QString &text)
{
    const QStringList words = listWords(text);
    if (words.isEmpty() || words.size() > 4)
        return std::nullopt;
    QList<double> values;
    for (const QString &word : words) {
        bool ok = false;
        const double value = parseLength(word, &ok);
        if (!ok || !std::isfinite(value) || value < 0 || value > SkinFile::MaxSide)
            return std::nullopt;
        values.append(value);
    }
    const double top = values.at(0);
    const double right = values.value(1, top);
    const double bottom = values.value(2, top);
    const double left = values.value(3, right);
    return QMarginsF(left, top, right, bottom);
}

void unpackStyle(const QString &style, QHash<QString, QString> *attributes)
{
    const QStringList declarations = style.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &declaration : declarations) {
        const qsizetype colon = declaration.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        attributes->insert(declaration.left(colon).trimmed(), declaration.mid(colon + 1).trimmed());
    }
}

} // namespace

QStringList SkinFile::stateNames()
{
    return {QStringLiteral("hover"), QStringLiteral("down"), QStringLiteral("focus"),
            QStringLiteral("disabled")};
}

bool SkinFile::load(const QString &path)
{
    QFile file(path);
    const QString shown = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        *this = SkinFile();
        m_path = shown;
        m_error = path.isEmpty()
                      ? QStringLiteral("cannot open the skin: no file name given")
                      : QStringLiteral("cannot open %1: %2").arg(shown, file.errorString());
        return false;
    }
    // Devices report no size; what they give is capped all the same.
    const QByteArray data = file.read(MaxFileSize + 1);
    if (data.size() > MaxFileSize) {
        *this = SkinFile();
        m_path = shown;
        m_error = QStringLiteral("not a skin file: %1: larger than %2 MiB")
                      .arg(shown)
                      .arg(MaxFileSize / (1024 * 1024));
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        *this = SkinFile();
        m_path = shown;
        m_error = QStringLiteral("cannot open %1: %2").arg(shown, file.errorString());
        return false;
    }
    return loadData(data, shown);
}

bool SkinFile::fail(int line, const QString &reason)
{
    const QString origin = m_path;
    *this = SkinFile();
    m_path = origin;
    m_error = QStringLiteral("not a skin file: %1 line %2: %3").arg(origin).arg(line).arg(reason);
    return false;
}

bool SkinFile::loadData(const QByteArray &data, const QString &origin)
{
    *this = SkinFile();
    m_path = origin;

    QXmlStreamReader xml(data);
    int depth = 0;
    bool sawRoot = false;
    int styleSheetDepth = -1; // depth of the style sheet element while inside it
    int textDepth = -1;       // depth of a top-level <text> while inside it
    QSet<QString> seen;
    QString styleSheet;

    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        const int line = int(xml.lineNumber());
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QString tag = xml.name().toString();
            const QXmlStreamAttributes attributes = xml.attributes();
            if (depth == 1) {
                if (tag != QLatin1String("svg") ||
                    (!xml.namespaceUri().isEmpty() && xml.namespaceUri() != SvgNamespace)) {
                    return fail(line, QStringLiteral("the document is <%1>, not an SVG picture")
                                          .arg(xml.qualifiedName().toString()));
                }
                sawRoot = true;
                bool widthOk = false;
                bool heightOk = false;
                const double width =
                    parseLength(attributes.value(QLatin1String("width")).toString(), &widthOk);
                const double height =
                    parseLength(attributes.value(QLatin1String("height")).toString(), &heightOk);
                if (widthOk && heightOk) {
                    m_size = QSizeF(width, height);
                } else {
                    const QStringList box =
                        listWords(attributes.value(QLatin1String("viewBox")).toString());
                    if (box.size() == 4)
                        m_size = QSizeF(box.at(2).toDouble(), box.at(3).toDouble());
                }
                if (m_size.isEmpty())
                    return fail(line, QStringLiteral("the picture has no size (width and height)"));
                // The window is made this size, and its surface costs 4 bytes a pixel: a
                // skin may not ask for more than a large screen shows.
                if (!std::isfinite(m_size.width()) || !std::isfinite(m_size.height()) ||
                    m_size.width() > MaxSide || m_size.height() > MaxSide)
                    return fail(line, QStringLiteral("the picture is too large (%1 x %2; at most "
                                                     "%3 pixels a side)")
                                          .arg(m_size.width())
                                          .arg(m_size.height())
                                          .arg(MaxSide));
                continue;
            }

            const QString id = attributes.value(QLatin1String("id")).toString();
            if (!id.isEmpty()) {
                if (seen.contains(id))
                    return fail(line, QStringLiteral("the id \"%1\" is used twice").arg(id));
                seen.insert(id);
                m_ids.append(id);
            }
            if (id == StyleSheetId && styleSheetDepth < 0)
                styleSheetDepth = depth;

            if (depth == 2 && !id.isEmpty() && isDrawable(tag)) {
                Element element;
                element.name = id;
                element.tag = tag;
                element.line = line;
                for (const QXmlStreamAttribute &attribute : attributes) {
                    if (attribute.name() == QLatin1String("style"))
                        unpackStyle(attribute.value().toString(), &element.attributes);
                    else
                        element.attributes.insert(attribute.name().toString(),
                                                  attribute.value().toString());
                }
                m_elements.append(element);
                if (tag == QLatin1String("text"))
                    textDepth = depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == styleSheetDepth)
                styleSheetDepth = -1;
            if (depth == textDepth) {
                m_elements.last().text = m_elements.last().text.simplified();
                textDepth = -1;
            }
            --depth;
        } else if (token == QXmlStreamReader::Characters) {
            if (styleSheetDepth >= 0)
                styleSheet += xml.text();
            if (textDepth >= 0)
                m_elements.last().text += xml.text();
        }
    }
    if (xml.hasError()) {
        const QString reason = xml.error() == QXmlStreamReader::PrematureEndOfDocumentError
                                   ? (sawRoot ? QStringLiteral("the document ends too early")
                                              : QStringLiteral("no XML document"))
                                   : xml.errorString();
        return fail(int(xml.lineNumber()), reason);
    }
    if (!sawRoot)
        return fail(int(xml.lineNumber()), QStringLiteral("no XML document"));

    // States belong to the element named before the dot; they are not elements of their own.
    const QStringList states = stateNames();
    QList<Element> elements;
    QList<Element> stateElements;
    for (const Element &element : std::as_const(m_elements)) {
        const qsizetype dot = element.name.lastIndexOf(QLatin1Char('.'));
        if (dot > 0 && states.contains(element.name.mid(dot + 1)))
            stateElements.append(element);
        else
            elements.append(element);
    }
    // The form comes first; a skin that starts with a state or a text has none.
    QString formName;
    if (!elements.isEmpty() && m_elements.first().name == elements.first().name &&
        elements.first().tag != QLatin1String("text"))
        formName = elements.first().name;
    for (const Element &state : std::as_const(stateElements)) {
        const qsizetype dot = state.name.lastIndexOf(QLatin1Char('.'));
        const QString base = state.name.left(dot);
        auto it = std::find_if(elements.begin(), elements.end(),
                               [&base](const Element &e) { return e.name == base; });
        if (it == elements.end()) {
            return fail(
                state.line,
                QStringLiteral("the state \"%1\" has no element \"%2\"").arg(state.name, base));
        }
        if (it->tag == QLatin1String("text")) {
            return fail(
                state.line,
                QStringLiteral("the text \"%1\" cannot have a state \"%2\"").arg(base, state.name));
        }
        it->states.append(state.name.mid(dot + 1));
    }
    for (Element &element : elements) {
        QStringList ordered;
        for (const QString &state : states) {
            if (element.states.contains(state))
                ordered.append(state);
        }
        element.states = ordered;
    }

    // How elements follow a window that grows: states take their element's place, and
    // only the form says whether the window grows.
    const QString AnchorKey = QStringLiteral("anchor");
    const QString SliceKey = QStringLiteral("slice");
    const QString ResizeKey = QStringLiteral("resize");
    for (const Element &state : std::as_const(stateElements)) {
        for (const QString &key : {AnchorKey, SliceKey, ResizeKey}) {
            if (state.attributes.contains(key))
                return fail(state.line,
                            QStringLiteral("the state \"%1\" takes its element's place: it "
                                           "cannot have \"%2\"")
                                .arg(state.name, key));
        }
    }
    Qt::Orientations resizable;
    for (Element &element : elements) {
        const auto &a = element.attributes;
        const bool isForm = element.name == formName;
        if (a.contains(AnchorKey)) {
            if (isForm)
                return fail(element.line,
                            QStringLiteral("the form \"%1\" always fills the window: it cannot "
                                           "have \"anchor\"")
                                .arg(element.name));
            const std::optional<Qt::Edges> anchors = parseAnchors(a.value(AnchorKey));
            if (!anchors)
                return fail(element.line,
                            QStringLiteral("the anchor \"%1\" of \"%2\" is not a list of left, "
                                           "top, right and bottom")
                                .arg(a.value(AnchorKey), element.name));
            element.anchors = *anchors;
        }
        if (a.contains(SliceKey)) {
            const std::optional<QMarginsF> slice = parseSlice(a.value(SliceKey));
            if (!slice)
                return fail(element.line,
                            QStringLiteral("the slice \"%1\" of \"%2\" is not one to four "
                                           "lengths of at least 0")
                                .arg(a.value(SliceKey), element.name));
            element.slice = *slice;
        }
        if (a.contains(ResizeKey)) {
            const QString value = a.value(ResizeKey).trimmed();
            if (!isForm)
                return fail(element.line,
                            QStringLiteral("only the form says how the window grows: \"%1\" "
                                           "cannot have \"resize\"")
                                .arg(element.name));
            if (value == QLatin1String("both"))
                resizable = Qt::Horizontal | Qt::Vertical;
            else if (value == QLatin1String("horizontal"))
                resizable = Qt::Horizontal;
            else if (value == QLatin1String("vertical"))
                resizable = Qt::Vertical;
            else if (value != QLatin1String("none"))
                return fail(element.line,
                            QStringLiteral("the resize \"%1\" is not none, horizontal, vertical "
                                           "or both")
                                .arg(value));
        }
    }

    m_elements = elements;
    m_formName = formName;
    m_resizable = resizable;
    m_styleSheet = styleSheet.trimmed();
    m_data = data;
    m_loaded = true;
    return true;
}

QStringList SkinFile::elementNames() const
{
    QStringList names;
    names.reserve(m_elements.size());
    for (const Element &element : m_elements)
        names.append(element.name);
    return names;
}

const SkinFile::Element *SkinFile::element(const QString &name) const
{
    for (const Element &element : m_elements) {
        if (element.name == name)
            return &element;
    }
    return nullptr;
}

bool SkinFile::hasElement(const QString &name) const
{
    return element(name) != nullptr;
}

QStringList SkinFile::states(const QString &name) const
{
    const Element *found = element(name);
    return found ? found->states : QStringList();
}

bool SkinFile::hasForm(const QString &name, QString *error) const
{
    if (!m_formName.isEmpty() && name == m_formName)
        return true;
    if (error) {
        *error = m_loaded ? QStringLiteral("the skin has no form \"%1\" (%2)").arg(name, m_path)
                          : QStringLiteral("no skin is loaded");
    }
    return false;
}
