#include "joblist/joblistmodel.h"
#include "tags/genrenames.h"
#include "tags/tid3form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(ID3info)

namespace {

ID3info makeEntry(const QByteArray &title, const QByteArray &artist, quint8 genre = 255)
{
    ID3info e;
    e.Title = title;
    e.EditTitle = title;
    e.SourcePath = QStringLiteral("/music/") + QString::fromLatin1(title) + QStringLiteral(".mp3");
    e.Artist = artist;
    e.Album = "Album of " + title;
    e.Year = "2001";
    e.Genre = genre;
    e.GenreName = genre < GenreNames.size() ? QByteArray(GenreNames[genre]) : QByteArray();
    e.Comment = "Comment of " + title;
    return e;
}

QVector<ID3info> fourEntries()
{
    return {makeEntry("Alpha", "Artist A", 0), makeEntry("Bravo", "Artist B", 17),
            makeEntry("Charlie", "Artist C", 255), makeEntry("Delta", "Artist D", 147)};
}

QByteArray fieldOf(const ID3info &e, const QString &field)
{
    if (field == QLatin1String("EditTitle"))
        return e.EditTitle;
    if (field == QLatin1String("Artist"))
        return e.Artist;
    if (field == QLatin1String("Album"))
        return e.Album;
    if (field == QLatin1String("Year"))
        return e.Year;
    return e.Comment;
}

bool sameEntry(const ID3info &a, const ID3info &b)
{
    return a.Title == b.Title && a.EditTitle == b.EditTitle && a.SourcePath == b.SourcePath &&
           a.Artist == b.Artist && a.Album == b.Album && a.Year == b.Year &&
           a.GenreName == b.GenreName && a.Genre == b.Genre && a.Comment == b.Comment;
}

void saveShot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget->grab().save(QDir(dir).filePath(name));
}

// The tag editor over a job list, as the main window sets it up.
struct Editor
{
    explicit Editor(const QVector<ID3info> &entries = fourEntries())
    {
        for (const ID3info &e : entries)
            model.appendEntry(e, QStringLiteral("00:03:00"), QStringLiteral("2.75MB"));
        for (const char *name : GenreNames)
            form.ComboBox1->addItem(QString::fromLatin1(name));
        form.setModel(&model);
    }

    bool open()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        form.activateWindow();
        return QTest::qWaitForWindowActive(&form);
    }

    template <typename T = QWidget> T *child(const QString &name)
    {
        return form.findChild<T *>(name);
    }
    QTableWidget *list() { return child<QTableWidget>(QStringLiteral("ListView1")); }
    QLineEdit *edit(int n) { return child<QLineEdit>(QStringLiteral("Edit%1").arg(n)); }
    QPlainTextEdit *memo() { return child<QPlainTextEdit>(QStringLiteral("Memo1")); }
    QComboBox *genre() { return form.ComboBox1; }
    QString caption(int row) { return list()->item(row, 0)->text(); }
    int selectedRow()
    {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    void clickRow(int row)
    {
        const QRect rect = list()->visualItemRect(list()->item(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void clickBelowRows()
    {
        QWidget *viewport = list()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(10, viewport->height() - 4));
    }
    void click(const QString &name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    // Clicks into a field and replaces its text by typing.
    void type(const QString &fieldName, const QString &text)
    {
        QWidget *field = child(fieldName);
        auto *plain = qobject_cast<QPlainTextEdit *>(field);
        QTest::mouseClick(plain ? plain->viewport() : field, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), field);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        typeText(field, text);
    }
    // Key presses as a keyboard gives them; a line break is the Return key.
    static void typeText(QWidget *field, const QString &text)
    {
        for (const QChar c : text) {
            if (c == QLatin1Char('\n'))
                QTest::keyClick(field, Qt::Key_Return);
            else if (c.unicode() < 128)
                QTest::keyClick(field, char(c.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    }
    QString fieldText(const QString &fieldName)
    {
        QWidget *field = child(fieldName);
        if (auto *plain = qobject_cast<QPlainTextEdit *>(field))
            return plain->toPlainText();
        return qobject_cast<QLineEdit *>(field)->text();
    }
    // Puts the focus into the genre drop-down as Tab would and presses keys there.
    void chooseGenre(const QString &typed, Qt::Key key = Qt::Key_unknown)
    {
        genre()->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), genre());
        if (key != Qt::Key_unknown)
            QTest::keyClick(genre(), key);
        if (!typed.isEmpty())
            typeText(genre(), typed);
    }

    JobListModel model;
    TID3Form form;
};

} // namespace

class TestTagEditor : public QObject
{
    Q_OBJECT
private slots:
    void layout();
    void showFillsFromRowZero();
    void fieldStoredWhenLeft_data();
    void fieldStoredWhenLeft();
    void titleIsWorkingCopyUntilOk();
    void allButtonsKeepBlanks_data();
    void allButtonsKeepBlanks();
    void cancelKeepsFieldsNotTitle();
    void resetRestoresTitles();
    void genre_data();
    void genre();
    void genreAll_data();
    void genreAll();
    void clickBelowRows();
    void keyboardMoveDoesNotRefill();
    void enterPressesNothing();
    void emptyList();
    void untouchedFieldsKeepBytes();
    void untouchedFieldCarriedByAll();
    void typedTextIsUtf8();
};

void TestTagEditor::layout()
{
    QVector<ID3info> entries = fourEntries();
    entries.append(makeEntry("A rather long title that does not fit", "Someone"));
    Editor ed(entries);
    QCOMPARE(ed.form.objectName(), QStringLiteral("ID3Form"));
    QCOMPARE(ed.form.windowTitle(), QStringLiteral("ID3 Edit"));
    QCOMPARE(ed.form.minimumSize(), ed.form.maximumSize());
    const QStringList labels = {QStringLiteral("Title:"),  QStringLiteral("Artist:"),
                                QStringLiteral("Alburm:"), QStringLiteral("Year:"),
                                QStringLiteral("Genre:"),  QStringLiteral("Comment:")};
    for (int i = 0; i < labels.size(); ++i)
        QCOMPARE(ed.child<QLabel>(QStringLiteral("Label%1").arg(i + 1))->text(), labels.at(i));
    for (int i = 1; i <= 6; ++i)
        QCOMPARE(ed.child<QPushButton>(QStringLiteral("Button%1").arg(i))->text(),
                 QStringLiteral("ALL"));
    QCOMPARE(ed.child<QPushButton>(QStringLiteral("Button7"))->text(), QStringLiteral("Ok"));
    QCOMPARE(ed.child<QPushButton>(QStringLiteral("Button8"))->text(), QStringLiteral("Cancel"));
    QCOMPARE(ed.child<QPushButton>(QStringLiteral("Button9"))->text(), QStringLiteral("Reste"));
    QCOMPARE(ed.list()->horizontalHeaderItem(0)->text(), QStringLiteral("File Name"));
    QCOMPARE(ed.genre()->count(), 148);
    QVERIFY(!ed.genre()->isEditable());
    for (const char *name : {"Panel1", "Panel2", "Panel3"})
        QVERIFY(ed.child(QLatin1String(name)));

    QVERIFY(ed.open());
    // Every caption fits at the font in use, and every control lies inside its panel.
    for (QPushButton *button : ed.form.findChildren<QPushButton *>()) {
        const QFontMetrics fm(button->font());
        QVERIFY2(fm.horizontalAdvance(button->text()) + 6 <= button->width(),
                 qPrintable(button->objectName()));
        QVERIFY2(fm.height() + 4 <= button->height(), qPrintable(button->objectName()));
        QVERIFY(!button->autoDefault() && !button->isDefault());
    }
    for (QLabel *label : ed.form.findChildren<QLabel *>()) {
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->objectName()));
        QVERIFY2(label->sizeHint().height() <= label->height(), qPrintable(label->objectName()));
        // A label never reaches into its field.
        QVERIFY(label->geometry().right() < ed.edit(1)->geometry().left());
    }
    for (int i = 1; i <= 4; ++i)
        QVERIFY(ed.edit(i)->minimumSizeHint().height() <= ed.edit(i)->height());
    QVERIFY(ed.genre()->minimumSizeHint().height() <= ed.genre()->height());
    for (QWidget *w : ed.form.findChildren<QWidget *>()) {
        QWidget *parent = w->parentWidget();
        if (w->isWindow() || !parent || !w->isVisible() ||
            qobject_cast<QFrame *>(parent) == nullptr)
            continue;
        if (parent->objectName().startsWith(QLatin1String("Panel")))
            QVERIFY2(parent->rect().contains(w->geometry()), qPrintable(w->objectName()));
    }
    QCOMPARE(ed.list()->columnWidth(0) <= ed.list()->viewport()->width(), true);

    ed.clickRow(1);
    saveShot(&ed.form, QStringLiteral("id3form.png"));
}

void TestTagEditor::showFillsFromRowZero()
{
    QVector<ID3info> entries = fourEntries();
    entries[0].EditTitle = "Working title";
    entries[0].Comment = "two\nlines";
    Editor ed(entries);
    QVERIFY(ed.open());
    QCOMPARE(ed.list()->rowCount(), 4);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(ed.caption(row), QString::fromLatin1(entries[row].Title));
    QCOMPARE(ed.selectedRow(), 0);
    QCOMPARE(ed.edit(1)->text(), QStringLiteral("Working title"));
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Artist A"));
    QCOMPARE(ed.edit(3)->text(), QStringLiteral("Album of Alpha"));
    QCOMPARE(ed.edit(4)->text(), QStringLiteral("2001"));
    QCOMPARE(ed.genre()->currentIndex(), 0);
    QCOMPARE(ed.memo()->toPlainText(), QStringLiteral("two\nlines"));

    ed.clickRow(3);
    QCOMPARE(ed.edit(1)->text(), QStringLiteral("Delta"));
    QCOMPARE(ed.genre()->currentIndex(), 147);
    ed.clickRow(2);
    QCOMPARE(ed.genre()->currentIndex(), -1);
    // Looking changes nothing.
    for (int row = 0; row < 4; ++row)
        QVERIFY(sameEntry(ed.model.entry(row), entries[row]));
}

void TestTagEditor::fieldStoredWhenLeft_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("artist") << "Edit2"
                            << "Artist"
                            << "New Artist" << QByteArray("New Artist");
    QTest::newRow("artist trimmed") << "Edit2"
                                    << "Artist"
                                    << "  New Artist  " << QByteArray("New Artist");
    QTest::newRow("album trimmed") << "Edit3"
                                   << "Album"
                                   << " Greatest " << QByteArray("Greatest");
    QTest::newRow("year trimmed") << "Edit4"
                                  << "Year"
                                  << " 1999 " << QByteArray("1999");
    QTest::newRow("artist emptied") << "Edit2"
                                    << "Artist"
                                    << "   " << QByteArray("");
    QTest::newRow("comment as typed") << "Memo1"
                                      << "Comment"
                                      << " two\nlines " << QByteArray(" two\nlines ");
    QTest::newRow("title trimmed") << "Edit1"
                                   << "EditTitle"
                                   << " Renamed  " << QByteArray("Renamed");
}

void TestTagEditor::fieldStoredWhenLeft()
{
    QFETCH(QString, field);
    QFETCH(QString, member);
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.clickRow(2);
    ed.type(field, typed);
    // Typing alone stores nothing.
    QVERIFY(sameEntry(ed.model.entry(2), entries[2]));
    ed.clickRow(3);

    QCOMPARE(fieldOf(ed.model.entry(2), member), stored);
    for (int row : {0, 1, 3})
        QVERIFY(sameEntry(ed.model.entry(row), entries[row]));
    QCOMPARE(ed.selectedRow(), 3);
    QCOMPARE(ed.fieldText(field), QString::fromLatin1(fieldOf(entries[3], member)));
    ed.clickRow(2);
    QCOMPARE(ed.fieldText(field), QString::fromLatin1(stored));
}

void TestTagEditor::titleIsWorkingCopyUntilOk()
{
    QVector<ID3info> entries = fourEntries();
    entries[2].EditTitle = "Charlie edited earlier";
    Editor ed(entries);
    QSignalSpy changed(&ed.model, &JobListModel::dataChanged);
    QVERIFY(ed.open());

    ed.type(QStringLiteral("Edit1"), QStringLiteral(" New Title "));
    ed.type(QStringLiteral("Edit2"), QStringLiteral("Artist A"));
    QCOMPARE(ed.caption(0), QStringLiteral("New Title"));
    QCOMPARE(ed.model.entry(0).EditTitle, QByteArray("New Title"));
    QCOMPARE(ed.model.entry(0).Title, QByteArray("Alpha"));
    const QModelIndex title0 = ed.model.index(0, JobListModel::TitleColumn);
    QCOMPARE(title0.data().toString(), QStringLiteral("Alpha"));

    changed.clear();
    ed.click(QStringLiteral("Button7"));
    QVERIFY(ed.form.isHidden());
    QCOMPARE(ed.form.result(), int(QDialog::Accepted));
    QCOMPARE(ed.model.entry(0).Title, QByteArray("New Title"));
    QCOMPARE(title0.data().toString(), QStringLiteral("New Title"));
    // Every working title is committed, not only the one edited now.
    QCOMPARE(ed.model.entry(2).Title, QByteArray("Charlie edited earlier"));
    QCOMPARE(ed.model.index(2, JobListModel::TitleColumn).data().toString(),
             QStringLiteral("Charlie edited earlier"));
    QCOMPARE(ed.model.entry(1).Title, QByteArray("Bravo"));
    QVERIFY(changed.count() >= 2);
}

void TestTagEditor::allButtonsKeepBlanks_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("member");

    QTest::newRow("title") << "Edit1"
                           << "Button1"
                           << "EditTitle";
    QTest::newRow("artist") << "Edit2"
                            << "Button2"
                            << "Artist";
    QTest::newRow("album") << "Edit3"
                           << "Button3"
                           << "Album";
    QTest::newRow("year") << "Edit4"
                          << "Button4"
                          << "Year";
    QTest::newRow("comment") << "Memo1"
                             << "Button6"
                             << "Comment";
}

void TestTagEditor::allButtonsKeepBlanks()
{
    QFETCH(QString, field);
    QFETCH(QString, button);
    QFETCH(QString, member);
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.clickRow(1);
    ed.type(field, QStringLiteral(" Bob "));
    ed.click(button);
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(fieldOf(ed.model.entry(row), member), QByteArray(" Bob "));
        QCOMPARE(ed.model.entry(row).Title, entries[row].Title);
    }
    // Only the field's own exit touched a caption: the selected row's, trimmed.
    for (int row = 0; row < 4; ++row) {
        const QString expected = (member == QLatin1String("EditTitle") && row == 1)
                                     ? QStringLiteral("Bob")
                                     : QString::fromLatin1(entries[row].Title);
        QCOMPARE(ed.caption(row), expected);
    }
}

void TestTagEditor::cancelKeepsFieldsNotTitle()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.type(QStringLiteral("Edit2"), QStringLiteral("Another Artist"));
    ed.chooseGenre(QStringLiteral("Rock"));
    QCOMPARE(ed.genre()->currentIndex(), 17);
    ed.type(QStringLiteral("Edit1"), QStringLiteral("Edited Title"));
    ed.click(QStringLiteral("Button8"));
    QVERIFY(ed.form.isHidden());
    QCOMPARE(ed.form.result(), int(QDialog::Rejected));

    const ID3info e = ed.model.entry(0);
    QCOMPARE(e.Artist, QByteArray("Another Artist"));
    QCOMPARE(e.Genre, quint8(17));
    QCOMPARE(e.GenreName, QByteArray("Blues")); // the drop-down's exit sets only the number
    QCOMPARE(e.Title, QByteArray("Alpha"));
    QCOMPARE(e.EditTitle, QByteArray("Edited Title"));
    QCOMPARE(ed.model.index(0, 0).data().toString(), QStringLiteral("Alpha"));

    QVERIFY(ed.open());
    QCOMPARE(ed.caption(0), QStringLiteral("Alpha"));
    QCOMPARE(ed.edit(1)->text(), QStringLiteral("Edited Title"));
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Another Artist"));
    QCOMPARE(ed.genre()->currentText(), QStringLiteral("Rock"));
}

void TestTagEditor::resetRestoresTitles()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.type(QStringLiteral("Edit1"), QStringLiteral("Zero"));
    ed.type(QStringLiteral("Edit2"), QStringLiteral("Artist edited"));
    ed.clickRow(1);
    ed.type(QStringLiteral("Edit1"), QStringLiteral("One"));
    ed.click(QStringLiteral("Button9"));

    QCOMPARE(ed.edit(1)->text(), QStringLiteral("Bravo"));
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(ed.model.entry(row).EditTitle, entries[row].Title);
        QCOMPARE(ed.caption(row), QString::fromLatin1(entries[row].Title));
    }
    QCOMPARE(ed.model.entry(0).Artist, QByteArray("Artist edited"));
    // The reset text in the box is not an edit of its own.
    ed.clickRow(2);
    QCOMPARE(ed.model.entry(1).EditTitle, QByteArray("Bravo"));
}

void TestTagEditor::genre_data()
{
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("stored");

    QTest::newRow("255 shows none, kept") << 255 << -1 << QString() << 0 << 255;
    QTest::newRow("255, first name chosen") << 255 << -1 << QString() << int(Qt::Key_Home) << 0;
    QTest::newRow("0 shown first, kept") << 0 << 0 << QString() << 0 << 0;
    QTest::newRow("0, Rock chosen") << 0 << 0 << QStringLiteral("Rock") << 0 << 17;
    QTest::newRow("147 is the last name") << 147 << 147 << QString() << 0 << 147;
    QTest::newRow("147, last chosen again") << 147 << 147 << QString() << int(Qt::Key_End) << 147;
    QTest::newRow("148 has no name, kept") << 148 << -1 << QString() << 0 << 148;
    QTest::newRow("200 has no name, kept") << 200 << -1 << QString() << 0 << 200;
    QTest::newRow("200, first chosen") << 200 << -1 << QString() << int(Qt::Key_Home) << 0;
}

void TestTagEditor::genre()
{
    QFETCH(int, initial);
    QFETCH(int, shown);
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(int, stored);
    QVector<ID3info> entries = fourEntries();
    entries[1].Genre = quint8(initial);
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.clickRow(1);
    QCOMPARE(ed.genre()->currentIndex(), shown);

    ed.chooseGenre(typed, key ? Qt::Key(key) : Qt::Key_unknown);
    ed.clickRow(2);
    QCOMPARE(int(ed.model.entry(1).Genre), stored);
    QCOMPARE(ed.model.entry(1).GenreName, entries[1].GenreName);
    QCOMPARE(ed.model.entry(2).Genre, entries[2].Genre);
}

void TestTagEditor::genreAll_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("genre");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("Rock") << QStringLiteral("Rock") << 17 << QByteArray("Rock");
    QTest::newRow("none") << QString() << 255 << QByteArray();
}

void TestTagEditor::genreAll()
{
    QFETCH(QString, typed);
    QFETCH(int, genre);
    QFETCH(QByteArray, name);
    Editor ed;
    QVERIFY(ed.open());
    ed.clickRow(2); // genre 255: nothing selected
    if (!typed.isEmpty())
        ed.chooseGenre(typed);
    ed.click(QStringLiteral("Button5"));
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(int(ed.model.entry(row).Genre), genre);
        QCOMPARE(ed.model.entry(row).GenreName, name);
    }
}

void TestTagEditor::clickBelowRows()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.clickRow(1);
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Artist B"));
    ed.clickBelowRows();
    QCOMPARE(ed.selectedRow(), -1);
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Artist B"));

    // With no row selected, leaving a field stores nothing.
    ed.type(QStringLiteral("Edit2"), QStringLiteral("Nobody"));
    ed.type(QStringLiteral("Edit1"), QStringLiteral("No title"));
    ed.chooseGenre(QString(), Qt::Key_Home);
    ed.type(QStringLiteral("Memo1"), QStringLiteral("no comment"));
    ed.clickBelowRows();
    ed.click(QStringLiteral("Button9"));
    QCOMPARE(ed.edit(1)->text(), QStringLiteral("No title"));
    for (int row = 0; row < 4; ++row)
        QVERIFY(sameEntry(ed.model.entry(row), entries[row]));
    QCOMPARE(ed.caption(1), QStringLiteral("Bravo"));
}

void TestTagEditor::keyboardMoveDoesNotRefill()
{
    Editor ed;
    QVERIFY(ed.open());
    ed.clickRow(0);
    QTest::keyClick(ed.list(), Qt::Key_Down);
    QCOMPARE(ed.selectedRow(), 1);
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Artist A"));
    // What the fields show goes into the row now selected when it is left.
    ed.edit(2)->setFocus(Qt::TabFocusReason);
    ed.edit(3)->setFocus(Qt::TabFocusReason);
    QCOMPARE(ed.model.entry(1).Artist, QByteArray("Artist A"));
    QCOMPARE(ed.model.entry(0).Artist, QByteArray("Artist A"));
}

void TestTagEditor::enterPressesNothing()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.type(QStringLiteral("Edit1"), QStringLiteral("Typed"));
    QTest::keyClick(ed.edit(1), Qt::Key_Return);
    QTest::keyClick(ed.edit(1), Qt::Key_Enter);
    QVERIFY(ed.form.isVisible());
    QCOMPARE(ed.model.entry(0).Title, QByteArray("Alpha"));
    QCOMPARE(ed.caption(0), QStringLiteral("Alpha"));
}

void TestTagEditor::emptyList()
{
    Editor ed;
    QVERIFY(ed.open());
    ed.type(QStringLiteral("Edit2"), QStringLiteral("Left over"));
    ed.click(QStringLiteral("Button8"));
    ed.model.clear();

    QVERIFY(ed.open());
    QCOMPARE(ed.list()->rowCount(), 0);
    // The fields keep what they showed.
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("Left over"));
    for (int i = 1; i <= 6; ++i)
        ed.click(QStringLiteral("Button%1").arg(i));
    ed.click(QStringLiteral("Button9"));
    ed.clickBelowRows();
    QVERIFY(ed.form.isVisible());
    QCOMPARE(ed.model.rowCount(), 0);
    ed.click(QStringLiteral("Button7"));
    QVERIFY(ed.form.isHidden());
    QCOMPARE(ed.form.result(), int(QDialog::Accepted));

    QVERIFY(ed.open());
    ed.click(QStringLiteral("Button8"));
    QVERIFY(ed.form.isHidden());
    QCOMPARE(ed.form.result(), int(QDialog::Rejected));
}

void TestTagEditor::untouchedFieldsKeepBytes()
{
    // Tags from files that are not UTF-8 (ISO-8859-1 here), blanks and all.
    QVector<ID3info> entries = fourEntries();
    entries[0].Title = "Caf\xe9";
    entries[0].EditTitle = "Caf\xe9 ";
    entries[0].Artist = "M\xf6tley Cr\xfc"
                        "e";
    entries[0].Album = " \xc0 la carte ";
    entries[0].Year = "19\xb9";
    entries[0].Comment = "a\xa0"
                         "b\r\nc\t";
    entries[0].Genre = 200;
    entries[1].Artist = "\xff\xfe";
    entries[1].Comment = "caf\xc3\xa9"; // UTF-8 stays UTF-8
    Editor ed(entries);
    QVERIFY(ed.open());
    QCOMPARE(ed.edit(1)->text(), QStringLiteral("Caf\u00e9 "));
    QCOMPARE(ed.edit(2)->text(), QStringLiteral("M\u00f6tley Cr\u00fce"));

    // Tab through every control twice, on two rows; each field's exit runs.
    const QStringList order = {
        QStringLiteral("Edit1"),   QStringLiteral("Edit2"),     QStringLiteral("Edit3"),
        QStringLiteral("Edit4"),   QStringLiteral("ComboBox1"), QStringLiteral("Memo1"),
        QStringLiteral("Button1"), QStringLiteral("Button2"),   QStringLiteral("Button3"),
        QStringLiteral("Button4"), QStringLiteral("Button5"),   QStringLiteral("Button6"),
        QStringLiteral("Button7"), QStringLiteral("Button8"),   QStringLiteral("Button9")};
    for (int row : {0, 1, 0}) {
        ed.clickRow(row);
        QCOMPARE(QApplication::focusWidget(), ed.list());
        for (const QString &name : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
    }
    for (int row = 0; row < 4; ++row)
        QVERIFY2(sameEntry(ed.model.entry(row), entries[row]), qPrintable(QString::number(row)));

    ed.click(QStringLiteral("Button7"));
    QCOMPARE(ed.model.entry(0).Title, QByteArray("Caf\xe9 "));
    QCOMPARE(ed.model.entry(0).Artist, entries[0].Artist);
    QCOMPARE(ed.model.entry(1).Artist, entries[1].Artist);
}

void TestTagEditor::untouchedFieldCarriedByAll()
{
    QVector<ID3info> entries = fourEntries();
    entries[0].Artist = "M\xf6tley Cr\xfc"
                        "e";
    entries[0].Comment = "a\xa0"
                         "b\r\nc";
    entries[2].Artist = "M\xc3\xb6tley Cr\xc3\xbc"
                        "e"; // the same text in UTF-8
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.click(QStringLiteral("Button2"));
    ed.click(QStringLiteral("Button6"));
    QCOMPARE(ed.model.entry(0).Artist, entries[0].Artist);
    QCOMPARE(ed.model.entry(1).Artist, entries[0].Artist);
    QCOMPARE(ed.model.entry(2).Artist, entries[2].Artist);
    QCOMPARE(ed.model.entry(3).Artist, entries[0].Artist);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(ed.model.entry(row).Comment, entries[0].Comment);
}

void TestTagEditor::typedTextIsUtf8()
{
    QVector<ID3info> entries = fourEntries();
    entries[0].Artist = "Caf\xe9";
    Editor ed(entries);
    QVERIFY(ed.open());
    // Appending to a text that is not UTF-8 stores all of it as UTF-8.
    QTest::mouseClick(ed.edit(2), Qt::LeftButton);
    QTest::keyClick(ed.edit(2), Qt::Key_End);
    Editor::typeText(ed.edit(2), QStringLiteral(" \u00fc"));
    ed.type(QStringLiteral("Edit3"), QStringLiteral("\u65e5\u672c"));
    ed.clickRow(1);
    QCOMPARE(ed.model.entry(0).Artist, QByteArray("Caf\xc3\xa9 \xc3\xbc"));
    QCOMPARE(ed.model.entry(0).Album, QByteArray("\xe6\x97\xa5\xe6\x9c\xac"));
}

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral(".local/share"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral(".cache"))));
    qputenv("WAVETRANSMUTER_SETTINGS_FILE",
            QFile::encodeName(home.filePath(QStringLiteral("ConverInif.ini"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestTagEditor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tageditor.moc"
