#include "common/testguard.h"

#include "core/skin/skinfile.h"
#include "gui/skin/progressmeter.h"
#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <climits>

namespace {

const QString ShippedSkin = QStringLiteral(WT_SOURCE_DIR "/skins/mp313.skn");
constexpr Qt::Edges AllEdges = Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge;
const QStringList CommandNames =
    QStringLiteral(
        "addfile addfolder remove clear id3 settings tomp3 towav towma toaac torm more stop")
        .split(u' ');

// A small skin with exact colours: a blue body, a red progress fill over it, one button.
QByteArray testSkin(bool withProgress)
{
    QByteArray svg = QByteArrayLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">\n"
        "<g id=\"wavtransform\"><rect width=\"200\" height=\"100\" rx=\"12\" "
        "fill=\"#0000ff\"/></g>\n"
        "<g id=\"go\"><rect x=\"10\" y=\"20\" width=\"40\" height=\"20\" fill=\"#00ff00\"/></g>\n"
        "<g id=\"go.hover\"><rect x=\"10\" y=\"20\" width=\"40\" height=\"20\" "
        "fill=\"#ffff00\"/></g>\n"
        "<rect id=\"close\" x=\"180\" y=\"0\" width=\"20\" height=\"20\" fill=\"#ffffff\"/>\n");
    if (withProgress) {
        svg += QByteArrayLiteral(
            "<rect id=\"pb\" x=\"10\" y=\"60\" width=\"180\" height=\"10\" fill=\"#ff0000\"/>\n"
            "<text id=\"pbpos\" x=\"10\" y=\"90\" font-size=\"12\" fill=\"#ffffff\">0%</text>\n");
    }
    return svg + QByteArrayLiteral("</svg>\n");
}

// Two command buttons, "go" (green) and "next" (cyan), with the skin's own focus ring
// (magenta) and disabled look (grey) for "go", or without them.
QByteArray keyboardSkin(bool ownStates)
{
    QByteArray svg = QByteArrayLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">\n"
        "<rect id=\"wavtransform\" width=\"200\" height=\"100\" fill=\"#0000ff\"/>\n"
        "<rect id=\"go\" x=\"10\" y=\"20\" width=\"40\" height=\"20\" fill=\"#00ff00\"/>\n"
        "<rect id=\"go.hover\" x=\"10\" y=\"20\" width=\"40\" height=\"20\" fill=\"#ffff00\"/>\n"
        "<rect id=\"next\" x=\"60\" y=\"20\" width=\"40\" height=\"20\" fill=\"#00ffff\"/>\n"
        "<rect id=\"next.hover\" x=\"60\" y=\"20\" width=\"40\" height=\"20\" "
        "fill=\"#ffff00\"/>\n"
        "<rect id=\"close\" x=\"180\" y=\"0\" width=\"20\" height=\"20\" fill=\"#ffffff\"/>\n");
    if (ownStates) {
        svg += QByteArrayLiteral(
            "<rect id=\"go.focus\" x=\"7\" y=\"17\" width=\"46\" height=\"26\" fill=\"none\" "
            "stroke=\"#ff00ff\" stroke-width=\"2\"/>\n"
            "<rect id=\"go.disabled\" x=\"10\" y=\"20\" width=\"40\" height=\"20\" "
            "fill=\"#808080\"/>\n");
    }
    return svg + QByteArrayLiteral("</svg>\n");
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() ? path : QString();
}

// The colour at a point in window coordinates, whatever the display scale.
QColor colourAt(const QImage &image, int x, int y)
{
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int(x * ratio), int(y * ratio));
}

QColor colourAt(QWidget &window, int x, int y)
{
    return colourAt(window.grab().toImage(), x, y);
}

class CloseCounter : public QWidget
{
public:
    int closeEvents = 0;
    bool refuse = false;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeEvents;
        if (refuse)
            event->ignore();
    }
};

// A window bound to a skin, with the mouse at hand.
struct Skinned
{
    TSkin skin;
    CloseCounter window;

    // What the main window does: load, attach, assign the form.
    explicit Skinned(const QString &path = ShippedSkin)
    {
        skin.LoadSkinFile(path);
        skin.AttachWindow(&window);
        skin.AssignSkinForm(&window, QStringLiteral("wavtransform"));
    }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    SkinElement *element(const QString &name)
    {
        return skin.GetWindowSkin(&window)->FindElement(name);
    }
    QPoint at(const QString &name)
    {
        return element(name) ? element(name)->rect().center() : QPoint();
    }
    void mouse(QTest::MouseAction action, const QPoint &pos, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseEvent(action, window.windowHandle(), b, {}, pos);
    }
    void click(const QString &name) { mouse(QTest::MouseClick, at(name)); }
};

} // namespace

class tst_Skin : public QObject
{
    Q_OBJECT

private slots:
    void loadFailures_data();
    void loadFailures();
    void skinWithoutProgress();
    void fixedSkin();
    void grownLayout_data();
    void grownLayout();
    void grownDrawing();
    void resizeByHand_data();
    void resizeByHand();
    void doubleClickMaximises();
    void shippedSkin_data();
    void shippedSkin();
    void shippedSkinLayout();
    void pressAndReleaseOnDifferentElements();
    void progressRectAndText();
    void hoverAndPress();
    void dragMovesWindow();
    void keyboardAndDisabled_data();
    void keyboardAndDisabled();
    void progressFrame_data();
    void progressFrame();
    void mulDiv_data();
    void mulDiv();
    void screenshots();
};

void tst_Skin::loadFailures_data()
{
    QTest::addColumn<QString>("name"); // empty: no file at all
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");

    const QByteArray head = QByteArrayLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">\n");
    QTest::newRow("missing file") << QString() << QByteArray() << QStringLiteral("cannot open ");
    QTest::newRow("garbage") << QStringLiteral("garbage.skn")
                             << QByteArray("PK\x03\x04\x14\x00\x00\x00\xff\xfe garbage", 18)
                             << QStringLiteral("line 1: ");
    QTest::newRow("broken xml") << QStringLiteral("broken.skn")
                                << head + "<g id=\"wavtransform\">\n<rect width=\"10\">\n</g></svg>"
                                << QStringLiteral(" line 4: ");
    QTest::newRow("id used twice")
        << QStringLiteral("twice.skn")
        << head + "<g id=\"wavtransform\"/>\n<rect id=\"stop\" width=\"2\" height=\"2\"/>\n"
                  "<rect id=\"stop\" width=\"2\" height=\"2\"/></svg>"
        << QStringLiteral("line 4: the id \"stop\" is used twice");
    QTest::newRow("too large") << QStringLiteral("large.skn") << QByteArray("<svg")
                               << QStringLiteral("larger than 8 MiB");
    // A window of 8193 x 100 pixels would cost more than any screen shows.
    QTest::newRow("window too wide")
        << QStringLiteral("wide.skn")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8193\" height=\"100\">"
                      "<g id=\"wavtransform\"/></svg>")
        << QStringLiteral("line 1: the picture is too large (8193 x 100; at most 8192 pixels");
    QTest::newRow("no form") << QStringLiteral("noform.skn") << head + "<g id=\"mainform\"/></svg>"
                             << QStringLiteral("the skin has no form \"wavtransform\"");

    // How elements follow a window that grows.
    const QByteArray form =
        head + "<g id=\"wavtransform\"><rect width=\"10\" height=\"10\"/></g>\n";
    QTest::newRow("unknown anchor")
        << QStringLiteral("anchor.skn")
        << form + "<rect id=\"go\" width=\"2\" height=\"2\" anchor=\"right middle\"/></svg>"
        << QStringLiteral("line 3: the anchor \"right middle\" of \"go\" is not a list of left");
    QTest::newRow("anchored form")
        << QStringLiteral("form.skn") << head + "<g id=\"wavtransform\" anchor=\"right\"/></svg>"
        << QStringLiteral("line 2: the form \"wavtransform\" always fills the window");
    QTest::newRow("resize on an element")
        << QStringLiteral("resize.skn")
        << form + "<rect id=\"go\" width=\"2\" height=\"2\" resize=\"both\"/></svg>"
        << QStringLiteral("line 3: only the form says how the window grows");
    QTest::newRow("unknown resize")
        << QStringLiteral("resize.skn") << head + "<g id=\"wavtransform\" resize=\"yes\"/></svg>"
        << QStringLiteral("line 2: the resize \"yes\" is not none, horizontal, vertical or both");
    QTest::newRow("negative slice")
        << QStringLiteral("slice.skn")
        << form + "<rect id=\"go\" width=\"2\" height=\"2\" slice=\"1 -2\"/></svg>"
        << QStringLiteral("line 3: the slice \"1 -2\" of \"go\" is not one to four lengths");
    QTest::newRow("five slices")
        << QStringLiteral("slice.skn")
        << form + "<rect id=\"go\" width=\"2\" height=\"2\" slice=\"1 1 1 1 1\"/></svg>"
        << QStringLiteral("line 3: the slice \"1 1 1 1 1\" of \"go\"");
    QTest::newRow("anchored state")
        << QStringLiteral("state.skn")
        << form + "<rect id=\"go\" width=\"2\" height=\"2\"/>\n"
                  "<rect id=\"go.hover\" width=\"2\" height=\"2\" anchor=\"right\"/></svg>"
        << QStringLiteral("line 4: the state \"go.hover\" takes its element's place");
}

void tst_Skin::loadFailures()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(name.isEmpty() ? QStringLiteral("mp313.skn") : name);
    if (!name.isEmpty())
        QVERIFY(!writeFile(dir, name, content).isEmpty());
    if (name == QLatin1String("large.skn"))
        QVERIFY(QFile::resize(path, SkinFile::MaxFileSize + 1));

    try {
        Skinned s(path);
        QFAIL("no SkinError");
    } catch (const SkinError &error) {
        QVERIFY2(error.message().contains(expected), qPrintable(error.message()));
        QVERIFY2(error.message().contains(path), qPrintable(error.message()));
    }
}

void tst_Skin::skinWithoutProgress()
{
    QTemporaryDir dir;
    Skinned s(writeFile(dir, QStringLiteral("plain.skn"), testSkin(false)));
    QCOMPARE(s.element(QStringLiteral("pb")), nullptr);
    QCOMPARE(s.element(QStringLiteral("pbpos")), nullptr);
    QCOMPARE(s.element(QStringLiteral("wavtransform")), nullptr);
    QVERIFY(s.element(QStringLiteral("go")));
    QCOMPARE(s.window.size(), QSize(200, 100));
}

// A skin that does not say the window grows keeps it at its own size, whatever the program
// or the elements' anchors would like.
void tst_Skin::fixedSkin()
{
    QTemporaryDir dir;
    QByteArray svg = testSkin(true);
    svg.replace("<rect id=\"pb\"",
                "<rect id=\"pb\" anchor=\"bottom,right left\" slice=\"1 2px 3\"");
    Skinned s(writeFile(dir, QStringLiteral("fixed.skn"), svg));
    SkinWindow *skinWindow = s.skin.GetWindowSkin(&s.window);
    QCOMPARE(s.skin.skinFile().resizable(), Qt::Orientations());
    QCOMPARE(s.skin.skinFile().element(QStringLiteral("pb"))->anchors,
             Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    QCOMPARE(s.skin.skinFile().element(QStringLiteral("pb"))->slice, QMarginsF(2, 1, 2, 3));
    QCOMPARE(s.skin.skinFile().element(QStringLiteral("go"))->anchors, Qt::LeftEdge | Qt::TopEdge);
    s.window.resize(400, 300);
    QCOMPARE(s.window.size(), QSize(200, 100));
    QCOMPARE(s.window.minimumSize(), QSize(200, 100));
    QCOMPARE(s.window.maximumSize(), QSize(200, 100));
    QCOMPARE(skinWindow->place(QRect(10, 60, 180, 10), AllEdges), QRect(10, 60, 180, 10));
    QCOMPARE(s.element(QStringLiteral("pb"))->rect(), QRect(10, 60, 180, 10));
}

void tst_Skin::grownLayout_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("name"); // an element of the shipped skin, or a widget's place
    QTest::addColumn<QRect>("change"); // added to its rectangle at the skin's size

    const QSize large(900, 600); // 375 wider and 257 taller
    const QSize wide(700, 343);
    QTest::newRow("a list command stays") << large << "addfile" << QRect(0, 0, 0, 0);
    QTest::newRow("a target stays") << large << "tomp3" << QRect(0, 0, 0, 0);
    QTest::newRow("settings keeps to the right") << large << "settings" << QRect(375, 0, 0, 0);
    QTest::newRow("stop keeps to the right") << large << "stop" << QRect(375, 0, 0, 0);
    QTest::newRow("more keeps to the rail's end") << large << "more" << QRect(375, 0, 0, 0);
    QTest::newRow("close keeps to the right") << large << "close" << QRect(375, 0, 0, 0);
    QTest::newRow("the title band stretches across") << large << "caption" << QRect(0, 0, 375, 0);
    QTest::newRow("the rail stretches across") << large << "rail" << QRect(0, 0, 375, 0);
    QTest::newRow("the list frame stretches both ways")
        << large << "listframe" << QRect(0, 0, 375, 257);
    QTest::newRow("the labels keep to the right") << large << "outputlabels" << QRect(375, 0, 0, 0);
    QTest::newRow("the band stretches at the bottom") << large << "pb" << QRect(0, 257, 375, 0);
    QTest::newRow("the percentage keeps to the corner")
        << large << "pbpos" << QRect(375, 257, 0, 0);
    QTest::newRow("the summary keeps to the bottom") << large << "pbinfo" << QRect(0, 257, 0, 0);
    QTest::newRow("only wider: the band stays at its height")
        << wide << "pb" << QRect(0, 0, 175, 0);
    QTest::newRow("place: the list") << large << "@ListView1" << QRect(0, 0, 375, 257);
    QTest::newRow("place: a drop-down list") << large << "@suiComboBox2" << QRect(375, 0, 0, 0);
    QTest::newRow("place: the open button")
        << large << "@OpenOutputButton" << QRect(375, 257, 0, 0);
    QTest::newRow("place: the output label") << large << "@OutputLabel" << QRect(0, 257, 375, 0);
}

// The shipped skin grows: elements and the program's widgets keep to their edges or stretch
// between them.
void tst_Skin::grownLayout()
{
    QFETCH(QSize, size);
    QFETCH(QString, name);
    QFETCH(QRect, change);
    // The widgets' places at the skin's size, with their anchors (docs/skin-format.md).
    const QHash<QString, QPair<QRect, Qt::Edges>> places = {
        {QStringLiteral("@ListView1"), {QRect(12, 103, 332, 182), AllEdges}},
        {QStringLiteral("@suiComboBox2"), {QRect(354, 209, 121, 21), Qt::TopEdge | Qt::RightEdge}},
        {QStringLiteral("@OpenOutputButton"),
         {QRect(284, 288, 60, 19), Qt::RightEdge | Qt::BottomEdge}},
        {QStringLiteral("@OutputLabel"),
         {QRect(12, 289, 268, 17), Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge}},
    };
    Skinned s;
    QVERIFY(s.show());
    SkinWindow *skinWindow = s.skin.GetWindowSkin(&s.window);
    QCOMPARE(s.skin.skinFile().resizable(), Qt::Horizontal | Qt::Vertical);
    auto rectOf = [&] {
        if (name.startsWith(u'@'))
            return skinWindow->place(places[name].first, places[name].second);
        SkinElement *element = s.element(name);
        return element ? element->rect() : QRect();
    };
    const QRect before = rectOf();
    QVERIFY(!before.isEmpty());
    QSignalSpy laidOut(&s.skin, &TSkin::layoutChanged);
    s.window.resize(size);
    QCOMPARE(s.window.size(), size);
    QCOMPARE(laidOut.count(), 1);
    const QRect expected = before.adjusted(change.x(), change.y(), change.x() + change.width(),
                                           change.y() + change.height());
    QCOMPARE(rectOf(), expected);
    // And back: nothing is left over from the larger size.
    s.window.resize(525, 343);
    QCOMPARE(rectOf(), before);
}

// Grown, the skin is drawn whole: the body reaches the far corner (the shape round there, too),
// the progress band spans the new width, and a part of it set before follows it.
void tst_Skin::grownDrawing()
{
    Skinned s;
    QVERIFY(s.show());
    SkinElement *bar = s.element(QStringLiteral("pb"));
    bar->SetElementRect(12, 310, 12 + 469, 322);
    s.window.resize(900, 600);
    QCOMPARE(bar->pictureBounds(), QRectF(12, 567, 844, 12));
    QCOMPARE(bar->rect(), QRect(12, 567, 844, 12));
    const QImage image = s.window.grab().toImage();
    const QColor track = colourAt(image, 450, 587 - 14); // the fill's middle
    QVERIFY2(track.green() > 150 && track.red() < 120, qPrintable(track.name()));
    const QColor body = colourAt(image, 880, 540);
    QVERIFY2(body.red() > 25 && body.red() < 70, qPrintable(body.name()));
    const QRegion mask = s.window.mask();
    for (const QPoint &p : {QPoint(0, 0), QPoint(899, 0), QPoint(0, 599), QPoint(899, 599)})
        QVERIFY(!mask.contains(p));
    for (const QPoint &p :
         {QPoint(450, 0), QPoint(0, 300), QPoint(899, 300), QPoint(450, 599), QPoint(894, 594)})
        QVERIFY(mask.contains(p));
}

void tst_Skin::resizeByHand_data()
{
    QTest::addColumn<QPoint>("press"); // in the window, at 525 x 343
    QTest::addColumn<QPoint>("move");
    QTest::addColumn<QRect>("change"); // of the window's geometry

    QTest::newRow("right edge") << QPoint(523, 171) << QPoint(100, 40) << QRect(0, 0, 100, 0);
    QTest::newRow("bottom edge") << QPoint(262, 341) << QPoint(30, 60) << QRect(0, 0, 0, 60);
    QTest::newRow("bottom right corner, along the edge")
        << QPoint(523, 332) << QPoint(50, 60) << QRect(0, 0, 50, 60);
    QTest::newRow("left edge") << QPoint(1, 171) << QPoint(-80, 0) << QRect(-80, 0, 80, 0);
    QTest::newRow("top left corner") << QPoint(2, 8) << QPoint(-20, -30) << QRect(-20, -30, 20, 30);
    QTest::newRow("not below the skin's size")
        << QPoint(523, 341) << QPoint(-200, -100) << QRect(0, 0, 0, 0);
    QTest::newRow("left edge inwards") << QPoint(1, 171) << QPoint(60, 0) << QRect(0, 0, 0, 0);
    QTest::newRow("the background moves")
        << QPoint(262, 200) << QPoint(40, 30) << QRect(40, 30, 0, 0);
}

// The edges of a window that can grow resize it (by hand where no window manager does).
void tst_Skin::resizeByHand()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, move);
    QFETCH(QRect, change);
    Skinned s;
    s.window.move(300, 300);
    QVERIFY(s.show());
    const QRect start = s.window.geometry();
    s.mouse(QTest::MousePress, press);
    QTest::mouseMove(s.window.windowHandle(), press + move);
    // Where the pointer is now, in the window as it has become.
    s.mouse(QTest::MouseRelease, press + move - change.topLeft());
    const QRect expected = start.adjusted(change.x(), change.y(), change.x() + change.width(),
                                          change.y() + change.height());
    QTRY_COMPARE(s.window.geometry(), expected);
}

// A double click on the title band maximises the window and brings it back; elsewhere it
// does not, and the shape follows the size.
void tst_Skin::doubleClickMaximises()
{
    Skinned s;
    QVERIFY(s.show());
    QSignalSpy clicks(&s.skin, &TSkin::OnClick);
    QTest::mouseDClick(s.window.windowHandle(), Qt::LeftButton, {}, QPoint(262, 330));
    QVERIFY(!s.window.isMaximized());
    QTest::mouseDClick(s.window.windowHandle(), Qt::LeftButton, {}, QPoint(262, 12));
    QTRY_VERIFY(s.window.isMaximized());
    QTRY_VERIFY(s.window.width() > 525);
    QTRY_VERIFY(s.window.mask().contains(QPoint(s.window.width() / 2, s.window.height() - 1)));
    QTest::mouseDClick(s.window.windowHandle(), Qt::LeftButton, {}, QPoint(262, 12));
    QTRY_VERIFY(!s.window.isMaximized());
    QTRY_COMPARE(s.window.size(), QSize(525, 343));
    QCOMPARE(clicks.count(), 0);
}

void tst_Skin::shippedSkin_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("role");
    for (const QString &name : CommandNames)
        QTest::newRow(qPrintable(name)) << name << QStringLiteral("command");
    for (const char *name : {"minimize", "close", "pb", "pbpos", "pbinfo"})
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(name);
}

// Every element the program needs is there, and a real click on it does the right thing.
void tst_Skin::shippedSkin()
{
    QFETCH(QString, name);
    QFETCH(QString, role);
    Skinned s;
    SkinElement *element = s.element(name);
    QVERIFY(element);
    QVERIFY(QRect(0, 0, 525, 343).contains(element->rect()));
    QCOMPARE(element->isButton(), !name.startsWith(QLatin1String("pb")));
    if (!element->isButton())
        return;
    QStringList states = {QStringLiteral("hover"), QStringLiteral("down")};
    if (role == QLatin1String("command"))
        states << QStringLiteral("focus") << QStringLiteral("disabled");
    QCOMPARE(s.skin.skinFile().states(name), states);

    QVERIFY(s.show());
    QStringList clicked;
    connect(&s.skin, &TSkin::OnClick, this,
            [&clicked](SkinElement *source) { clicked.append(source->GetElementName()); });
    s.window.refuse = true;
    s.click(name);
    QCOMPARE(clicked, role == QLatin1String("command") ? QStringList(name) : QStringList());
    QCOMPARE(s.window.closeEvents, role == QLatin1String("close") ? 1 : 0);
    if (role == QLatin1String("minimize"))
        QTRY_VERIFY(s.window.isMinimized());
    if (role == QLatin1String("close")) {
        QVERIFY(s.window.isVisible()); // the window refused
        s.window.refuse = false;
        s.click(name);
        QVERIFY(!s.window.isVisible());
        QVERIFY(clicked.isEmpty());
    }
}

// Nothing may cover the places where the program puts its widgets and the progress.
void tst_Skin::shippedSkinLayout()
{
    Skinned s;
    QCOMPARE(s.window.size(), QSize(525, 343));
    // The list, the output folder's label and button, the drop-down lists and the progress
    // track.
    const QList<QRect> reserved = {QRect(12, 103, 332, 182), QRect(12, 289, 268, 17),
                                   QRect(284, 288, 60, 19),  QRect(354, 156, 121, 21),
                                   QRect(354, 209, 121, 21), QRect(354, 261, 121, 21),
                                   QRect(12, 310, 469, 12)};
    QList<QRect> buttons;
    for (const auto &element : s.skin.GetWindowSkin(&s.window)->elements()) {
        if (!element->isButton())
            continue;
        const QRect area = element->area();
        for (const QRect &other : reserved + buttons)
            QVERIFY2(!area.intersects(other), qPrintable(element->GetElementName()));
        buttons.append(area);
    }
    QCOMPARE(buttons.size(), CommandNames.size() + 2);

    // Rounded corners: the shape leaves them out but keeps the edges.
    const QRegion mask = s.window.mask();
    for (const QPoint &p : {QPoint(0, 0), QPoint(524, 0), QPoint(0, 342), QPoint(524, 342)})
        QVERIFY(!mask.contains(p));
    for (const QPoint &p : {QPoint(262, 0), QPoint(0, 171), QPoint(524, 171), QPoint(262, 342)})
        QVERIFY(mask.contains(p));
}

void tst_Skin::pressAndReleaseOnDifferentElements()
{
    Skinned s;
    QVERIFY(s.show());
    QSignalSpy spy(&s.skin, &TSkin::OnClick);
    const QPoint background(200, 330);
    s.mouse(QTest::MousePress, s.at(QStringLiteral("addfile")));
    s.mouse(QTest::MouseRelease, s.at(QStringLiteral("remove")));
    s.mouse(QTest::MousePress, s.at(QStringLiteral("tomp3")));
    s.mouse(QTest::MouseRelease, background);
    s.mouse(QTest::MousePress, background);
    s.mouse(QTest::MouseRelease, s.at(QStringLiteral("stop")));
    s.mouse(QTest::MouseClick, s.at(QStringLiteral("clear")), Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    // And the engine is not left thinking a button is held.
    s.click(QStringLiteral("clear"));
    QCOMPARE(spy.count(), 1);
}

void tst_Skin::progressRectAndText()
{
    QTemporaryDir dir;
    Skinned s(writeFile(dir, QStringLiteral("progress.skn"), testSkin(true)));
    SkinElement *bar = s.element(QStringLiteral("pb"));
    SkinElement *text = s.element(QStringLiteral("pbpos"));
    QVERIFY(bar && text);

    // Win32 RECT semantics: right and bottom are exclusive.
    bar->SetElementRect(10, 60, 10, 70);
    bar->RedrawElement();
    QCOMPARE(colourAt(s.window, 10, 65), QColor(Qt::blue));
    bar->SetElementRect(10, 60, 50, 70);
    bar->RedrawElement();
    const QImage image = s.window.grab().toImage();
    QCOMPARE(colourAt(image, 10, 65), QColor(Qt::red));
    QCOMPARE(colourAt(image, 49, 65), QColor(Qt::red));
    for (const QPoint &p : {QPoint(50, 65), QPoint(30, 59), QPoint(30, 70)})
        QCOMPARE(colourAt(image, p.x(), p.y()), QColor(Qt::blue));

    // The text: white pixels reach further right for "100%" than for "0%".
    auto rightmostLight = [&s]() {
        const QImage shot = s.window.grab().toImage();
        int rightmost = -1;
        for (int y = 75; y < 95; ++y) {
            for (int x = 0; x < 120; ++x) {
                if (colourAt(shot, x, y).red() > 128 && colourAt(shot, x, y).green() > 128)
                    rightmost = std::max(rightmost, x);
            }
        }
        return rightmost;
    };
    const int shortText = rightmostLight();
    text->SetElementText(QStringLiteral("100%"));
    text->RedrawElement();
    const int longText = rightmostLight();
    QVERIFY2(shortText > 10 && longText > shortText + 10,
             qPrintable(QStringLiteral("%1 %2").arg(shortText).arg(longText)));
    QVERIFY(text->area().contains(QPoint(longText, 85)));
}

void tst_Skin::hoverAndPress()
{
    QTemporaryDir dir;
    Skinned s(writeFile(dir, QStringLiteral("states.skn"), testSkin(true)));
    QVERIFY(s.show());
    QWindow *handle = s.window.windowHandle();

    // "go" has a hover state (yellow) and no down state (darkened by the engine).
    QCOMPARE(colourAt(s.window, 30, 30), QColor(Qt::green));
    QTest::mouseMove(handle, QPoint(30, 30));
    QTRY_COMPARE(colourAt(s.window, 30, 30), QColor(Qt::yellow));
    s.mouse(QTest::MousePress, QPoint(30, 30));
    const QImage pressed = s.window.grab().toImage();
    QVERIFY(colourAt(pressed, 30, 30).green() < 230 && colourAt(pressed, 30, 30).green() > 100);
    QCOMPARE(colourAt(pressed, 10, 30), QColor(Qt::blue)); // shifted a pixel right
    s.mouse(QTest::MouseRelease, QPoint(30, 30));
    QTest::mouseMove(handle, QPoint(100, 50));
    QTRY_COMPARE(colourAt(s.window, 30, 30), QColor(Qt::green));

    // A picture such as the progress fill has no states.
    QTest::mouseMove(handle, QPoint(100, 65));
    QCOMPARE(colourAt(s.window, 100, 65), QColor(Qt::red));
}

void tst_Skin::dragMovesWindow()
{
    Skinned s;
    s.window.move(100, 100);
    QVERIFY(s.show());
    const QPoint start = s.window.pos();
    QSignalSpy spy(&s.skin, &TSkin::OnClick);
    s.mouse(QTest::MousePress, QPoint(250, 12));
    QTest::mouseMove(s.window.windowHandle(), QPoint(290, 42));
    s.mouse(QTest::MouseRelease, QPoint(250, 12));
    QTRY_COMPARE(s.window.pos(), start + QPoint(40, 30));
    QCOMPARE(spy.count(), 0);
}

void tst_Skin::keyboardAndDisabled_data()
{
    QTest::addColumn<bool>("ownStates");
    QTest::newRow("the skin's focus and disabled states") << true;
    QTest::newRow("the engine's ring and fading") << false;
}

// Tab reaches the command buttons (not the engine's), the focused one shows a ring and runs
// on Space; a disabled one looks so, ignores the pointer, and gives the focus back when
// enabled again.
void tst_Skin::keyboardAndDisabled()
{
    QFETCH(bool, ownStates);
    QTemporaryDir dir;
    Skinned s(writeFile(dir, QStringLiteral("keys.skn"), keyboardSkin(ownStates)));
    QVERIFY(s.show());
    s.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s.window));
    SkinWindow *skinWindow = s.skin.GetWindowSkin(&s.window);
    const QList<QWidget *> chain = skinWindow->focusChain();
    QCOMPARE(chain.size(), 2);
    QSignalSpy clicks(&s.skin, &TSkin::OnClick);

    const QPoint ring(7, 30), inside(30, 30);
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus(); // the window gave its first button the focus
    s.click(QStringLiteral("go"));
    QVERIFY(!chain[0]->hasFocus()); // a click leaves no ring behind
    QCOMPARE(colourAt(s.window, ring.x(), ring.y()), QColor(Qt::blue));
    chain[0]->setFocus(Qt::TabFocusReason);
    const QColor ringColour = colourAt(s.window, ring.x(), ring.y());
    QVERIFY2(ownStates ? ringColour == QColor(Qt::magenta) : ringColour != QColor(Qt::blue),
             qPrintable(ringColour.name()));
    QTest::keyClick(chain[0], Qt::Key_Space);
    QTest::keyClick(chain[0], Qt::Key_Tab);
    QVERIFY(chain[1]->hasFocus());
    QTest::keyClick(chain[1], Qt::Key_Return);
    QCOMPARE(clicks.count(), 3);
    QCOMPARE(clicks.at(2).at(0).value<SkinElement *>()->GetElementName(), QStringLiteral("next"));

    chain[0]->setFocus(Qt::TabFocusReason);
    skinWindow->setElementsEnabled({QStringLiteral("go")}, false);
    QVERIFY(chain[1]->hasFocus()); // moved on
    const QColor veiled = colourAt(s.window, inside.x(), inside.y());
    if (ownStates)
        QCOMPARE(veiled, QColor(0x80, 0x80, 0x80));
    else
        QVERIFY2(veiled.green() < 200 && veiled.blue() > 100, qPrintable(veiled.name()));
    QTest::mouseMove(s.window.windowHandle(), inside);
    s.click(QStringLiteral("go"));
    QCOMPARE(colourAt(s.window, inside.x(), inside.y()), veiled); // no hover either
    QCOMPARE(colourAt(s.window, ring.x(), ring.y()), QColor(Qt::blue));
    QCOMPARE(clicks.count(), 3);

    QTest::mouseMove(s.window.windowHandle(), QPoint(150, 80));
    skinWindow->setElementsEnabled({QStringLiteral("go")}, true);
    QVERIFY(chain[0]->hasFocus());
    QCOMPARE(colourAt(s.window, inside.x(), inside.y()), QColor(Qt::green));
}

// With WT_SCREENSHOT_DIR set, saves pictures of the skinned window with the main window's
// widgets in place (scripts/skin-screenshot runs this at display scales 1 and 2).
void tst_Skin::screenshots()
{
    const QString folder = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("WT_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    auto save = [&folder](const char *what, QWidget *widget) {
        const QPixmap shot = widget->grab();
        const qreal ratio = shot.devicePixelRatio();
        QImage picture(shot.size() + QSize(48, 48) * ratio, QImage::Format_RGB32);
        picture.setDevicePixelRatio(ratio);
        picture.fill(QColor(0x5b, 0x62, 0x6c));
        QPainter painter(&picture);
        painter.translate(24, 24);
        painter.setClipRegion(widget->mask().isEmpty() ? QRegion(widget->rect()) : widget->mask());
        painter.drawPixmap(0, 0, shot);
        painter.end();
        const QString name = QStringLiteral("skin-%1-@%2x.png").arg(QLatin1String(what));
        QVERIFY(picture.save(QDir(folder).filePath(name.arg(qRound(ratio)))));
    };

    Skinned s;
    SkinWindow *skinWindow = s.skin.GetWindowSkin(&s.window);
    QStandardItemModel model;
    model.setHorizontalHeaderLabels(QStringLiteral("File Title,Time,Size,Status").split(u','));
    auto *list = new QTreeView(&s.window);
    list->setObjectName(QStringLiteral("ListView1"));
    list->setRootIsDecorated(false);
    list->setModel(&model);
    skinWindow->anchorWidget(list, QRect(12, 103, 332, 182), AllEdges);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column)
        list->header()->resizeSection(column, 62);
    auto *output = new QLabel(QStringLiteral("/home/user/Music"), &s.window);
    output->setObjectName(QStringLiteral("OutputLabel"));
    skinWindow->anchorWidget(output, QRect(12, 289, 268, 17),
                             Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge);
    auto *open = new QPushButton(QStringLiteral("Open"), &s.window);
    open->setObjectName(QStringLiteral("OpenOutputButton"));
    skinWindow->anchorWidget(open, QRect(284, 288, 60, 19), Qt::RightEdge | Qt::BottomEdge);
    QComboBox *combos[3];
    const char *items[3] = {"44100 Hz", "128 Kbps", "Stereo"};
    for (int i = 0; i < 3; ++i) {
        combos[i] = new QComboBox(&s.window);
        combos[i]->setObjectName(QStringLiteral("suiComboBox%1").arg(i + 1));
        combos[i]->addItems({QString::fromLatin1(items[i]), QStringLiteral("Other")});
        skinWindow->anchorWidget(combos[i], QRect(354, QList<int>({156, 209, 261}).at(i), 121, 21),
                                 Qt::TopEdge | Qt::RightEdge);
    }
    // Half the band, wherever the band is at the window's size.
    auto showHalf = [&s] {
        SkinElement *bar = s.element(QStringLiteral("pb"));
        const QRect band = bar->pictureBounds().toAlignedRect();
        bar->SetElementRect(band.left(), band.top(), band.left() + band.width() / 2,
                            band.bottom() + 1);
        bar->RedrawElement();
    };
    showHalf();
    s.element(QStringLiteral("pbpos"))->SetElementText(QStringLiteral("50%"));
    s.element(QStringLiteral("pbinfo"))->SetElementText(QStringLiteral("5 converted, 1 failed"));
    QVERIFY(s.show());
    save("empty", &s.window);

    for (const char *row : {"Morning raga,00:06:12,5.68MB,Finish",
                            "A very long file name that does not fit,00:03:41,3.37MB,Converting",
                            "Interview,00:45:30,41.66MB,Unconvert"}) {
        QList<QStandardItem *> cells;
        for (const QString &cell : QString::fromLatin1(row).split(u','))
            cells.append(new QStandardItem(cell));
        model.appendRow(cells);
    }
    list->setCurrentIndex(model.index(1, 0));
    QTest::mouseMove(s.window.windowHandle(), s.at(QStringLiteral("towav")));
    QCoreApplication::processEvents();
    save("rows-hover", &s.window);

    // Grown: the list, the rails and the band stretch, the right column keeps to the edge.
    QSignalSpy laidOut(&s.skin, &TSkin::layoutChanged);
    s.window.resize(900, 600);
    QTRY_COMPARE(s.window.size(), QSize(900, 600));
    QVERIFY(!laidOut.isEmpty());
    showHalf();
    QTest::mouseMove(s.window.windowHandle(), s.at(QStringLiteral("settings")));
    QCoreApplication::processEvents();
    save("900x600", &s.window);
    s.window.resize(525, 343);
    QTRY_COMPARE(s.window.size(), QSize(525, 343));

    combos[1]->showPopup();
    QVERIFY(QTest::qWaitForWindowExposed(combos[1]->view()->window()));
    save("dropdown", combos[1]->view()->window());
}

// The band's arithmetic, in the skin's pixels.
void tst_Skin::progressFrame_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("fullWidth");
    QTest::addColumn<int>("right"); // -1: nothing drawn
    QTest::addColumn<QString>("text");
    const int design = ProgressGeometry::FullWidth;
    QTest::newRow("empty") << 0 << 100 << design << 12 << u"0%"_qs;
    QTest::newRow("full") << 100 << 100 << design << 481 << u"100%"_qs;
    QTest::newRow("one third") << 1 << 3 << design << 12 + 156 << u"33%"_qs;
    QTest::newRow("two thirds") << 2 << 3 << design << 12 + 313 << u"66%"_qs;
    QTest::newRow("past the total") << 101 << 100 << design << -1 << QString();
    QTest::newRow("zero total") << 0 << 0 << design << 12 << u"0%"_qs;
    QTest::newRow("report on zero total") << 5 << 0 << design << -1 << QString();
    QTest::newRow("large, no overflow") << INT_MAX - 1 << INT_MAX << design << 481 << u"99%"_qs;
    QTest::newRow("negative done") << -5 << 100 << design << 12 << u"0%"_qs;
    // A window grown by 400 pixels: the same share of the longer band.
    QTest::newRow("grown, two thirds") << 2 << 3 << design + 400 << 12 + 579 << u"66%"_qs;
    QTest::newRow("grown, full") << 3 << 3 << design + 400 << 881 << u"100%"_qs;
}

void tst_Skin::progressFrame()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, fullWidth);
    QFETCH(int, right);
    QFETCH(QString, text);
    const std::optional<ProgressFrame> frame =
        ProgressFrameFor(done, total, ProgressGeometry::Left, fullWidth);
    QCOMPARE(frame.has_value(), right >= 0);
    if (frame) {
        QCOMPARE(frame->right, right);
        QCOMPARE(frame->text, text);
        QCOMPARE(QString::number(frame->percent) + u'%', text);
    }
}

void tst_Skin::mulDiv_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("numerator");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<int>("result");
    QTest::newRow("half up") << 1 << 3 << 2 << 2;
    QTest::newRow("negative half away from zero") << -1 << 3 << 2 << -2;
    QTest::newRow("negative denominator") << 5 << 1 << -2 << -3;
    QTest::newRow("all negative") << -5 << -1 << -2 << -3;
    QTest::newRow("below half") << 1 << 1 << 3 << 0;
    QTest::newRow("above half") << 2 << 1 << 3 << 1;
    QTest::newRow("divide by zero") << 7 << 1 << 0 << -1;
    QTest::newRow("64-bit product") << INT_MAX << INT_MAX << INT_MAX << INT_MAX;
    QTest::newRow("result too big") << INT_MAX << 2 << 1 << -1;
    QTest::newRow("result too small") << INT_MIN << 1 << 1 << -1;
}

void tst_Skin::mulDiv()
{
    QFETCH(int, number);
    QFETCH(int, numerator);
    QFETCH(int, denominator);
    QFETCH(int, result);
    QCOMPARE(MulDiv(number, numerator, denominator), result);
}

WT_SAFE_TEST_MAIN(tst_Skin)
#include "tst_skin.moc"
