#include "common/guitest.h"
#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/settings/settingsstore.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tsetform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
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

    void dirFormStartsAtHome();
    void dirFormShowsFoldersOnly();
    void dirFormLeftWithoutOk_data();
    void dirFormLeftWithoutOk();

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

    QTest::newRow("plain") << QStringLiteral("/srv/music");
    QTest::newRow("blanks") << QStringLiteral("/home/u/My Music/ converted ");
    QTest::newRow("comma") << QStringLiteral("/music/a, b,c");
    QTest::newRow("semicolon hash") << QStringLiteral("/music/a;b#c");
    QTest::newRow("equals quotes") << QStringLiteral("/music/x=\"y\"");
    QTest::newRow("backslash") << QStringLiteral("/music/back\\slash");
    QTest::newRow("at sign") << QStringLiteral("/@Variant(x)");
    QTest::newRow("non-ASCII") << QStringLiteral("/music/Caf\u00e9/\u65e5\u672c");
    QTest::newRow("long") << QStringLiteral("/m/") + QString(3000, QLatin1Char('x'));
}

void TestSettings::roundTrip()
{
    QFETCH(QString, folder);
    QString error;
    QVERIFY(SettingsStore().writeOutputDir(QStringLiteral("/first"), &error));
    QVERIFY(SettingsStore().writeOutputDir(folder, &error));
    const QByteArray raw = readFile(settingsFile());
    QVERIFY(raw.startsWith("[operate]\nOutpath="));
    QCOMPARE(raw.count('\n'), 2);
    // The next start.
    QCOMPARE(SettingsStore().LoadOutputDir(), folder);
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
    QTest::newRow("no file") << QByteArray() << 1;
    QTest::newRow("a file from before the key") << QByteArray("[operate]\nOutpath=/m\n") << 1;
    QTest::newRow("one") << QByteArray("[operate]\nOutpath=/m\nJobs=1\n") << 1;
    QTest::newRow("any spelling") << QByteArray("[OPERATE]\njobs=2\n") << 2;
    QTest::newRow("zero") << QByteArray("[operate]\nJobs=0\n") << 1;
    QTest::newRow("negative") << QByteArray("[operate]\nJobs=-3\n") << 1;
    QTest::newRow("no number") << QByteArray("[operate]\nJobs=many\n") << 1;
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

void TestSettings::dirFormStartsAtHome()
{
    TdirForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    saveShot(&form, QStringLiteral("dirform.png"));
    QTreeView *tree = treeOf(form);
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    const QModelIndex home = model->index(QDir::homePath());
    QCOMPARE(tree->currentIndex(), home);
    QVERIFY(tree->isExpanded(home));
    // The top of the tree is the file system's root, so every folder is reachable.
    QCOMPARE(model->filePath(model->index(0, 0, tree->rootIndex())), QDir::rootPath());
    QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(home).center()));
    QTest::mouseClick(button(form, "Button1"), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.PickedFolder(), QDir::homePath());
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

// "...." opens the picker as "Set OutPath"; a folder picked is stored, then announced.
void TestSettings::chooseOutputFolder()
{
    QFETCH(QString, how);
    const QString target = m_dir.filePath(QStringLiteral("new out"));
    QVERIFY(QDir().mkpath(target));
    const bool picked = how == QLatin1String("Ok on a folder");
    SetFormFixture f;
    f.show(QStringLiteral("/old"));
    if (picked)
        saveShot(&f.form, QStringLiteral("setform.png"));
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);
    QString caption;
    whenModal(
        [&](QWidget *modal) {
            caption = modal->windowTitle();
            leavePicker(f.dirForm, modal, how, target);
        },
        &f.form);
    QTest::mouseClick(button(f.form, "Button3"), Qt::LeftButton);

    QCOMPARE(caption, QStringLiteral("Set OutPath"));
    QCOMPARE(f.edit1()->text(), picked ? target : QStringLiteral("/old"));
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
