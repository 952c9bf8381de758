#include "skin/skinelement.h"
#include "skin/skinfile.h"
#include "skin/skinsurface.h"
#include "skin/skinwindow.h"
#include "skin/tskin.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeView>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

const QString ShippedSkin = QStringLiteral(WT_SOURCE_DIR "/skins/mp313.skn");
const QStringList CommandNames = {
    QStringLiteral("addfile"), QStringLiteral("addfolder"), QStringLiteral("remove"),
    QStringLiteral("clear"),   QStringLiteral("id3"),       QStringLiteral("settings"),
    QStringLiteral("tomp3"),   QStringLiteral("towav"),     QStringLiteral("towma"),
    QStringLiteral("toaac"),   QStringLiteral("torm"),      QStringLiteral("stop")};

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

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return QString();
    return path;
}

// What the main window does: load, attach, assign the form.
void bindSkin(TSkin &skin, QWidget &window, const QString &path)
{
    skin.LoadSkinFile(path);
    skin.AttachWindow(&window);
    skin.AssignSkinForm(&window, QStringLiteral("wavtransform"));
}

QPoint centreOf(TSkin &skin, QWidget &window, const QString &name)
{
    SkinElement *element = skin.GetWindowSkin(&window)->FindElement(name);
    return element ? element->rect().center() : QPoint(-1, -1);
}

// The colour at a point in window coordinates, whatever the display scale.
QColor colourAt(const QImage &image, int x, int y)
{
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int(x * ratio), int(y * ratio));
}

QImage grabbed(QWidget &window)
{
    return window.grab().toImage();
}

bool near(QColor a, QColor b, int tolerance = 8)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
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

// Binds the skin when first shown, as the main window does.
class BindsOnShow : public QWidget
{
public:
    TSkin skin;
    bool bound = false;

protected:
    void showEvent(QShowEvent *event) override
    {
        QWidget::showEvent(event);
        if (!bound) {
            bound = true;
            bindSkin(skin, *this, ShippedSkin);
        }
    }
};

// The main window's widgets at their places, for looking at the skin.
struct Showcase
{
    QWidget window;
    QTreeView *list = nullptr;
    QStandardItemModel model;
    QComboBox *combos[3] = {};

    Showcase()
    {
        window.setObjectName(QStringLiteral("MainForm"));
        window.setWindowTitle(QStringLiteral("Wavetransmuter"));
        model.setHorizontalHeaderLabels({QStringLiteral("File Title"), QStringLiteral("Time"),
                                         QStringLiteral("Size"), QStringLiteral("Status")});
        list = new QTreeView(&window);
        list->setObjectName(QStringLiteral("ListView1"));
        list->setRootIsDecorated(false);
        list->setModel(&model);
        list->setGeometry(12, 103, 332, 204);
        list->header()->resizeSection(0, 146);
        list->header()->resizeSection(1, 62);
        list->header()->resizeSection(2, 54);
        list->header()->resizeSection(3, 60);
        const QStringList items[3] = {
            {QStringLiteral("22050 Hz"), QStringLiteral("44100 Hz"), QStringLiteral("48000 Hz")},
            {QStringLiteral("96 Kbps"), QStringLiteral("128 Kbps"), QStringLiteral("320 Kbps")},
            {QStringLiteral("Mono"), QStringLiteral("Stereo")}};
        const int tops[3] = {156, 209, 261};
        for (int i = 0; i < 3; ++i) {
            combos[i] = new QComboBox(&window);
            combos[i]->setObjectName(QStringLiteral("suiComboBox%1").arg(i + 1));
            combos[i]->addItems(items[i]);
            combos[i]->setCurrentIndex(1);
            combos[i]->setGeometry(354, tops[i], 121, 21);
        }
    }

    void addRows()
    {
        const char *rows[][4] = {{"Morning raga", "00:06:12", "5.68MB", "Finish"},
                                 {"A very long file name that does not fit in its column at all",
                                  "00:03:41", "3.37MB", "Converting"},
                                 {"Field recording 03", "00:12:05", "11.06MB", "Unconvert"},
                                 {"Interview", "00:45:30", "41.66MB", "Unconvert"}};
        for (const auto &row : rows) {
            QList<QStandardItem *> items;
            for (const char *text : row)
                items.append(new QStandardItem(QString::fromUtf8(text)));
            model.appendRow(items);
        }
        list->setCurrentIndex(model.index(1, 0));
        list->setFocus();
    }
};

} // namespace

class tst_Skin : public QObject
{
    Q_OBJECT

private slots:
    void loadFailures_data();
    void loadFailures();
    void operationsNeedSkinAndWindow();
    void failedLoadKeepsSkin();
    void reloadKeepsElements();
    void skinWithoutProgress();
    void shippedSkinElements_data();
    void shippedSkinElements();
    void shippedSkinLayout();
    void clickEmitsName_data();
    void clickEmitsName();
    void pressAndReleaseOnDifferentElements();
    void closeAndMinimize();
    void progressRectAndText();
    void progressOnShippedSkin();
    void hoverAndPress();
    void dragMovesWindow();
    void maskFollowsCorners();
    void toolTips();
    void attachShownWindow();
    void attachWhileShowing();
    void styleSheet();
    void screenshots();
};

void tst_Skin::loadFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // empty with a null name: no file at all
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing file") << QByteArray() << QString() << QStringLiteral("cannot open ");
    QTest::newRow("folder") << QByteArray() << QStringLiteral("folder")
                            << QStringLiteral("cannot open ");
    QTest::newRow("empty file") << QByteArray("") << QStringLiteral("empty.skn")
                                << QStringLiteral("not a skin file: ");
    QTest::newRow("garbage") << QByteArray("PK\x03\x04\x14\x00\x00\x00\xff\xfe garbage", 18)
                             << QStringLiteral("garbage.skn") << QStringLiteral("line 1: ");
    QTest::newRow("not svg") << QByteArray("<html><body/></html>") << QStringLiteral("page.skn")
                             << QStringLiteral(
                                    "line 1: the document is <html>, not an SVG picture");
    QTest::newRow("broken xml")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">\n"
                      "<g id=\"wavtransform\">\n<rect width=\"10\" height=\"10\">\n</g></svg>")
        << QStringLiteral("broken.skn") << QStringLiteral(" line 4: ");
    QTest::newRow("no size") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\">"
                                           "<g id=\"wavtransform\"/></svg>")
                             << QStringLiteral("nosize.skn")
                             << QStringLiteral("line 1: the picture has no size");
    QTest::newRow("id used twice")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">\n"
                      "<g id=\"wavtransform\"/>\n<rect id=\"stop\" width=\"2\" height=\"2\"/>\n"
                      "<rect id=\"stop\" width=\"2\" height=\"2\"/></svg>")
        << QStringLiteral("twice.skn") << QStringLiteral("line 4: the id \"stop\" is used twice");
    QTest::newRow("state without element")
        << QByteArray(
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">\n"
               "<g id=\"wavtransform\"/>\n<rect id=\"stop.down\" width=\"2\" height=\"2\"/></svg>")
        << QStringLiteral("orphan.skn")
        << QStringLiteral("line 3: the state \"stop.down\" has no element \"stop\"");
    QTest::newRow("too large") << QByteArray("<svg") << QStringLiteral("large.skn")
                               << QStringLiteral("larger than 8 MiB");
    QTest::newRow("no form")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                      "<g id=\"mainform\"/></svg>")
        << QStringLiteral("noform.skn") << QStringLiteral("the skin has no form \"wavtransform\"");
}

void tst_Skin::loadFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(name.isEmpty() ? QStringLiteral("mp313.skn") : name);
    if (name == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir(name));
    else if (!name.isEmpty())
        QVERIFY(!writeFile(dir, name, content).isEmpty());
    if (name == QLatin1String("large.skn"))
        QVERIFY(QFile::resize(path, SkinFile::MaxFileSize + 1));

    TSkin skin;
    QWidget window;
    try {
        bindSkin(skin, window, path);
        QFAIL("no SkinError");
    } catch (const SkinError &error) {
        const QString message = error.message();
        QVERIFY2(message.contains(expected), qPrintable(message));
        QVERIFY2(message.contains(path), qPrintable(message));
    }
}

void tst_Skin::operationsNeedSkinAndWindow()
{
    TSkin skin;
    QWidget window;
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.AttachWindow(&window));
    skin.LoadSkinFile(ShippedSkin);
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.GetWindowSkin(&window));
    QVERIFY_THROWS_EXCEPTION(SkinError,
                             skin.AssignSkinForm(&window, QStringLiteral("wavtransform")));
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.AttachWindow(nullptr));
    skin.AttachWindow(&window);
    QVERIFY(skin.GetWindowSkin(&window));
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.AssignSkinForm(&window, QStringLiteral("pb")));
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.AssignSkinForm(&window, QStringLiteral("pbpos")));
}

void tst_Skin::failedLoadKeepsSkin()
{
    QTemporaryDir dir;
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    const QString garbage = writeFile(dir, QStringLiteral("bad.skn"), QByteArray("<svg"));
    QVERIFY_THROWS_EXCEPTION(SkinError, skin.LoadSkinFile(garbage));
    QVERIFY(skin.GetWindowSkin(&window)->FindElement(QStringLiteral("tomp3")));
    QVERIFY(!skin.styleSheet().isEmpty());
}

// The program keeps the progress elements for the whole run.
void tst_Skin::reloadKeepsElements()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    SkinElement *bar = skin.GetWindowSkin(&window)->FindElement(QStringLiteral("pb"));
    QVERIFY(bar);
    bar->SetElementRect(12, 310, 100, 322);
    skin.AssignSkinForm(&window, QStringLiteral("wavtransform"));
    skin.LoadSkinFile(ShippedSkin);
    QCOMPARE(skin.GetWindowSkin(&window)->FindElement(QStringLiteral("pb")), bar);
    QCOMPARE(bar->rect(), QRect(12, 310, 88, 12));
    QCOMPARE(skin.GetWindowSkin(&window)->elements().size(), size_t(CommandNames.size() + 4));
}

void tst_Skin::skinWithoutProgress()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("plain.skn"), testSkin(false));
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, path);
    SkinWindow *skinWindow = skin.GetWindowSkin(&window);
    QCOMPARE(skinWindow->FindElement(QStringLiteral("pb")), nullptr);
    QCOMPARE(skinWindow->FindElement(QStringLiteral("pbpos")), nullptr);
    QCOMPARE(skinWindow->FindElement(QStringLiteral("wavtransform")), nullptr);
    QVERIFY(skinWindow->FindElement(QStringLiteral("go")));
    QCOMPARE(window.size(), QSize(200, 100));
    QVERIFY(skin.styleSheet().isEmpty());
}

void tst_Skin::shippedSkinElements_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("command");
    for (const QString &name : CommandNames)
        QTest::newRow(qPrintable(name)) << name << true;
    for (const char *name : {"pb", "pbpos", "minimize", "close"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
}

void tst_Skin::shippedSkinElements()
{
    QFETCH(QString, name);
    QFETCH(bool, command);

    SkinFile file;
    QVERIFY2(file.load(ShippedSkin), qPrintable(file.errorString()));
    QVERIFY(file.hasForm(QStringLiteral("wavtransform")));
    QVERIFY(file.hasElement(name));
    if (command || name == QLatin1String("minimize") || name == QLatin1String("close"))
        QCOMPARE(file.states(name), QStringList({QStringLiteral("hover"), QStringLiteral("down")}));

    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    SkinElement *element = skin.GetWindowSkin(&window)->FindElement(name);
    QVERIFY(element);
    QCOMPARE(element->GetElementName(), name);
    QCOMPARE(element->isButton(), command || !name.startsWith(QLatin1String("pb")));
    QVERIFY(QRect(0, 0, 525, 343).contains(element->rect()));
}

// Nothing may cover the places where the program puts its widgets and the progress.
void tst_Skin::shippedSkinLayout()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    QCOMPARE(window.size(), QSize(525, 343));
    const QList<QRect> reserved = {QRect(12, 103, 332, 204), QRect(354, 156, 121, 21),
                                   QRect(354, 209, 121, 21), QRect(354, 261, 121, 21),
                                   QRect(12, 310, 469, 12)};
    QList<QRect> buttons;
    for (const auto &element : skin.GetWindowSkin(&window)->elements()) {
        if (!element->isButton())
            continue;
        const QRect area = element->area();
        for (const QRect &place : reserved)
            QVERIFY2(!area.intersects(place), qPrintable(element->GetElementName()));
        for (const QRect &other : std::as_const(buttons))
            QVERIFY2(!area.intersects(other), qPrintable(element->GetElementName()));
        buttons.append(area);
    }
    QCOMPARE(buttons.size(), CommandNames.size() + 2);

    // Every text of the skin is at least 8 pt (at 96 dpi, 10.67 px).
    QFile file(ShippedSkin);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int texts = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("text")) {
            ++texts;
            const double size = xml.attributes().value(QLatin1String("font-size")).toDouble();
            QVERIFY2(size >= 8.0 * 96 / 72, qPrintable(QString::number(xml.lineNumber())));
        }
    }
    QVERIFY(texts > 12);
}

void tst_Skin::clickEmitsName_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : CommandNames)
        QTest::newRow(qPrintable(name)) << name;
}

void tst_Skin::clickEmitsName()
{
    QFETCH(QString, name);
    TSkin skin;
    Showcase showcase;
    bindSkin(skin, showcase.window, ShippedSkin);
    showcase.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&showcase.window));

    QStringList clicked;
    connect(&skin, &TSkin::OnClick, this,
            [&clicked](SkinElement *source) { clicked.append(source->GetElementName()); });
    QTest::mouseClick(showcase.window.windowHandle(), Qt::LeftButton, {},
                      centreOf(skin, showcase.window, name));
    QCOMPARE(clicked, QStringList(name));
}

void tst_Skin::pressAndReleaseOnDifferentElements()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy spy(&skin, &TSkin::OnClick);
    QWindow *handle = window.windowHandle();

    QTest::mousePress(handle, Qt::LeftButton, {},
                      centreOf(skin, window, QStringLiteral("addfile")));
    QTest::mouseRelease(handle, Qt::LeftButton, {},
                        centreOf(skin, window, QStringLiteral("remove")));
    QTest::mousePress(handle, Qt::LeftButton, {}, centreOf(skin, window, QStringLiteral("tomp3")));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(200, 330)); // the background
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(200, 330));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, centreOf(skin, window, QStringLiteral("stop")));
    QTest::mouseClick(handle, Qt::RightButton, {}, centreOf(skin, window, QStringLiteral("clear")));
    QCOMPARE(spy.count(), 0);

    // And the engine is not left thinking a button is held.
    QTest::mouseClick(handle, Qt::LeftButton, {}, centreOf(skin, window, QStringLiteral("clear")));
    QCOMPARE(spy.count(), 1);
}

void tst_Skin::closeAndMinimize()
{
    TSkin skin;
    CloseCounter window;
    bindSkin(skin, window, ShippedSkin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy spy(&skin, &TSkin::OnClick);

    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      centreOf(skin, window, QStringLiteral("minimize")));
    QTRY_VERIFY(window.isMinimized());
    window.showNormal();

    window.refuse = true;
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      centreOf(skin, window, QStringLiteral("close")));
    QCOMPARE(window.closeEvents, 1);
    QVERIFY(window.isVisible());
    window.refuse = false;
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      centreOf(skin, window, QStringLiteral("close")));
    QCOMPARE(window.closeEvents, 2);
    QVERIFY(!window.isVisible());
    QCOMPARE(spy.count(), 0);
}

void tst_Skin::progressRectAndText()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("progress.skn"), testSkin(true));
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, path);
    SkinWindow *skinWindow = skin.GetWindowSkin(&window);
    SkinElement *bar = skinWindow->FindElement(QStringLiteral("pb"));
    SkinElement *text = skinWindow->FindElement(QStringLiteral("pbpos"));
    QVERIFY(bar && text);
    QVERIFY(!bar->isButton() && !text->isButton());

    // Win32 RECT semantics: right and bottom are exclusive.
    bar->SetElementRect(10, 60, 10, 70);
    bar->RedrawElement();
    QImage image = grabbed(window);
    QCOMPARE(colourAt(image, 10, 65), QColor(Qt::blue));

    bar->SetElementRect(10, 60, 50, 70);
    bar->RedrawElement();
    image = grabbed(window);
    QCOMPARE(colourAt(image, 10, 65), QColor(Qt::red));
    QCOMPARE(colourAt(image, 49, 65), QColor(Qt::red));
    QCOMPARE(colourAt(image, 50, 65), QColor(Qt::blue));
    QCOMPARE(colourAt(image, 30, 59), QColor(Qt::blue));
    QCOMPARE(colourAt(image, 30, 70), QColor(Qt::blue));
    QCOMPARE(bar->rect(), QRect(10, 60, 40, 10));

    bar->SetElementRect(QRect(10, 60, 180, 10));
    bar->RedrawElement();
    image = grabbed(window);
    QCOMPARE(colourAt(image, 189, 65), QColor(Qt::red));

    // The text: white pixels reach further right for "100%" than for "0%".
    auto rightmostLight = [&window]() {
        const QImage shot = grabbed(window);
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
    QCOMPARE(text->text(), QStringLiteral("100%"));
    const int longText = rightmostLight();
    QVERIFY2(shortText > 10 && longText > shortText + 10,
             qPrintable(QStringLiteral("%1 %2").arg(shortText).arg(longText)));
    QVERIFY(text->area().contains(QPoint(longText, 85)));
}

void tst_Skin::progressOnShippedSkin()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    SkinElement *bar = skin.GetWindowSkin(&window)->FindElement(QStringLiteral("pb"));
    QVERIFY(bar);
    bar->SetElementRect(12, 310, 12, 322);
    bar->RedrawElement();
    const QImage empty = grabbed(window);
    bar->SetElementRect(12, 310, 12 + 234, 322); // half of 469
    bar->RedrawElement();
    const QImage half = grabbed(window);
    // Inside the fill the accent shows: green and blue well above red.
    const QColor inside = colourAt(half, 120, 316);
    QVERIFY2(inside.green() > inside.red() + 60 && inside.blue() > inside.red() + 40,
             qPrintable(inside.name()));
    QVERIFY(!near(inside, colourAt(empty, 120, 316), 40));
    // Past its right edge the track is untouched.
    QCOMPARE(colourAt(half, 250, 316), colourAt(empty, 250, 316));
    QCOMPARE(colourAt(half, 400, 316), colourAt(empty, 400, 316));
}

void tst_Skin::hoverAndPress()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("states.skn"), testSkin(true));
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, path);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWindow *handle = window.windowHandle();

    // "go" has a hover state (yellow) and no down state (darkened by the engine).
    QCOMPARE(colourAt(grabbed(window), 30, 30), QColor(Qt::green));
    QTest::mouseMove(handle, QPoint(30, 30));
    QTRY_COMPARE(colourAt(grabbed(window), 30, 30), QColor(Qt::yellow));
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(30, 30));
    QImage pressed = grabbed(window);
    QVERIFY(colourAt(pressed, 30, 30).green() < 230 && colourAt(pressed, 30, 30).green() > 100);
    QCOMPARE(colourAt(pressed, 10, 30), QColor(Qt::blue)); // shifted a pixel right
    QVERIFY(colourAt(pressed, 50, 30).green() > 100);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseMove(handle, QPoint(100, 50));
    QTRY_COMPARE(colourAt(grabbed(window), 30, 30), QColor(Qt::green));

    // A picture such as the progress fill has no states.
    QTest::mouseMove(handle, QPoint(100, 65));
    QCOMPARE(colourAt(grabbed(window), 100, 65), QColor(Qt::red));
}

void tst_Skin::dragMovesWindow()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    window.move(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    QSignalSpy spy(&skin, &TSkin::OnClick);

    QWindow *handle = window.windowHandle();
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(250, 12));
    QTest::mouseMove(handle, QPoint(290, 42));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(250, 12));
    QTRY_COMPARE(window.pos(), start + QPoint(40, 30));
    QCOMPARE(spy.count(), 0);
}

void tst_Skin::maskFollowsCorners()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    const QRegion mask = window.mask();
    QVERIFY(!mask.isEmpty());
    for (const QPoint &corner : {QPoint(0, 0), QPoint(524, 0), QPoint(0, 342), QPoint(524, 342),
                                 QPoint(1, 1), QPoint(523, 341)})
        QVERIFY2(!mask.contains(corner),
                 qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
    for (const QPoint &inside : {QPoint(262, 171), QPoint(262, 0), QPoint(0, 171), QPoint(524, 171),
                                 QPoint(262, 342), QPoint(10, 10)})
        QVERIFY2(mask.contains(inside),
                 qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
}

void tst_Skin::toolTips()
{
    TSkin skin;
    QWidget window;
    bindSkin(skin, window, ShippedSkin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    skin.setElementToolTip(QStringLiteral("towav"), QStringLiteral("Convert the list to WAV"));
    SkinSurface *surface = skin.GetWindowSkin(&window)->surface();

    const QPoint onButton = centreOf(skin, window, QStringLiteral("towav"));
    QHelpEvent help(QEvent::ToolTip, onButton, surface->mapToGlobal(onButton));
    QApplication::sendEvent(surface, &help);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Convert the list to WAV"));

    const QPoint elsewhere = centreOf(skin, window, QStringLiteral("toaac"));
    QHelpEvent other(QEvent::ToolTip, elsewhere, surface->mapToGlobal(elsewhere));
    QApplication::sendEvent(surface, &other);
    QTRY_VERIFY(QToolTip::text().isEmpty());
}

void tst_Skin::attachShownWindow()
{
    TSkin skin;
    skin.LoadSkinFile(ShippedSkin);
    QWidget window;
    window.resize(300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    skin.AttachWindow(&window);
    skin.AssignSkinForm(&window, QStringLiteral("wavtransform"));
    QVERIFY(window.isVisible());
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(window.size(), QSize(525, 343));
    SkinSurface *surface = skin.GetWindowSkin(&window)->surface();
    QCOMPARE(surface->geometry(), window.rect());
    // The surface lies beneath widgets the window already had and those it gets later.
    auto *later = new QWidget(&window);
    QCOMPARE(window.children().indexOf(surface) < window.children().indexOf(later), true);
}

void tst_Skin::attachWhileShowing()
{
    BindsOnShow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.bound);
    QVERIFY(window.isVisible());
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(window.size(), QSize(525, 343));
    QSignalSpy spy(&window.skin, &TSkin::OnClick);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      centreOf(window.skin, window, QStringLiteral("settings")));
    QCOMPARE(spy.count(), 1);
}

void tst_Skin::styleSheet()
{
    TSkin skin;
    Showcase showcase;
    bindSkin(skin, showcase.window, ShippedSkin);
    const QString sheet = skin.styleSheet();
    for (const char *selector : {"#ListView1", "QHeaderView::section", "#suiComboBox1",
                                 "#suiComboBox3", "QAbstractItemView", "QToolTip"})
        QVERIFY2(sheet.contains(QLatin1String(selector)), selector);
    QCOMPARE(showcase.window.styleSheet(), sheet);

    // A style sheet the program set itself stays.
    QWidget own;
    own.setStyleSheet(QStringLiteral("QWidget { color: red; }"));
    skin.AttachWindow(&own);
    skin.AssignSkinForm(&own, QStringLiteral("wavtransform"));
    QCOMPARE(own.styleSheet(), QStringLiteral("QWidget { color: red; }"));
}

// With WT_SCREENSHOT_DIR set, saves pictures of the skinned window (scripts/skin-screenshot
// runs this at display scales 1 and 2).
void tst_Skin::screenshots()
{
    const QString folder = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("WT_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    const int scale = qRound(qApp->devicePixelRatio());

    auto save = [&](const QString &what, QWidget &window) {
        const QPixmap shot = window.grab();
        const int margin = 24;
        QImage picture(
            (QSizeF(window.size() + QSize(2 * margin, 2 * margin)) * shot.devicePixelRatio())
                .toSize(),
            QImage::Format_RGB32);
        picture.setDevicePixelRatio(shot.devicePixelRatio());
        picture.fill(QColor(0x5b, 0x62, 0x6c));
        QPainter painter(&picture);
        painter.translate(margin, margin);
        painter.setClipRegion(window.mask().isEmpty() ? QRegion(window.rect()) : window.mask());
        painter.drawPixmap(0, 0, shot);
        painter.end();
        const QString path = QStringLiteral("%1/skin-%2-@%3x.png").arg(folder, what).arg(scale);
        QVERIFY(picture.save(path));
        qInfo("%s", qPrintable(path));
    };

    TSkin skin;
    Showcase showcase;
    bindSkin(skin, showcase.window, ShippedSkin);
    SkinWindow *skinWindow = skin.GetWindowSkin(&showcase.window);
    skinWindow->FindElement(QStringLiteral("pb"))->SetElementRect(12, 310, 12 + 234, 322);
    skinWindow->FindElement(QStringLiteral("pbpos"))->SetElementText(QStringLiteral("50%"));
    showcase.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&showcase.window));
    save(QStringLiteral("empty"), showcase.window);

    showcase.addRows();
    showcase.window.activateWindow();
    // Without a window manager the window may stay inactive; the pictures are taken anyway.
    if (!QTest::qWaitForWindowActive(&showcase.window, 1000))
        qInfo("the window is not active: focus is not shown");
    QTest::mouseMove(showcase.window.windowHandle(),
                     centreOf(skin, showcase.window, QStringLiteral("towav")));
    QCoreApplication::processEvents();
    save(QStringLiteral("rows-hover"), showcase.window);

    QTest::mousePress(showcase.window.windowHandle(), Qt::LeftButton, {},
                      centreOf(skin, showcase.window, QStringLiteral("addfolder")));
    skinWindow->FindElement(QStringLiteral("pb"))->SetElementRect(12, 310, 481, 322);
    skinWindow->FindElement(QStringLiteral("pbpos"))->SetElementText(QStringLiteral("100%"));
    save(QStringLiteral("pressed-full"), showcase.window);
    QTest::mouseRelease(showcase.window.windowHandle(), Qt::LeftButton, {}, QPoint(200, 335));

    QTest::mouseMove(showcase.window.windowHandle(),
                     centreOf(skin, showcase.window, QStringLiteral("id3")));
    QCoreApplication::processEvents();
    save(QStringLiteral("hover-tags"), showcase.window);

    // The open drop-down list, drawn beside the window.
    showcase.combos[1]->showPopup();
    QWidget *popup = showcase.combos[1]->view()->window();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    const QPixmap list = popup->grab();
    QVERIFY(list.save(QStringLiteral("%1/skin-dropdown-@%2x.png").arg(folder).arg(scale)));
    showcase.combos[1]->hidePopup();
}

QTEST_MAIN(tst_Skin)
#include "tst_skin.moc"
