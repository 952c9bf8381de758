#include "common/guitest.h"
#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/session/conversionsession.h"
#include "core/settings/settingsstore.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tsetform.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <functional>

namespace {

void setSettingsFile(const QString &path)
{
    qputenv("WAVETRANSMUTER_SETTINGS_FILE", QFile::encodeName(path));
}

QTreeView *treeOf(TdirForm &form)
{
    return form.findChild<QTreeView *>(QStringLiteral("ShellTreeView1"));
}

QPushButton *button(QWidget &form, const char *name)
{
    return form.findChild<QPushButton *>(QLatin1String(name));
}

// Selects `path` in the tree by clicking it, as a user would.
bool clickFolder(TdirForm &form, const QString &path)
{
    QTreeView *tree = treeOf(form);
    const QModelIndex index = qobject_cast<QFileSystemModel *>(tree->model())->index(path);
    for (QModelIndex i = index.parent(); i.isValid(); i = i.parent())
        tree->expand(i);
    tree->scrollTo(index);
    QRect rect;
    if (!index.isValid() ||
        !QTest::qWaitFor([&] { return !(rect = tree->visualRect(index)).isEmpty(); }))
        return false;
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    return tree->selectionModel()->isRowSelected(index.row(), index.parent());
}

// Leaves the picker the way the test row names.
void leavePicker(TdirForm &form, QWidget *modal, const QString &how, const QString &folder)
{
    if (how == QLatin1String("Cancel")) {
        QTest::mouseClick(button(form, "Button2"), Qt::LeftButton);
    } else if (how == QLatin1String("close box")) {
        modal->close();
    } else if (how == QLatin1String("Escape")) {
        QTest::keyClick(treeOf(form), Qt::Key_Escape);
    } else {
        if (how == QLatin1String("Ok on a folder"))
            QVERIFY(clickFolder(form, folder));
        else if (how == QLatin1String("Ok without a selection"))
            treeOf(form)->clearSelection();
        QTest::mouseClick(button(form, "Button1"), Qt::LeftButton);
    }
}

struct SetFormFixture
{
    SettingsStore store;
    TdirForm dirForm;
    TSetForm form{&store, &dirForm};

    QLineEdit *edit1() { return form.findChild<QLineEdit *>(QStringLiteral("Edit1")); }
    QRadioButton *radio(int n)
    {
        return form.findChild<QRadioButton *>(QStringLiteral("RadioButton%1").arg(n));
    }
    void show(const QString &outputDir, bool batchRunning = false)
    {
        form.prepare(outputDir, EndAction::Nothing, batchRunning);
        form.show();
    }
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void loadOutputDir_data();
    void loadOutputDir();
    void roundTrip_data();
    void roundTrip();
    void unwritable_data();
    void unwritable();
    void jobs_data();
    void jobs();
    void windowPos_data();
    void windowPos();
    void windowSizeAndColumns_data();
    void windowSizeAndColumns();
    void windowPosJoinsTheFilesSection();
    void subfoldersSwitch();
    void naming_data();
    void naming();
    void tagOptions_data();
    void tagOptions();
    void exampleShowsItsEnd_data();
    void exampleShowsItsEnd();

    void dirFormStartsAtHome();
    void dirFormShowsFoldersOnly();
    void dirFormLeftWithoutOk_data();
    void dirFormLeftWithoutOk();
    void dirFormPathField_data();
    void dirFormPathField();
    void dirFormStartFolder_data();
    void dirFormStartFolder();
    void dirFormNewFolder_data();
    void dirFormNewFolder();

    void radioButtonsSetFinishAction_data();
    void radioButtonsSetFinishAction();
    void chooseOutputFolder_data();
    void chooseOutputFolder();
    void openAndBatch();

private:
    QTemporaryDir m_dir;
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("ConverInif.ini")); }
};

void TestSettings::init()
{
    QVERIFY(m_dir.isValid());
    setSettingsFile(settingsFile());
    QFile::remove(settingsFile());
}

void TestSettings::loadOutputDir_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all; "@" is the temp folder
    QTest::addColumn<QString>("expected");   // empty: the default
    QTest::addColumn<bool>("created");

    QTest::newRow("no file") << QByteArray() << QString() << true;
    QTest::newRow("no section") << QByteArray("[other]\nOutpath=/nowhere\n") << QString() << true;
    QTest::newRow("no key") << QByteArray("[operate]\nOutPathX=/nowhere\n") << QString() << true;
    QTest::newRow("empty value") << QByteArray("[operate]\nOutpath=\n") << QString() << true;
    QTest::newRow("key in another section")
        << QByteArray("[operate2]\nOutpath=/nowhere\n[x]\noperate/Outpath=/no\n") << QString()
        << true;
    QTest::newRow("one level missing")
        << QByteArray("[operate]\nOutpath=@/out\n") << QStringLiteral("@/out") << true;
    QTest::newRow("two levels missing")
        << QByteArray("[operate]\nOutpath=@/deep/er\n") << QStringLiteral("@/deep/er") << false;
    // One absolute path for the encoder and the tag, whatever their working folders.
    QTest::newRow("relative to the home folder")
        << QByteArray("[operate]\nOutpath=relout/./x/..\n") << QStringLiteral("~/relout") << true;
    // Refused unread (with a message), not parsed at many times its size.
    QTest::newRow("larger than 1 MiB")
        << QByteArray("[operate]\nOutpath=@/out\n;") + QByteArray(1024 * 1024, ',') << QString()
        << true;
}

void TestSettings::loadOutputDir()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(bool, created);
    if (!content.isEmpty())
        QVERIFY(writeFile(settingsFile(), content.replace('@', QFile::encodeName(m_dir.path()))));
    const QString music = QDir::home().filePath(QStringLiteral("Music"));
    QDir(music).removeRecursively();
    expected = expected.isEmpty() ? music : expected.replace(QLatin1Char('@'), m_dir.path());
    expected.replace(QLatin1Char('~'), QDir::homePath());

    SettingsStore store;
    QString error;
    QCOMPARE(store.LoadOutputDir(&error), expected);
    QVERIFY(!QFileInfo::exists(expected)); // reading makes nothing
    // The program's start makes a missing last level.
    ConversionSession::prepareOutputDir(store.LoadOutputDir());
    const bool tooLarge = content.size() > SettingsStore::MaxFileSize;
    QCOMPARE(error, tooLarge ? QStringLiteral("The settings file %1 is larger than 1 MiB and was "
                                              "not read")
                                   .arg(settingsFile())
                             : QString());
    QCOMPARE(QFileInfo(expected).isDir(), created);
    QCOMPARE(readFile(settingsFile()), content); // reading never writes
}

void TestSettings::roundTrip_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");

    // Below the test's own folder: the next start creates a missing last level.
    const QString base = m_dir.path();
    auto row = [&](const char *name, const QString &folder) {
        QTest::newRow(name) << base + folder << base + folder;
    };
    row("plain", QStringLiteral("/srv/music"));
    row("blanks", QStringLiteral("/home/u/My Music/ converted "));
    row("comma", QStringLiteral("/music/a, b,c"));
    row("semicolon hash", QStringLiteral("/music/a;b#c"));
    row("equals quotes", QStringLiteral("/music/x=\"y\""));
    row("backslash", QStringLiteral("/music/back\\slash"));
    row("non-ASCII", QStringLiteral("/music/Caf\u00e9/\u65e5\u672c"));
    row("long", QStringLiteral("/m/") + QString(3000, QLatin1Char('x')));
    // QSettings' own escape for a value that looks like one of its variants; relative, so
    // it is taken below the (test's) home folder.
    QTest::newRow("at sign") << QStringLiteral("@Variant(x)")
                             << QDir::home().filePath(QStringLiteral("@Variant(x)"));
}

void TestSettings::roundTrip()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QString error;
    QVERIFY(SettingsStore().writeOutputDir(m_dir.filePath(QStringLiteral("first")), &error));
    QVERIFY(SettingsStore().writeOutputDir(folder, &error));
    const QByteArray raw = readFile(settingsFile());
    QVERIFY(raw.startsWith("[operate]\nOutpath="));
    QCOMPARE(raw.count('\n'), 2);
    // The next start.
    QCOMPARE(SettingsStore().LoadOutputDir(), expected);
}

void TestSettings::unwritable_data()
{
    QTest::addColumn<QString>("relative");
    // Root may write anywhere, but not below a regular file or into a folder.
    QTest::newRow("below a regular file") << QStringLiteral("plain.txt/ConverInif.ini");
    QTest::newRow("deeper below a file") << QStringLiteral("plain.txt/a/b/ConverInif.ini");
    QTest::newRow("a folder") << QStringLiteral("folder.ini");
}

// The settings dialog reports a folder it cannot store, and the window keeps its OutputDir.
void TestSettings::unwritable()
{
    QFETCH(QString, relative);
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("plain.txt")), "not a folder"));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder.ini")));
    const QString file = m_dir.filePath(relative);
    setSettingsFile(file);
    const QString target = m_dir.filePath(QStringLiteral("wanted"));
    QVERIFY(QDir().mkpath(target));

    SetFormFixture f;
    f.show(QStringLiteral("/old"));
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);
    QString message, pathBoxDuringMessage;
    whenModal(
        [&](QWidget *) {
            QVERIFY(clickFolder(f.dirForm, target));
            button(f.dirForm, "Button1")->click();
            whenModal(
                [&](QWidget *box) {
                    auto *messageBox = qobject_cast<QMessageBox *>(box);
                    QVERIFY(messageBox && messageBox->icon() == QMessageBox::Critical);
                    message = messageBox->text();
                    pathBoxDuringMessage = f.edit1()->text();
                    messageBox->accept();
                },
                &f.dirForm);
        },
        &f.form);
    QTest::mouseClick(button(f.form, "Button3"), Qt::LeftButton);

    QCOMPARE(message, QStringLiteral("Unable to write to ") + file);
    QCOMPARE(pathBoxDuringMessage, target);
    QCOMPARE(f.edit1()->text(), target);
    QCOMPARE(changes.count(), 0);
    QCOMPARE(readFile(m_dir.filePath(QStringLiteral("plain.txt"))), QByteArray("not a folder"));
    QCOMPARE(SettingsStore().readOutputDir(), QString());
}

void TestSettings::jobs_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<int>("expected");       // at most one per core; 0: one per core
    QTest::newRow("no file: one per core") << QByteArray() << 0;
    QTest::newRow("a file from before the key: one per core")
        << QByteArray("[operate]\nOutpath=/m\n") << 0;
    QTest::newRow("one") << QByteArray("[operate]\nOutpath=/m\nJobs=1\n") << 1;
    QTest::newRow("any spelling") << QByteArray("[OPERATE]\njobs=2\n") << 2;
    QTest::newRow("zero") << QByteArray("[operate]\nJobs=0\n") << 1;
    QTest::newRow("negative") << QByteArray("[operate]\nJobs=-3\n") << 1;
    QTest::newRow("no number: one per core") << QByteArray("[operate]\nJobs=many\n") << 0;
    QTest::newRow("more than the cores") << QByteArray("[operate]\nJobs=100000\n") << 0;
}

// Read clamped to 1 ... cores, shown and changed in the dialog, stored beside the folder.
void TestSettings::jobs()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    const int cores = SettingsStore::maxJobs();
    expected = expected == 0 ? cores : std::min(expected, cores);
    if (!content.isEmpty())
        QVERIFY(writeFile(settingsFile(), content));
    QCOMPARE(SettingsStore().readJobs(), expected);

    SetFormFixture f;
    f.form.prepare(QStringLiteral("/m"), EndAction::Nothing, false, SettingsStore().readJobs());
    auto *spin = f.form.findChild<QSpinBox *>(QStringLiteral("SpinBox1"));
    QVERIFY(spin);
    QCOMPARE(spin->value(), expected);
    QCOMPARE(spin->maximum(), cores);
    if (cores == 1)
        QSKIP("one core: nothing else to choose");
    QSignalSpy changes(&f.form, &TSetForm::jobsChanged);
    const int other = expected == 1 ? cores : 1;
    spin->setValue(other);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().first().toInt(), other);
    QCOMPARE(SettingsStore().readJobs(), other);
    if (content.contains("Outpath"))
        QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/m"));
}

void TestSettings::naming_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("keepFolders");
    QTest::addColumn<int>("existing");
    const int replace = int(ExistingOutput::Replace);
    QTest::newRow("no file: the title, replaced")
        << QByteArray() << u"{title}"_qs << false << replace;
    QTest::newRow("a file from before the keys")
        << QByteArray("[operate]\nOutpath=/m\n") << u"{title}"_qs << false << replace;
    QTest::newRow("all three, any spelling")
        << QByteArray("[Operate]\npattern={artist}/{title}\nKEEPFOLDERS=1\nExisting=Skip\n")
        << u"{artist}/{title}"_qs << true << int(ExistingOutput::Skip);
    QTest::newRow("a comma in the pattern, unquoted")
        << QByteArray("[operate]\nPattern={artist}, {title}\n") << u"{artist}, {title}"_qs << false
        << replace;
    QTest::newRow("unusable values are the defaults")
        << QByteArray("[operate]\nPattern={artist}/../{title}\nKeepFolders=yes\nExisting=keep\n")
        << u"{title}"_qs << false << replace;
}

// Read from the file, shown in the dialog with the example it gives, and each change stored
// at once; a pattern being typed is taken when it can name outputs and the box is left.
void TestSettings::naming()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, pattern);
    QFETCH(bool, keepFolders);
    QFETCH(int, existing);
    if (!content.isEmpty())
        QVERIFY(writeFile(settingsFile(), content));
    const NamingOptions read = SettingsStore().readNaming();
    QCOMPARE(read.pattern, pattern);
    QCOMPARE(read.keepFolders, keepFolders);
    QCOMPARE(int(read.existing), existing);

    SetFormFixture f;
    f.form.setExampleProvider([](const QString &dir, const NamingOptions &n) {
        return dir + u'/' + n.pattern + (n.keepFolders ? u" kept"_qs : QString());
    });
    f.show(QStringLiteral("/m"));
    f.form.setNaming(read);
    auto *edit = f.form.findChild<QLineEdit *>(QStringLiteral("Edit2"));
    auto *example = f.form.findChild<QLabel *>(QStringLiteral("Label4"));
    auto *keep = f.form.findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
    auto *mode = f.form.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
    QVERIFY(edit && example && keep && mode);
    QCOMPARE(example->toolTip(),
             u"Example: /m/"_qs + pattern + (keepFolders ? u" kept"_qs : QString()));
    QSignalSpy changes(&f.form, &TSetForm::namingChanged);

    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("{album}/{nope}"));
    QCOMPARE(example->toolTip(), u"Unknown field {nope}; the fields are "
                                 "{title} {artist} {album} {year} {genre} {track} {filename}"_qs);
    emit edit->editingFinished();
    QCOMPARE(changes.count(), 0); // not taken
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QStringLiteral("{track} {title}"));
    QCOMPARE(example->toolTip(),
             u"Example: /m/{album}/{track} {title}"_qs + (keepFolders ? u" kept"_qs : QString()));
    QCOMPARE(changes.count(), 0);
    f.form.done(0); // left by its close box
    QCOMPARE(changes.count(), 1);
    keep->setChecked(!keepFolders);
    mode->setCurrentIndex(mode->findData(int(ExistingOutput::Number)));
    QCOMPARE(changes.count(), 3);
    const NamingOptions stored = SettingsStore().readNaming();
    QCOMPARE(stored.pattern, u"{album}/{track} {title}"_qs);
    QCOMPARE(stored.keepFolders, !keepFolders);
    QCOMPARE(stored.existing, ExistingOutput::Number);
    if (content.contains("Outpath"))
        QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/m"));
}

void TestSettings::tagOptions_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<bool>("keepTime");
    QTest::addColumn<bool>("folderCover");
    QTest::newRow("no file: time off, cover on") << QByteArray() << false << true;
    QTest::newRow("a file from before the keys")
        << QByteArray("[operate]\nOutpath=/m\n") << false << true;
    QTest::newRow("both, any spelling")
        << QByteArray("[operate]\nkeeptime=1\nFOLDERCOVER=0\n") << true << false;
}

// Read from the file, shown in the dialog's two boxes, and each click stored and announced.
void TestSettings::tagOptions()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, keepTime);
    QFETCH(bool, folderCover);
    if (!content.isEmpty())
        QVERIFY(writeFile(settingsFile(), content));
    const TagOptions read = SettingsStore().readTagOptions();
    QCOMPARE(read.keepSourceTime, keepTime);
    QCOMPARE(read.coverFromFolder, folderCover);

    SetFormFixture f;
    f.show(QStringLiteral("/m"));
    f.form.setTagOptions(read);
    auto *time = f.form.findChild<QCheckBox *>(QStringLiteral("CheckBox2"));
    auto *cover = f.form.findChild<QCheckBox *>(QStringLiteral("CheckBox3"));
    QVERIFY(time && cover);
    QCOMPARE(time->isChecked(), keepTime);
    QCOMPARE(cover->isChecked(), folderCover);
    QSignalSpy changes(&f.form, &TSetForm::tagOptionsChanged);
    QTest::mouseClick(time, Qt::LeftButton, {}, QPoint(4, time->height() / 2));
    QTest::mouseClick(cover, Qt::LeftButton, {}, QPoint(4, cover->height() / 2));
    QCOMPARE(changes.count(), 2);
    const TagOptions last = changes.last().at(0).value<TagOptions>();
    QCOMPARE(last.keepSourceTime, !keepTime);
    QCOMPARE(last.coverFromFolder, !folderCover);
    QVERIFY(SettingsStore().readTagOptions() == last);
}

void TestSettings::exampleShowsItsEnd_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown"); // the end of what is shown, at least
    QTest::addColumn<bool>("cut");      // at its start; before a folder where one fits
    const QString deep = QStringLiteral("/home/someone/Music/converted/The Long Named Band/"
                                        "First Light/03 - Title.mp3");
    QTest::newRow("short: whole") << QStringLiteral("/m/03 - Title.mp3")
                                  << QStringLiteral("/m/03 - Title.mp3") << false;
    QTest::newRow("long: whole folders go")
        << deep + deep << QStringLiteral("/First Light/03 - Title.mp3") << true;
    QTest::newRow("a name longer than the room")
        << QStringLiteral("/m/") + QString(120, u'x') + QStringLiteral(" end.mp3")
        << QStringLiteral("x end.mp3") << true;
}

// The example path loses its start, never its end, which tells the namings apart; the
// tooltip has all of it.
void TestSettings::exampleShowsItsEnd()
{
    QFETCH(QString, path);
    QFETCH(QString, shown);
    QFETCH(bool, cut);
    SetFormFixture f;
    f.form.setExampleProvider([&path](const QString &, const NamingOptions &) { return path; });
    f.show(QStringLiteral("/m"));
    auto *example = f.form.findChild<QLabel *>(QStringLiteral("Label4"));
    const QString text = example->text();
    const QString prefix = cut ? QStringLiteral("Example: \u2026") : QStringLiteral("Example: ");
    QVERIFY2(text.startsWith(prefix) && text.endsWith(shown), qPrintable(text));
    // What follows is the path's end, from a folder on where one fits.
    const QString end = text.mid(prefix.size());
    QVERIFY2(path.endsWith(end) && !end.contains(u'\u2026'), qPrintable(text));
    if (cut && shown.startsWith(u'/'))
        QVERIFY2(end.startsWith(u'/'), qPrintable(text));
    QVERIFY(QFontMetrics(example->font()).horizontalAdvance(text) <= example->width());
    QCOMPARE(example->toolTip(), QStringLiteral("Example: ") + path);
    saveShot(&f.form, QStringLiteral("setform-long-example.png"));
}

void TestSettings::windowPos_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QPoint>("expected");
    QTest::addColumn<bool>("found");

    QTest::newRow("no file") << QByteArray() << QPoint() << false;
    QTest::newRow("older file without the key")
        << QByteArray("[operate]\nOutpath=/m\n") << QPoint() << false;
    QTest::newRow("as written") << QByteArray("[operate]\nWindowPos=10, 20\n") << QPoint(10, 20)
                                << true;
    QTest::newRow("quoted, negative")
        << QByteArray("[operate]\nWindowPos=\"-1280,7\"\n") << QPoint(-1280, 7) << true;
    QTest::newRow("other spelling")
        << QByteArray("[OPERATE]\nwindowpos=1,2\n") << QPoint(1, 2) << true;
    QTest::newRow("not numbers") << QByteArray("[operate]\nWindowPos=a, b\n") << QPoint() << false;
    QTest::newRow("three numbers")
        << QByteArray("[operate]\nWindowPos=1, 2, 3\n") << QPoint() << false;
    QTest::newRow("one number") << QByteArray("[operate]\nWindowPos=5\n") << QPoint() << false;
}

void TestSettings::windowPos()
{
    QFETCH(QByteArray, content);
    QFETCH(QPoint, expected);
    QFETCH(bool, found);
    if (!content.isEmpty())
        QVERIFY(writeFile(settingsFile(), content));
    const std::optional<QPoint> pos = SettingsStore().readWindowPos();
    QCOMPARE(pos.has_value(), found);
    if (found)
        QCOMPARE(*pos, expected);
}

void TestSettings::windowSizeAndColumns_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("size"); // invalid: none
    QTest::addColumn<QList<int>>("columns");
    QTest::newRow("as written") << QByteArray("WindowSize=600, 400\nColumnWidths=60, 70, 110\n")
                                << QSize(600, 400) << QList<int>{60, 70, 110};
    QTest::newRow("quoted") << QByteArray("WindowSize=\"600,400\"\nColumnWidths=\"5,6\"\n")
                            << QSize(600, 400) << QList<int>{5, 6};
    QTest::newRow("no width") << QByteArray("WindowSize=0, 400\n") << QSize() << QList<int>();
    QTest::newRow("negative") << QByteArray("WindowSize=600, -4\nColumnWidths=60, -70\n") << QSize()
                              << QList<int>();
    QTest::newRow("not numbers") << QByteArray("WindowSize=big\nColumnWidths=60, wide, 110\n")
                                 << QSize() << QList<int>();
}

// The window's size and its columns' widths are read back only when they make sense.
void TestSettings::windowSizeAndColumns()
{
    QFETCH(QByteArray, content);
    QFETCH(QSize, size);
    QFETCH(QList<int>, columns);
    QVERIFY(writeFile(settingsFile(), "[operate]\n" + content));
    const SettingsStore store;
    QCOMPARE(store.readWindowSize(),
             size.isValid() ? std::optional<QSize>(size) : std::optional<QSize>());
    QCOMPARE(store.readColumnWidths(), columns);
    QString error;
    QVERIFY(SettingsStore().writeWindowSize(QSize(700, 500), true, &error));
    QVERIFY(SettingsStore().writeColumnWidths({61, 72, 113}, &error));
    QCOMPARE(SettingsStore().readWindowSize(), std::optional<QSize>(QSize(700, 500)));
    QVERIFY(SettingsStore().readWindowMaximized());
    QCOMPARE(SettingsStore().readColumnWidths(), (QList<int>{61, 72, 113}));
}

// A new key goes into the section as the file spells it, next to the folder.
void TestSettings::windowPosJoinsTheFilesSection()
{
    QVERIFY(writeFile(settingsFile(), "[Operate]\nOutpath=/m\n"));
    QString error;
    QVERIFY(SettingsStore().writeWindowPos(QPoint(-3, 40), &error));
    QCOMPARE(readFile(settingsFile()), QByteArray("[Operate]\nOutpath=/m\nWindowPos=-3, 40\n"));
    QCOMPARE(SettingsStore().readWindowPos(), std::optional<QPoint>(QPoint(-3, 40)));
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/m"));
}

// The "Include subfolders" switch lives beside the output folder, found in any spelling.
void TestSettings::subfoldersSwitch()
{
    QVERIFY(!SettingsStore().readIncludeSubfolders()); // no file: off
    QVERIFY(writeFile(settingsFile(), "[OPERATE]\nOUTPATH=/x\nincludesubfolders=1\n"));
    QVERIFY(SettingsStore().readIncludeSubfolders());
    QString error;
    QVERIFY(SettingsStore().writeIncludeSubfolders(false, &error));
    QCOMPARE(readFile(settingsFile()), QByteArray("[OPERATE]\nOUTPATH=/x\nincludesubfolders=0\n"));
    QVERIFY(!SettingsStore().readIncludeSubfolders());
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/x"));
}

// Even a home folder deep down is in view with the start of its row (no horizontal
// scrolling), and folders have icons without an icon theme.
void TestSettings::dirFormStartsAtHome()
{
    const QByteArray realHome = qgetenv("HOME");
    QString deep = m_dir.path();
    for (int level = 0; level < 8; ++level)
        deep += QStringLiteral("/a folder with a long name, level %1").arg(level);
    QVERIFY(QDir().mkpath(deep));
    qputenv("HOME", QFile::encodeName(deep));
    TdirForm form;
    qputenv("HOME", realHome);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView *tree = treeOf(form);
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    const QModelIndex home = model->index(deep);
    QCOMPARE(tree->currentIndex(), home);
    QVERIFY(tree->isExpanded(home));
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("PathEdit"))->text(), deep);
    // The top of the tree is the file system's root, so every folder is reachable.
    QCOMPARE(model->filePath(model->index(0, 0, tree->rootIndex())), QDir::rootPath());
    // The home folder's row is in view, from its start.
    QTRY_VERIFY(tree->viewport()->rect().contains(QPoint(1, tree->visualRect(home).center().y())));
    QVERIFY(tree->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(tree->horizontalScrollBar()->value(), 0);
    const QIcon icon = model->data(home, Qt::DecorationRole).value<QIcon>();
    QVERIFY(!icon.pixmap(16).isNull());
    saveShot(&form, QStringLiteral("dirform.png"));
    QTest::mouseClick(button(form, "Button1"), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.PickedFolder(), deep);
}

void TestSettings::dirFormShowsFoldersOnly()
{
    QDir home = QDir::home();
    for (const char *folder : {"listing/sub one", "listing/sub2", "listing/.hidden"})
        QVERIFY(home.mkpath(QLatin1String(folder)));
    QVERIFY(writeFile(home.filePath(QStringLiteral("listing/song.mp3")), "x"));

    TdirForm form;
    form.show();
    QFileSystemModel *model = qobject_cast<QFileSystemModel *>(treeOf(form)->model());
    const QModelIndex listing = model->index(home.filePath(QStringLiteral("listing")));
    treeOf(form)->expand(listing);
    QTRY_COMPARE(model->rowCount(listing), 2);
    QStringList names = {model->index(0, 0, listing).data().toString(),
                         model->index(1, 0, listing).data().toString()};
    names.sort();
    QCOMPARE(names, QStringList({QStringLiteral("sub one"), QStringLiteral("sub2")}));
}

void TestSettings::dirFormLeftWithoutOk_data()
{
    QTest::addColumn<QString>("how");
    for (const char *how : {"Cancel", "close box", "Escape", "Ok without a selection"})
        QTest::newRow(how) << QString::fromLatin1(how);
}

// Leaving without "Ok" on a folder picks nothing; the next showing still has the folder
// of the last "Ok" selected, unless the selection was cleared.
void TestSettings::dirFormLeftWithoutOk()
{
    QFETCH(QString, how);
    const QString target = m_dir.filePath(QStringLiteral("kept folder"));
    QVERIFY(QDir().mkpath(target));
    TdirForm form;
    const QString shown[] = {QStringLiteral("Ok on a folder"), how, QStringLiteral("Ok")};
    const QString picked[] = {target, QString(), how.startsWith(u'O') ? QString() : target};
    for (int i = 0; i < 3; ++i) {
        whenModal([&](QWidget *modal) { leavePicker(form, modal, shown[i], target); });
        form.exec();
        QCOMPARE(form.PickedFolder(), picked[i]);
    }
}

void TestSettings::dirFormPathField_data()
{
    QTest::addColumn<QString>("typed"); // "~" is the home folder
    QTest::addColumn<bool>("enterFirst");
    QTest::addColumn<QString>("answer"); // to the message that comes; empty: none comes
    QTest::addColumn<QString>("picked"); // below the home folder; empty: nothing
    QTest::newRow("a path, Ok") << QStringLiteral("HOME/typed/one") << false << QString()
                                << QStringLiteral("typed/one");
    QTest::newRow("~, Enter, Ok") << QStringLiteral("~/typed") << true << QString()
                                  << QStringLiteral("typed");
    QTest::newRow("a hidden folder, Enter, Ok") << QStringLiteral("~/typed/.secret") << true
                                                << QString() << QStringLiteral("typed/.secret");
    QTest::newRow("no such folder, not made")
        << QStringLiteral("~/typed/none") << false << QStringLiteral("No") << QString();
    QTest::newRow("no such folders, made")
        << QStringLiteral("~/typed/new/deeper") << false << QStringLiteral("Yes")
        << QStringLiteral("typed/new/deeper");
    QTest::newRow("a file") << QStringLiteral("~/typed/song.mp3") << false << QStringLiteral("Ok")
                            << QString();
}

// The path field takes a typed or pasted folder: Enter goes there in the tree (showing hidden
// folders when it is one), Ok picks it; a folder that does not exist is made when the user
// agrees, else the picker stays open; a file is refused.
void TestSettings::dirFormPathField()
{
    QFETCH(QString, typed);
    QFETCH(bool, enterFirst);
    QFETCH(QString, answer);
    QFETCH(QString, picked);
    QDir home = QDir::home();
    QVERIFY(home.mkpath(QStringLiteral("typed/one")) &&
            home.mkpath(QStringLiteral("typed/.secret")));
    QVERIFY(writeFile(home.filePath(QStringLiteral("typed/song.mp3")), "x"));
    typed.replace(QStringLiteral("HOME"), QDir::homePath());
    TdirForm form;
    auto *edit = form.findChild<QLineEdit *>(QStringLiteral("PathEdit"));
    auto *hidden = form.findChild<QCheckBox *>(QStringLiteral("HiddenCheck"));
    QString current, message;
    whenModal([&](QWidget *) {
        edit->setText(typed);
        if (enterFirst) {
            QTest::keyClick(edit, Qt::Key_Return);
            QVERIFY(form.isVisible());
            current = qobject_cast<QFileSystemModel *>(treeOf(form)->model())
                          ->filePath(treeOf(form)->currentIndex());
        }
        if (!answer.isEmpty()) {
            whenModal(
                [&](QWidget *box) {
                    auto *messageBox = qobject_cast<QMessageBox *>(box);
                    message = messageBox->text();
                    if (answer == QLatin1String("Yes")) {
                        saveShot(box, QStringLiteral("dirform-make-typed.png"));
                        messageBox->button(QMessageBox::Yes)->click();
                        return;
                    }
                    box->close();
                    QTimer::singleShot(0, &form, [&form] { button(form, "Button2")->click(); });
                },
                &form);
        }
        button(form, "Button1")->click();
    });
    form.exec();
    const QString expected = picked.isEmpty() ? QString() : home.filePath(picked);
    QCOMPARE(form.PickedFolder(), expected);
    if (enterFirst)
        QCOMPARE(current, expected);
    QCOMPARE(hidden->isChecked(), picked.contains(QLatin1String("/.")));
    QCOMPARE(message.isEmpty(), answer.isEmpty());
    if (!answer.isEmpty())
        QVERIFY2(message.contains(
                     QDir::toNativeSeparators(typed.replace(QLatin1String("~"), QDir::homePath()))),
                 qPrintable(message));
    if (answer == QLatin1String("No"))
        QVERIFY(!QFileInfo::exists(typed)); // declined: nothing made
    if (!expected.isEmpty())
        QVERIFY(QFileInfo(expected).isDir());
}

void TestSettings::dirFormStartFolder_data()
{
    QTest::addColumn<QString>("start");    // below the test's folder; "-": none given
    QTest::addColumn<QString>("selected"); // below the test's folder; "~": the home folder
    QTest::newRow("a folder") << QStringLiteral("start/out put") << QStringLiteral("start/out put");
    QTest::newRow("a folder not there yet")
        << QStringLiteral("start/out put/gone/deeper") << QStringLiteral("start/out put");
    QTest::newRow("none: the home folder") << QStringLiteral("-") << QStringLiteral("~");
}

// The picker opens at the folder the caller gives (the output folder), or as near as exists.
void TestSettings::dirFormStartFolder()
{
    QFETCH(QString, start);
    QFETCH(QString, selected);
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("start/out put")));
    TdirForm form;
    if (start != QLatin1String("-"))
        form.setStartFolder(m_dir.filePath(start));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView *tree = treeOf(form);
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    const QString expected =
        selected == QLatin1String("~") ? QDir::homePath() : m_dir.filePath(selected);
    QCOMPARE(model->filePath(tree->currentIndex()), expected);
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("PathEdit"))->text(), expected);
    QTRY_VERIFY(tree->viewport()->rect().contains(
        QPoint(1, tree->visualRect(tree->currentIndex()).center().y())));
}

void TestSettings::dirFormNewFolder_data()
{
    QTest::addColumn<QString>("name");     // typed into the question; null: cancelled
    QTest::addColumn<QString>("selected"); // afterwards, below the folder it was made in
    QTest::addColumn<bool>("warned");
    QTest::newRow("a new name") << QStringLiteral(" Live 2024 ") << QStringLiteral("Live 2024")
                                << false;
    QTest::newRow("cancelled") << QString() << QString() << false;
    QTest::newRow("a slash") << QStringLiteral("a/b") << QString() << true;
    QTest::newRow("dot dot") << QStringLiteral("..") << QString() << true;
    QTest::newRow("a name that is taken")
        << QStringLiteral("taken") << QStringLiteral("taken") << true;
}

// "New folder" makes a folder under the selected one and selects it; bad and taken names are
// refused with a word, a taken folder is selected.
void TestSettings::dirFormNewFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, selected);
    QFETCH(bool, warned);
    QTemporaryDir parent(m_dir.filePath(QStringLiteral("new-XXXXXX")));
    QVERIFY(QDir(parent.path()).mkdir(QStringLiteral("taken")));
    TdirForm form;
    form.setStartFolder(parent.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    saveShot(&form, QStringLiteral("dirform-new-folder.png"));
    QString warning;
    whenModal(
        [&](QWidget *modal) {
            auto *ask = qobject_cast<QInputDialog *>(modal);
            QVERIFY(ask);
            QCOMPARE(ask->textValue(), QStringLiteral("New folder"));
            if (name.isNull()) {
                ask->reject();
                return;
            }
            ask->setTextValue(name);
            saveShot(ask, QStringLiteral("dirform-new-folder-name.png"));
            if (warned)
                whenModal(
                    [&](QWidget *box) {
                        warning = qobject_cast<QMessageBox *>(box)->text();
                        box->close();
                    },
                    &form);
            ask->accept();
        },
        &form);
    QTest::mouseClick(button(form, "NewFolderButton"), Qt::LeftButton);
    QTRY_COMPARE(warning.isEmpty(), !warned);
    QTreeView *tree = treeOf(form);
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    const QString expected = selected.isEmpty() ? parent.path() : parent.filePath(selected);
    QTRY_COMPARE(model->filePath(tree->currentIndex()), expected);
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("PathEdit"))->text(), expected);
    saveShot(&form, QStringLiteral("dirform-new-folder-made.png"));
    // Nothing else was made.
    QStringList made = QDir(parent.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    made.sort();
    QCOMPARE(made, selected == QLatin1String("Live 2024")
                       ? QStringList({QStringLiteral("Live 2024"), QStringLiteral("taken")})
                       : QStringList(QStringLiteral("taken")));
    // Ok picks it.
    QTest::mouseClick(button(form, "Button1"), Qt::LeftButton);
    QCOMPARE(form.PickedFolder(), expected);
}

void TestSettings::radioButtonsSetFinishAction_data()
{
    QTest::addColumn<int>("action");
    QTest::newRow("Open OutPath") << 1;
    QTest::newRow("Shutdown") << 2;
    QTest::newRow("No Operate") << 0;
}

void TestSettings::radioButtonsSetFinishAction()
{
    QFETCH(int, action);
    SetFormFixture f;
    QSignalSpy actions(&f.form, &TSetForm::finishActionChanged);
    f.form.prepare(QStringLiteral("/out"), action == 0 ? EndAction::Shutdown : EndAction::Nothing,
                   false);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QCOMPARE(actions.count(), 0); // filling the dialog is not a choice
    QTest::mouseClick(f.radio(action + 1), Qt::LeftButton);
    QCOMPARE(actions.count(), 1);
    QCOMPARE(int(actions.at(0).at(0).value<EndAction>()), action);
    QVERIFY(!QFileInfo::exists(settingsFile())); // the end action is never stored

    // After a new start the window hands over "nothing" again.
    f.form.hide();
    f.form.prepare(QStringLiteral("/out"), EndAction::Nothing, false);
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(f.radio(n)->isChecked(), n == 1);
}

void TestSettings::chooseOutputFolder_data()
{
    dirFormLeftWithoutOk_data();
    QTest::newRow("Ok on a folder") << QStringLiteral("Ok on a folder");
}

// "...." opens the picker as "Set OutPath" at the output folder in use; a folder picked is
// stored, then announced.
void TestSettings::chooseOutputFolder()
{
    QFETCH(QString, how);
    const QString target = m_dir.filePath(QStringLiteral("new out"));
    const QString current = m_dir.filePath(QStringLiteral("old out"));
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(current));
    const bool picked = how == QLatin1String("Ok on a folder");
    SetFormFixture f;
    f.show(current);
    if (picked)
        saveShot(&f.form, QStringLiteral("setform.png"));
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);
    QString caption, openedAt;
    whenModal(
        [&](QWidget *modal) {
            caption = modal->windowTitle();
            // Once the folder has been read, it is selected.
            auto *path = modal->findChild<QLineEdit *>(QStringLiteral("PathEdit"));
            QTRY_COMPARE(path->text(), current);
            openedAt = path->text();
            leavePicker(f.dirForm, modal, how, target);
        },
        &f.form);
    QTest::mouseClick(button(f.form, "Button3"), Qt::LeftButton);

    QCOMPARE(caption, QStringLiteral("Set OutPath"));
    QCOMPARE(openedAt, current);
    QCOMPARE(f.edit1()->text(), picked ? target : current);
    QCOMPARE(changes, picked ? QList<QVariantList>({{target}}) : QList<QVariantList>());
    QCOMPARE(SettingsStore().readOutputDir(), picked ? target : QString());
}

void TestSettings::openAndBatch()
{
    SetFormFixture f;
    QStringList opened;
    f.form.setOpenFolderHandler([&](const QString &dir) { opened << dir; });
    f.show(QStringLiteral("/music/out put"), true);
    QTest::mouseClick(button(f.form, "Button4"), Qt::LeftButton);
    QCOMPARE(opened, QStringList(QStringLiteral("/music/out put")));

    // The path box is greyed while a batch runs, the buttons are not.
    QVERIFY(!f.edit1()->isEnabled());
    QVERIFY(button(f.form, "Button3")->isEnabled() && button(f.form, "Button4")->isEnabled());
    f.form.setBatchRunning(false); // the batch ends while the dialog is open
    QVERIFY(f.edit1()->isEnabled());
    f.form.hide();
    f.show(QStringLiteral("/out"));
    QVERIFY(f.edit1()->isEnabled());
}

WT_SAFE_TEST_MAIN(TestSettings)

#include "tst_settings.moc"
