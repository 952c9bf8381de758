#include "common/testguard.h"

#include "core/joblist/joblistmodel.h"
#include "core/tags/genrenames.h"
#include "core/tags/tagtext.h"
#include "gui/dialogs/tid3form.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

namespace {

// The text fields in the order of their "ALL" buttons, and what they edit.
const char *const FieldNames[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Memo1"};
const char *const AllButtons[] = {"Button1", "Button2", "Button3", "Button4", "Button6"};
QByteArray ID3info::*const Members[] = {&ID3info::EditTitle, &ID3info::Artist, &ID3info::Album,
                                        &ID3info::Year, &ID3info::Comment};

ID3info makeEntry(const QByteArray &title, const QByteArray &artist, quint8 genre)
{
    ID3info e;
    e.Title = e.EditTitle = title;
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

bool sameEntry(const ID3info &a, const ID3info &b)
{
    return a.Title == b.Title && a.EditTitle == b.EditTitle && a.Artist == b.Artist &&
           a.Album == b.Album && a.Year == b.Year && a.GenreName == b.GenreName &&
           a.Genre == b.Genre && a.Comment == b.Comment;
}

// The tag editor over a job list, as the main window sets it up, driven by mouse and keys.
struct Editor
{
    explicit Editor(const QVector<ID3info> &entries = fourEntries())
    {
        for (const ID3info &e : entries)
            model.appendEntry(e, 180, 128000);
        for (const char *name : GenreNames)
            form.ComboBox1->addItem(QString::fromLatin1(name));
        form.setModel(&model);
    }
    bool open()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        return QTest::qWaitForWindowActive(&form);
    }

    QTableWidget *list() { return form.findChild<QTableWidget *>(QStringLiteral("ListView1")); }
    QWidget *field(int n) { return form.findChild<QWidget *>(QLatin1String(FieldNames[n])); }
    QComboBox *genre() { return form.ComboBox1; }
    QString caption(int row) { return list()->item(row, 0)->text(); }
    QString text(int n)
    {
        auto *plain = qobject_cast<QPlainTextEdit *>(field(n));
        return plain ? plain->toPlainText() : qobject_cast<QLineEdit *>(field(n))->text();
    }
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
    void click(const QString &name)
    {
        QTest::mouseClick(form.findChild<QPushButton *>(name), Qt::LeftButton);
    }
    // Clicks into a field and replaces its text by typing; a line break is the Return key.
    void type(int n, const QString &text)
    {
        QWidget *w = field(n);
        auto *plain = qobject_cast<QPlainTextEdit *>(w);
        QTest::mouseClick(plain ? plain->viewport() : w, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w);
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Delete);
        for (const QChar c : text) {
            if (c == QLatin1Char('\n'))
                QTest::keyClick(w, Qt::Key_Return);
            else
                QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), {});
        }
    }
    // Puts the focus into the genre drop-down as Tab would and presses a key there.
    void chooseGenre(Qt::Key key, const QString &typed = QString())
    {
        genre()->setFocus(Qt::TabFocusReason);
        if (key != Qt::Key_unknown)
            QTest::keyClick(genre(), key);
        QTest::keyClicks(genre(), typed);
    }

    JobListModel model;
    TID3Form form;
};

} // namespace

class TestTagEditor : public QObject
{
    Q_OBJECT
private slots:
    void fieldStoredWhenLeft_data();
    void fieldStoredWhenLeft();
    void allButtonsKeepBlanks_data();
    void allButtonsKeepBlanks();
    void emptiedFieldsAreCleared_data();
    void emptiedFieldsAreCleared();
    void okOrCancel_data();
    void okOrCancel();
    void resetRestoresTitles();
    void genre_data();
    void genre();
    void genreAll();
    void genreListWheelAndPopup_data();
    void genreListWheelAndPopup();
    void noRowSelected();
    void emptyList();
    void untouchedFieldsKeepBytes();
};

void TestTagEditor::fieldStoredWhenLeft_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("title trimmed") << 0 << QStringLiteral(" Renamed  ") << QByteArray("Renamed");
    QTest::newRow("artist trimmed")
        << 1 << QStringLiteral("  New Artist  ") << QByteArray("New Artist");
    QTest::newRow("artist emptied") << 1 << QStringLiteral("   ") << QByteArray("");
    // Typed text is ISO-8859-1 when every character fits, as other ID3v1 readers expect.
    QTest::newRow("album in ISO-8859-1")
        << 2 << QStringLiteral("Caf\u00e9 \u00c6r\u00f8") << QByteArray("Caf\xe9 \xc6r\xf8");
    QTest::newRow("album in UTF-8")
        << 2 << QStringLiteral("Caf\u00e9 \u65e5") << QByteArray("Caf\xc3\xa9 \xe6\x97\xa5");
    // Its ISO-8859-1 bytes would read back as "\u00e9": stored as UTF-8 instead.
    QTest::newRow("Latin-1 that reads as UTF-8")
        << 2 << QStringLiteral("\u00c3\u00a9") << QByteArray("\xc3\x83\xc2\xa9");
    QTest::newRow("year trimmed") << 3 << QStringLiteral(" 1999 ") << QByteArray("1999");
    QTest::newRow("comment on two lines, as typed")
        << 4 << QStringLiteral(" two\nlines ") << QByteArray(" two\nlines ");
}

// A field typed for row 2 goes into entry 2 when row 3 is clicked, and row 3 is shown.
void TestTagEditor::fieldStoredWhenLeft()
{
    QFETCH(int, field);
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.clickRow(2);
    ed.type(field, typed);
    QVERIFY(sameEntry(ed.model.entry(2), entries[2])); // typing alone stores nothing
    ed.clickRow(3);

    QCOMPARE(ed.model.entry(2).*Members[field], stored);
    for (int row : {0, 1, 3})
        QVERIFY(sameEntry(ed.model.entry(row), entries[row]));
    QCOMPARE(ed.selectedRow(), 3);
    QCOMPARE(ed.text(field), QString::fromLatin1(entries[3].*Members[field]));
    ed.clickRow(2);
    QCOMPARE(ed.text(field), TagTextToDisplay(stored));
}

void TestTagEditor::allButtonsKeepBlanks_data()
{
    QTest::addColumn<int>("field");
    for (int n = 0; n < 5; ++n)
        QTest::newRow(AllButtons[n]) << n;
}

void TestTagEditor::allButtonsKeepBlanks()
{
    QFETCH(int, field);
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());

    ed.clickRow(1);
    ed.type(field, QStringLiteral(" Bob "));
    ed.click(QLatin1String(AllButtons[field]));
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(ed.model.entry(row).*Members[field], QByteArray(" Bob "));
        QCOMPARE(ed.model.entry(row).Title, entries[row].Title);
        // The title's "ALL" shows the new working title in every row at once.
        QCOMPARE(ed.caption(row),
                 field == 0 ? QStringLiteral(" Bob ") : QString::fromLatin1(entries[row].Title));
    }
}

void TestTagEditor::emptiedFieldsAreCleared_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("name"); // as the output's tag names it
    const char *const names[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "COMMENT"};
    for (int n = 0; n < 5; ++n)
        QTest::newRow(names[n]) << n << QString::fromLatin1(names[n]);
}

// A field the user empties is cleared in the output's tag, not filled from the source's:
// the entry says so, for one row or, through "ALL", for every row; a text given again undoes
// it, and a row only looked at is left as it was.
void TestTagEditor::emptiedFieldsAreCleared()
{
    QFETCH(int, field);
    QFETCH(QString, name);
    const QSet<QString> cleared{name};
    Editor ed;
    QVERIFY(ed.open());
    ed.clickRow(2);
    ed.type(field, field == 4 ? QString() : QStringLiteral("  ")); // the comment keeps blanks
    ed.clickRow(3);
    QCOMPARE(ed.model.entry(2).Cleared, cleared);
    QVERIFY(ed.model.entry(3).Cleared.isEmpty());
    ed.clickRow(2);
    ed.type(field, QStringLiteral("Again"));
    ed.clickRow(3);
    QVERIFY(ed.model.entry(2).Cleared.isEmpty());

    ed.clickRow(1);
    ed.type(field, QString());
    ed.click(QLatin1String(AllButtons[field]));
    for (int row = 0; row < 4; ++row)
        QCOMPARE(ed.model.entry(row).Cleared, cleared);
    ed.type(field, QStringLiteral("All"));
    ed.click(QLatin1String(AllButtons[field]));
    for (int row = 0; row < 4; ++row)
        QVERIFY(ed.model.entry(row).Cleared.isEmpty());
}

void TestTagEditor::okOrCancel_data()
{
    QTest::addColumn<QString>("how");
    for (const char *how : {"Ok", "Cancel", "close box", "Escape"})
        QTest::newRow(how) << QString::fromLatin1(how);
}

// The title is a working copy until "Ok" commits them all; the other fields are stored as
// they are left, whichever way the editor is closed (the one being typed in included).
void TestTagEditor::okOrCancel()
{
    QFETCH(QString, how);
    const bool ok = how == QLatin1String("Ok");
    QVector<ID3info> entries = fourEntries();
    entries[2].EditTitle = "Charlie edited earlier";
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.type(0, QStringLiteral(" New Title "));
    ed.type(1, QStringLiteral("Another Artist"));
    QCOMPARE(ed.caption(0), QStringLiteral("New Title"));
    QCOMPARE(ed.model.index(0, JobListModel::TitleColumn).data().toString(),
             QStringLiteral("Alpha"));
    // Enter is no shortcut for "Ok".
    QTest::keyClick(ed.field(1), Qt::Key_Return);
    QTest::keyClick(ed.field(1), Qt::Key_Enter);
    QVERIFY(ed.form.isVisible());
    ed.chooseGenre(Qt::Key_unknown, QStringLiteral("Rock"));
    ed.type(2, QStringLiteral("Typed last"));
    const QString shots = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (!shots.isEmpty() && QDir().mkpath(shots))
        ed.form.grab().save(QDir(shots).filePath(QStringLiteral("id3form.png")));
    if (how == QLatin1String("close box"))
        ed.form.close();
    else if (how == QLatin1String("Escape"))
        QTest::keyClick(ed.field(2), Qt::Key_Escape);
    else
        ed.click(QLatin1String(ok ? "Button7" : "Button8"));
    QVERIFY(!ed.form.isVisible());
    QCOMPARE(ed.form.result(), int(ok ? QDialog::Accepted : QDialog::Rejected));

    const ID3info e = ed.model.entry(0);
    const QByteArray title = ok ? "New Title" : "Alpha";
    QCOMPARE(e.Title, title);
    QCOMPARE(ed.model.index(0, JobListModel::TitleColumn).data().toString(),
             QString::fromLatin1(title));
    QCOMPARE(ed.model.entry(2).Title, QByteArray(ok ? "Charlie edited earlier" : "Charlie"));
    QCOMPARE(e.EditTitle, QByteArray("New Title"));
    QCOMPARE(e.Artist, QByteArray("Another Artist"));
    QCOMPARE(e.Genre, quint8(17));
    QCOMPARE(e.GenreName, QByteArray("Blues")); // the drop-down's exit sets only the number
    QCOMPARE(e.Album, QByteArray("Typed last"));

    QVERIFY(ed.open());
    QCOMPARE(ed.caption(0), QString::fromLatin1(title));
    QCOMPARE(ed.text(0), QStringLiteral("New Title"));
    QCOMPARE(ed.text(1), QStringLiteral("Another Artist"));
    QCOMPARE(ed.genre()->currentText(), QStringLiteral("Rock"));
}

void TestTagEditor::resetRestoresTitles()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.type(0, QStringLiteral("Zero"));
    ed.type(1, QStringLiteral("Artist edited"));
    ed.clickRow(1);
    ed.type(0, QStringLiteral("One"));
    ed.click(QStringLiteral("Button9"));

    QCOMPARE(ed.text(0), QStringLiteral("Bravo"));
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
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("stored");

    const int none = Qt::Key_unknown;
    QTest::newRow("255 shows none, kept") << 255 << -1 << none << QString() << 255;
    QTest::newRow("255, first name chosen") << 255 << -1 << int(Qt::Key_Home) << QString() << 0;
    QTest::newRow("0 shown first, kept") << 0 << 0 << none << QString() << 0;
    QTest::newRow("0, Rock chosen") << 0 << 0 << none << QStringLiteral("Rock") << 17;
    QTest::newRow("147 is the last name") << 147 << 147 << int(Qt::Key_End) << QString() << 147;
    QTest::newRow("148 has no name, kept") << 148 << -1 << none << QString() << 148;
}

void TestTagEditor::genre()
{
    QFETCH(int, initial);
    QFETCH(int, shown);
    QFETCH(int, key);
    QFETCH(QString, typed);
    QFETCH(int, stored);
    QVector<ID3info> entries = fourEntries();
    entries[1].Genre = quint8(initial);
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.clickRow(1);
    QCOMPARE(ed.genre()->currentIndex(), shown);

    ed.chooseGenre(Qt::Key(key), typed);
    ed.clickRow(2);
    QCOMPARE(int(ed.model.entry(1).Genre), stored);
    QCOMPARE(ed.model.entry(1).GenreName, entries[1].GenreName);
    QCOMPARE(ed.model.entry(2).Genre, entries[2].Genre);
}

// "ALL" on the genre gives every entry the number and its name, or none at all (cleared).
void TestTagEditor::genreAll()
{
    Editor ed;
    QVERIFY(ed.open());
    ed.clickRow(2); // genre 255: nothing selected
    for (const int genre : {255, 17}) {
        if (genre == 17)
            ed.chooseGenre(Qt::Key_unknown, QStringLiteral("Rock"));
        ed.click(QStringLiteral("Button5"));
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(int(ed.model.entry(row).Genre), genre);
            QCOMPARE(ed.model.entry(row).GenreName,
                     genre == 17 ? QByteArray("Rock") : QByteArray());
            // No genre for all clears it in every output's tag.
            QCOMPARE(ed.model.entry(row).Cleared.contains(QStringLiteral("GENRE")), genre == 255);
        }
    }
}

void TestTagEditor::genreListWheelAndPopup_data()
{
    QTest::addColumn<bool>("focused");
    QTest::newRow("the wheel over it without the focus changes nothing") << false;
    QTest::newRow("the wheel with the focus moves on") << true;
}

// The drop-down lists: the wheel only changes a list that has the focus (and gives none);
// the open list shows about a dozen items and ticks the current one.
void TestTagEditor::genreListWheelAndPopup()
{
    QFETCH(bool, focused);
    QVector<ID3info> entries = fourEntries();
    entries[1].Genre = 17;
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.clickRow(1);
    QComboBox *genre = ed.genre();
    QCOMPARE(genre->currentIndex(), 17);
    if (focused)
        genre->setFocus(Qt::TabFocusReason);
    const QPointF at = genre->rect().center();
    QWheelEvent wheel(at, genre->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(genre, &wheel);
    QCOMPARE(genre->currentIndex(), focused ? 18 : 17);
    QCOMPARE(genre->hasFocus(), focused);

    genre->showPopup();
    QAbstractItemView *view = genre->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const int shown = view->viewport()->height() / view->sizeHintForRow(0);
    QVERIFY2(shown >= 10 && shown <= 12, qPrintable(QString::number(shown)));
    const QImage image = view->viewport()->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    // Pixels unlike the row's background at its left end, where the tick goes.
    auto inkAtLeft = [&](int row) {
        const QRect r = view->visualRect(view->model()->index(row, 0));
        const QColor background =
            image.pixelColor(int((r.left() + 1) * ratio), int((r.top() + 1) * ratio));
        int ink = 0;
        for (int x = r.left() + 2; x < r.left() + 16; ++x) {
            for (int y = r.top() + 2; y < r.bottom() - 1; ++y)
                ink += image.pixelColor(int(x * ratio), int(y * ratio)) != background;
        }
        return ink;
    };
    const int current = genre->currentIndex();
    QVERIFY2(inkAtLeft(current) > 4, qPrintable(QString::number(inkAtLeft(current))));
    QCOMPARE(inkAtLeft(current + 1), 0);
    genre->hidePopup();
}

// A click below the rows selects none; leaving a field then stores nothing anywhere.
void TestTagEditor::noRowSelected()
{
    const QVector<ID3info> entries = fourEntries();
    Editor ed(entries);
    QVERIFY(ed.open());
    ed.clickRow(1);
    ed.clickBelowRows();
    QCOMPARE(ed.selectedRow(), -1);
    QCOMPARE(ed.text(1), QStringLiteral("Artist B"));
    for (int n = 0; n < 5; ++n)
        ed.type(n, QStringLiteral("Nobody"));
    ed.chooseGenre(Qt::Key_Home);
    ed.clickBelowRows();
    ed.click(QStringLiteral("Button9"));
    for (int row = 0; row < 4; ++row)
        QVERIFY(sameEntry(ed.model.entry(row), entries[row]));
    QCOMPARE(ed.caption(1), QStringLiteral("Bravo"));
}

void TestTagEditor::emptyList()
{
    Editor ed;
    QVERIFY(ed.open());
    ed.type(1, QStringLiteral("Left over"));
    ed.click(QStringLiteral("Button8"));
    ed.model.clear();

    QVERIFY(ed.open());
    QCOMPARE(ed.list()->rowCount(), 0);
    QCOMPARE(ed.text(1), QStringLiteral("Left over")); // the fields keep what they showed
    for (int i = 1; i <= 6; ++i)
        ed.click(QStringLiteral("Button%1").arg(i));
    ed.click(QStringLiteral("Button9"));
    ed.clickBelowRows();
    QCOMPARE(ed.model.rowCount(), 0);
    ed.click(QStringLiteral("Button7"));
    QCOMPARE(ed.form.result(), int(QDialog::Accepted));
}

// Tags from files that are not UTF-8 (ISO-8859-1 here), blanks and all, keep their bytes
// when the user only passes through the fields.
void TestTagEditor::untouchedFieldsKeepBytes()
{
    QVector<ID3info> entries = fourEntries();
    entries[0].Title = "Caf\xe9";
    entries[0].EditTitle = "Caf\xe9 ";
    entries[0].Artist = "M\xf6tley Cr\xfc";
    entries[0].Album = " \xc0 la carte ";
    entries[0].Year = "19\xb9";
    entries[0].Comment = "a\xa0 b\r\nc\t";
    entries[0].Genre = 200;
    entries[1].Artist = "\xff\xfe";
    entries[1].Comment = "caf\xc3\xa9"; // UTF-8 stays UTF-8
    Editor ed(entries);
    QVERIFY(ed.open());
    QCOMPARE(ed.text(1), QStringLiteral("M\u00f6tley Cr\u00fc"));

    // Tab through every control, on two rows; each field's exit runs.
    const QStringList order =
        QStringLiteral("Edit1 Edit2 Edit3 Edit4 ComboBox1 Memo1 Button1 Button2 Button3 Button4 "
                       "Button5 Button6 Button7 Button8 Button9")
            .split(u' ');
    for (int row : {0, 1, 0}) {
        ed.clickRow(row);
        for (const QString &name : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
    }
    for (int row = 0; row < 4; ++row)
        QVERIFY2(sameEntry(ed.model.entry(row), entries[row]), qPrintable(QString::number(row)));

    // "ALL" on an untouched field carries its bytes too; "Ok" commits the title's.
    ed.click(QStringLiteral("Button2"));
    ed.click(QStringLiteral("Button7"));
    for (int row = 0; row < 4; ++row)
        QCOMPARE(ed.model.entry(row).Artist, entries[0].Artist);
    QCOMPARE(ed.model.entry(0).Title, QByteArray("Caf\xe9 "));
}

WT_SAFE_TEST_MAIN(TestTagEditor)

#include "tst_tageditor.moc"
