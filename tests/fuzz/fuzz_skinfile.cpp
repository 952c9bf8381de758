// Any bytes as a skin file: the parser either refuses them with a located reason or
// gives a skin the window can use (a drawable size, a form, unique elements, known states,
// anchors and slices it can lay out).
#include "fuzzcheck.h"

#include "core/skin/skinfile.h"

#include <QSet>

#include <cmath>

namespace {

constexpr double MaxSide = SkinFile::MaxSide;

const QString Origin = QStringLiteral("fuzz.skn");

void checkLoaded(const SkinFile &skin, const QByteArray &bytes)
{
    FUZZ_CHECK(skin.isLoaded() && skin.errorString().isEmpty());
    FUZZ_CHECK(skin.svgData() == bytes);
    const QSizeF size = skin.size();
    // The window is made this size in whole pixels.
    FUZZ_CHECK(std::isfinite(size.width()) && std::isfinite(size.height()));
    FUZZ_CHECK(size.width() > 0 && size.height() > 0);
    FUZZ_CHECK(size.width() <= MaxSide && size.height() <= MaxSide);

    const QStringList names = skin.elementNames();
    FUZZ_CHECK(QSet<QString>(names.begin(), names.end()).size() == names.size());
    const QStringList ids = skin.elementIds();
    FUZZ_CHECK(QSet<QString>(ids.begin(), ids.end()).size() == ids.size());
    const QStringList stateNames = SkinFile::stateNames();
    for (const QString &name : names) {
        FUZZ_CHECK(!name.isEmpty() && ids.contains(name));
        const SkinFile::Element *element = skin.element(name);
        FUZZ_CHECK(element && element->name == name && skin.hasElement(name));
        FUZZ_CHECK(element->line >= 1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        FUZZ_CHECK(dot <= 0 || !stateNames.contains(name.mid(dot + 1)));
        qsizetype last = -1;
        for (const QString &state : element->states) {
            const qsizetype at = stateNames.indexOf(state);
            FUZZ_CHECK(at > last); // known, once, in order
            last = at;
            FUZZ_CHECK(ids.contains(name + QLatin1Char('.') + state));
        }
        if (!element->states.isEmpty())
            FUZZ_CHECK(element->tag != QLatin1String("text"));
        FUZZ_CHECK(skin.states(name) == element->states);
        // One edge at least along each axis; a border the window can draw.
        FUZZ_CHECK(element->anchors & (Qt::LeftEdge | Qt::RightEdge));
        FUZZ_CHECK(element->anchors & (Qt::TopEdge | Qt::BottomEdge));
        for (const double side : {element->slice.left(), element->slice.top(),
                                  element->slice.right(), element->slice.bottom()})
            FUZZ_CHECK(std::isfinite(side) && side >= 0 && side <= MaxSide);
    }
    // Only a form makes a window that grows.
    if (skin.resizable())
        FUZZ_CHECK(!skin.formName().isEmpty());
    const QString form = skin.formName();
    if (!form.isEmpty()) {
        FUZZ_CHECK(!names.isEmpty() && names.first() == form);
        FUZZ_CHECK(skin.element(form)->tag != QLatin1String("text"));
        FUZZ_CHECK(skin.hasForm(form));
    }
    QString error;
    FUZZ_CHECK(!skin.hasForm(form + QLatin1Char('x'), &error) && !error.isEmpty());
}

void checkRefused(const SkinFile &skin)
{
    FUZZ_CHECK(!skin.isLoaded());
    FUZZ_CHECK(skin.errorString().startsWith(QStringLiteral("not a skin file: fuzz.skn line ")));
    FUZZ_CHECK(skin.elements().isEmpty() && skin.elementIds().isEmpty());
    FUZZ_CHECK(skin.formName().isEmpty() && skin.svgData().isEmpty());
    FUZZ_CHECK(skin.path() == Origin);
    FUZZ_CHECK(!skin.hasForm(QStringLiteral("wavtransform")));
}

} // namespace

int FuzzSkinFile(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    SkinFile skin;
    const bool loaded = skin.loadData(bytes, Origin);
    FUZZ_CHECK(loaded == skin.isLoaded());
    if (loaded)
        checkLoaded(skin, bytes);
    else
        checkRefused(skin);

    // A second load over the first gives the same answer: nothing is left over.
    SkinFile again;
    again.loadData(QByteArrayLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" "
                                     "height=\"9\"><rect id=\"old\" width=\"1\"/></svg>"),
                   Origin);
    FUZZ_CHECK(again.loadData(bytes, Origin) == loaded);
    FUZZ_CHECK(again.errorString() == skin.errorString());
    FUZZ_CHECK(again.elementIds() == skin.elementIds());
    FUZZ_CHECK(again.elementNames() == skin.elementNames());
    FUZZ_CHECK(again.formName() == skin.formName());
    FUZZ_CHECK(again.styleSheet() == skin.styleSheet());
    FUZZ_CHECK(again.resizable() == skin.resizable());
    return 0;
}
