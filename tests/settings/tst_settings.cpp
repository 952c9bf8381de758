#include "settings/settingsstore.h"
#include "settings/tdirform.h"
#include "settings/tsetform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {

void setSettingsFile(const QString &path)
{
    qputenv("WAVETRANSMUTER_SETTINGS_FILE", QFile::encodeName(path));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Runs `action` on the next modal window other than `except` once it is up, from
// inside whatever modal loop is running by then.
void whenModal(std::function<void(QWidget *)> action, QWidget *except = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action, except] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == except || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

void saveShot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget->grab().save(QDir(dir).filePath(name));
}

// Every caption must fit its control at the font in use.
void checkCaptionsFit(QWidget *form)
{
    for (QAbstractButton *button : form->findChildren<QAbstractButton *>()) {
        const QFontMetrics fm(button->font());
        int needed = fm.horizontalAdvance(button->text()) + 6;
        if (qobject_cast<QRadioButton *>(button))
            needed = button->sizeHint().width();
        QVERIFY2(needed <= button->width(), qPrintable(button->objectName()));
        QVERIFY2(fm.height() + 4 <= button->height(), qPrintable(button->objectName()));
    }
    for (QLabel *label : form->findChildren<QLabel *>()) {
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->objectName()));
        QVERIFY2(label->sizeHint().height() <= label->height(), qPrintable(label->objectName()));
    }
    for (QGroupBox *box : form->findChildren<QGroupBox *>()) {
        const QFontMetrics fm(box->font());
        QVERIFY2(fm.horizontalAdvance(box->title()) + 16 <= box->width(),
                 qPrintable(box->objectName()));
        for (QWidget *child : box->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(box->contentsRect().contains(child->geometry()),
                     qPrintable(child->objectName()));
    }
    for (QLineEdit *edit : form->findChildren<QLineEdit *>())
        QVERIFY2(edit->minimumSizeHint().height() <= edit->height(),
                 qPrintable(edit->objectName()));
    for (QWidget *child : form->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(form->rect().contains(child->geometry()), qPrintable(child->objectName()));
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void storeFileFromEnvironment();
    void missingSettingsGiveDefault_data();
    void missingSettingsGiveDefault();
    void loadCreatesOneLevel();
    void roundTrip_data();
    void roundTrip();
    void handWrittenFile();
    void fileChangedBetweenStarts();
    void unwritable_data();
    void unwritable();

    void dirFormStartsAtHome();
    void dirFormShowsFoldersOnly();
    void dirFormPicksClickedFolder();
    void dirFormKeepsSelection();
    void dirFormLeftWithoutOk_data();
    void dirFormLeftWithoutOk();
    void dirFormNothingSelected();

    void setFormLayout();
    void setFormFirstRun();
    void setFormPrepare_data();
    void setFormPrepare();
    void radioButtonsSetFinishAction();
    void chooseOutputFolder();
    void chooseOutputFolderCancelled_data();
    void chooseOutputFolderCancelled();
    void chooseOutputFolderUnwritable();
    void openFolder();
    void pathBoxDuringBatch();

private:
    QTemporaryDir m_dir;
};

void TestSettings::init()
{
    QVERIFY(m_dir.isValid());
    setSettingsFile(m_dir.filePath(QStringLiteral("ConverInif.ini")));
    QFile::remove(m_dir.filePath(QStringLiteral("ConverInif.ini")));
}

void TestSettings::storeFileFromEnvironment()
{
    const QString file = m_dir.filePath(QStringLiteral("sub/../other.ini"));
    setSettingsFile(file);
    const SettingsStore store;
    QCOMPARE(store.SettingsFile(), QFileInfo(file).absoluteFilePath());
    QVERIFY(QFileInfo(store.SettingsFile()).isAbsolute());

    // Without the variable: next to the program, whose folder is writable here.
    qunsetenv("WAVETRANSMUTER_SETTINGS_FILE");
    const QString portable =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ConverInif.ini"));
    QCOMPARE(SettingsStore().SettingsFile(), portable);
}

void TestSettings::missingSettingsGiveDefault_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all

    QTest::newRow("no file") << QByteArray();
    QTest::newRow("no section") << QByteArrayLiteral("[other]\nOutpath=/nowhere\n");
    QTest::newRow("no key") << QByteArrayLiteral("[operate]\nOutPathX=/nowhere\n");
    QTest::newRow("empty value") << QByteArrayLiteral("[operate]\nOutpath=\n");
    QTest::newRow("key in another section")
        << QByteArrayLiteral("[operate2]\nOutpath=/nowhere\n[x]\noperate/Outpath=/no\n");
}

void TestSettings::missingSettingsGiveDefault()
{
    QFETCH(QByteArray, content);
    const SettingsStore store;
    if (!content.isEmpty())
        QVERIFY(writeFile(store.SettingsFile(), content));

    const QString music = QDir::home().filePath(QStringLiteral("Music"));
    QDir(music).removeRecursively();
    QCOMPARE(SettingsStore::defaultOutputDir(), music);
    SettingsStore reader;
    QCOMPARE(reader.readOutputDir(), QString());
    QCOMPARE(reader.LoadOutputDir(), music);
    QVERIFY(QFileInfo(music).isDir());
    // Reading never writes.
    QCOMPARE(QFileInfo::exists(store.SettingsFile()), !content.isEmpty());
}

void TestSettings::loadCreatesOneLevel()
{
    SettingsStore store;
    const QString oneLevel = m_dir.filePath(QStringLiteral("out"));
    QString error;
    QVERIFY(store.writeOutputDir(oneLevel, &error));
    QCOMPARE(store.LoadOutputDir(), oneLevel);
    QVERIFY(QFileInfo(oneLevel).isDir());

    const QString twoLevels = m_dir.filePath(QStringLiteral("deep/er"));
    QVERIFY(store.writeOutputDir(twoLevels, &error));
    QCOMPARE(store.LoadOutputDir(), twoLevels);
    QVERIFY(!QFileInfo::exists(twoLevels));
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
    QTest::newRow("at sign") << QStringLiteral("@Variant(x)");
    QTest::newRow("non-ASCII") << QStringLiteral("/music/Caf\u00e9/\u65e5\u672c");
    QTest::newRow("long") << QStringLiteral("/m/") + QString(3000, QLatin1Char('x'));
}

void TestSettings::roundTrip()
{
    QFETCH(QString, folder);
    {
        SettingsStore store;
        QString error;
        QVERIFY(store.writeOutputDir(QStringLiteral("/first"), &error));
        QVERIFY(store.writeOutputDir(folder, &error));
        QVERIFY(error.isEmpty());
    }
    const QByteArray raw = readAll(m_dir.filePath(QStringLiteral("ConverInif.ini")));
    QVERIFY(raw.startsWith("[operate]\n"));
    QVERIFY(raw.contains("\nOutpath="));
    QCOMPARE(raw.count('\n'), 2);

    // The next start.
    SettingsStore next;
    QCOMPARE(next.readOutputDir(), folder);
    QCOMPARE(next.LoadOutputDir(), folder);
}

void TestSettings::handWrittenFile()
{
    const SettingsStore store;
    QVERIFY(writeFile(store.SettingsFile(), "; made by hand\r\n[other]\r\nx=1\r\n[operate]\r\n"
                                            "Outpath=/data/Unquoted, with comma\r\n"));
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/data/Unquoted, with comma"));

    // Writing keeps the other sections.
    QString error;
    QVERIFY(SettingsStore().writeOutputDir(QStringLiteral("/new"), &error));
    const QByteArray raw = readAll(store.SettingsFile());
    QVERIFY(raw.contains("[other]"));
    QVERIFY(raw.contains("x=1"));
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/new"));

    // Names in another letter case are the same key, read and rewritten in place.
    QVERIFY(writeFile(store.SettingsFile(), "[Operate]\nOUTPATH=/upper\n"));
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/upper"));
    QVERIFY(SettingsStore().writeOutputDir(QStringLiteral("/again"), &error));
    QCOMPARE(readAll(store.SettingsFile()), QByteArray("[Operate]\nOUTPATH=/again\n"));
}

void TestSettings::fileChangedBetweenStarts()
{
    QString error;
    QVERIFY(SettingsStore().writeOutputDir(QStringLiteral("/one"), &error));
    const QString file = SettingsStore().SettingsFile();
    QVERIFY(writeFile(file, "[operate]\nOutpath=/changed/by/hand\n"));
    QCOMPARE(SettingsStore().readOutputDir(), QStringLiteral("/changed/by/hand"));
    QVERIFY(QFile::remove(file));
    QCOMPARE(SettingsStore().readOutputDir(), QString());
}

void TestSettings::unwritable_data()
{
    QTest::addColumn<QString>("relative");

    // Root may write anywhere, but not below a regular file or into a folder.
    QTest::newRow("below a regular file") << QStringLiteral("plain.txt/ConverInif.ini");
    QTest::newRow("deeper below a file") << QStringLiteral("plain.txt/a/b/ConverInif.ini");
    QTest::newRow("a folder") << QStringLiteral("folder.ini");
}

void TestSettings::unwritable()
{
    QFETCH(QString, relative);
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("plain.txt")), "not a folder"));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder.ini")));
    const QString file = m_dir.filePath(relative);
    setSettingsFile(file);

    SettingsStore store;
    QString error;
    QVERIFY(!store.writeOutputDir(QStringLiteral("/wanted"), &error));
    QCOMPARE(error, QStringLiteral("Unable to write to ") + file);
    QCOMPARE(readAll(m_dir.filePath(QStringLiteral("plain.txt"))), QByteArray("not a folder"));
    // Nothing lingers that a later read could pick up.
    QCOMPARE(SettingsStore().readOutputDir(), QString());
    QVERIFY(!store.writeOutputDir(QStringLiteral("/wanted"), nullptr));
}

// ---- folder picker ----

static QTreeView *treeOf(TdirForm &form)
{
    return form.findChild<QTreeView *>(QStringLiteral("ShellTreeView1"));
}

static QFileSystemModel *modelOf(TdirForm &form)
{
    return qobject_cast<QFileSystemModel *>(treeOf(form)->model());
}

// Selects `path` in the tree by clicking it, as a user would.
static bool clickFolder(TdirForm &form, const QString &path)
{
    QTreeView *tree = treeOf(form);
    QFileSystemModel *model = modelOf(form);
    const QModelIndex index = model->index(path);
    if (!index.isValid())
        return false;
    for (QModelIndex i = index.parent(); i.isValid(); i = i.parent())
        tree->expand(i);
    tree->scrollTo(index);
    QRect rect = tree->visualRect(index);
    if (!QTest::qWaitFor([&] { return !(rect = tree->visualRect(index)).isEmpty(); }))
        return false;
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    return tree->selectionModel()->isRowSelected(index.row(), index.parent());
}

void TestSettings::dirFormStartsAtHome()
{
    TdirForm form;
    QCOMPARE(form.objectName(), QStringLiteral("dirForm"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Add File Directory"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTreeView *tree = treeOf(form);
    QFileSystemModel *model = modelOf(form);
    const QModelIndex home = model->index(QDir::homePath());
    QCOMPARE(tree->currentIndex(), home);
    QVERIFY(tree->selectionModel()->isRowSelected(home.row(), home.parent()));
    QVERIFY(tree->isExpanded(home));
    QVERIFY(tree->isExpanded(model->index(QDir::rootPath())));
    // The top of the tree is the file system's root, so every folder is reachable.
    QCOMPARE(model->filePath(tree->model()->index(0, 0, tree->rootIndex())), QDir::rootPath());
    // Scrolled into view.
    QTRY_VERIFY(!tree->visualRect(home).isEmpty());
    QVERIFY(tree->viewport()->rect().contains(tree->visualRect(home).center()));
    saveShot(&form, QStringLiteral("dirform.png"));
    checkCaptionsFit(&form);

    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.PickedFolder(), QDir::homePath());
}

void TestSettings::dirFormShowsFoldersOnly()
{
    QDir home = QDir::home();
    QVERIFY(home.mkpath(QStringLiteral("listing/sub one")));
    QVERIFY(home.mkpath(QStringLiteral("listing/sub2")));
    QVERIFY(home.mkpath(QStringLiteral("listing/.hidden")));
    QVERIFY(writeFile(home.filePath(QStringLiteral("listing/song.mp3")), "x"));
    QVERIFY(writeFile(home.filePath(QStringLiteral("listing/zz.wav")), "x"));

    TdirForm form;
    form.show();
    QFileSystemModel *model = modelOf(form);
    const QModelIndex listing = model->index(home.filePath(QStringLiteral("listing")));
    QVERIFY(listing.isValid());
    treeOf(form)->expand(listing);
    QTRY_COMPARE(model->rowCount(listing), 2);
    QStringList names;
    for (int row = 0; row < 2; ++row)
        names << model->index(row, 0, listing).data().toString();
    names.sort();
    QCOMPARE(names, QStringList({QStringLiteral("sub one"), QStringLiteral("sub2")}));
}

void TestSettings::dirFormPicksClickedFolder()
{
    const QString target = m_dir.filePath(QStringLiteral("picked folder"));
    QVERIFY(QDir().mkpath(target));
    TdirForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(clickFolder(form, target));
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(form.PickedFolder(), target);
    QVERIFY(form.isHidden());

    QVERIFY(QDir().mkpath(target));
    form.show();
    QVERIFY(clickFolder(form, QDir::rootPath()));
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(form.PickedFolder(), QDir::rootPath());
}

void TestSettings::dirFormKeepsSelection()
{
    const QString target = m_dir.filePath(QStringLiteral("kept"));
    QVERIFY(QDir().mkpath(target));
    TdirForm form;
    whenModal([&](QWidget *) {
        QVERIFY(clickFolder(form, target));
        form.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QCOMPARE(form.PickedFolder(), target);

    whenModal(
        [&](QWidget *) { form.findChild<QPushButton *>(QStringLiteral("Button2"))->click(); });
    QCOMPARE(form.exec(), int(QDialog::Rejected));
    QCOMPARE(form.PickedFolder(), QString());

    // The third showing still has the folder of the first selected.
    whenModal([&](QWidget *) {
        QCOMPARE(modelOf(form)->filePath(treeOf(form)->currentIndex()), target);
        form.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
    });
    form.exec();
    QCOMPARE(form.PickedFolder(), target);
}

void TestSettings::dirFormLeftWithoutOk_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << QStringLiteral("cancel");
    QTest::newRow("close box") << QStringLiteral("close");
    QTest::newRow("Escape") << QStringLiteral("escape");
}

void TestSettings::dirFormLeftWithoutOk()
{
    QFETCH(QString, how);
    TdirForm form;
    // An earlier "Ok" must not leak into this showing.
    whenModal(
        [&](QWidget *) { form.findChild<QPushButton *>(QStringLiteral("Button1"))->click(); });
    form.exec();
    QCOMPARE(form.PickedFolder(), QDir::homePath());

    whenModal([&](QWidget *modal) {
        if (how == QLatin1String("cancel"))
            QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button2")),
                              Qt::LeftButton);
        else if (how == QLatin1String("close"))
            modal->close();
        else
            QTest::keyClick(treeOf(form), Qt::Key_Escape);
    });
    QCOMPARE(form.exec(), int(QDialog::Rejected));
    QCOMPARE(form.PickedFolder(), QString());
}

void TestSettings::dirFormNothingSelected()
{
    TdirForm form;
    form.show();
    treeOf(form)->clearSelection();
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.PickedFolder(), QString());
}

// ---- settings dialog ----

struct SetFormFixture
{
    SettingsStore store;
    TdirForm dirForm;
    TSetForm form{&store, &dirForm};

    template <typename T> T *child(const char *name)
    {
        return form.findChild<T *>(QLatin1String(name));
    }
    QLineEdit *edit1() { return child<QLineEdit>("Edit1"); }
};

void TestSettings::setFormLayout()
{
    SetFormFixture f;
    QCOMPARE(f.form.objectName(), QStringLiteral("SetForm"));
    QCOMPARE(f.form.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(f.child<QGroupBox>("GroupBox1")->title(), QStringLiteral("OutPath Setting"));
    QCOMPARE(f.child<QGroupBox>("GroupBox2")->title(),
             QStringLiteral("Carry out when the converting finished"));
    QCOMPARE(f.child<QLabel>("Label1")->text(), QStringLiteral("OutPath:"));
    QCOMPARE(f.child<QPushButton>("Button3")->text(), QStringLiteral("...."));
    QCOMPARE(f.child<QPushButton>("Button4")->text(), QStringLiteral("Open"));
    QCOMPARE(f.child<QRadioButton>("RadioButton1")->text(), QStringLiteral("No Operate"));
    QCOMPARE(f.child<QRadioButton>("RadioButton2")->text(), QStringLiteral("Open OutPath"));
    QCOMPARE(f.child<QRadioButton>("RadioButton3")->text(), QStringLiteral("Shutdown"));
    QVERIFY(f.edit1()->isReadOnly());
    QCOMPARE(f.form.minimumSize(), f.form.maximumSize());
    QVERIFY(f.form.findChildren<QPushButton *>().size() == 2); // no OK or Cancel

    f.form.prepare(QStringLiteral("/home/someone/Music/converted"), 0, false);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    checkCaptionsFit(&f.form);
    saveShot(&f.form, QStringLiteral("setform.png"));
}

void TestSettings::setFormFirstRun()
{
    // What the window does at its first show, then at "settings".
    SetFormFixture f;
    const QString outputDir = f.store.LoadOutputDir();
    QCOMPARE(outputDir, QDir::home().filePath(QStringLiteral("Music")));
    f.form.prepare(outputDir, 0, false);
    f.form.show();
    QCOMPARE(f.edit1()->text(), outputDir);
    QVERIFY(f.child<QRadioButton>("RadioButton1")->isChecked());
    QVERIFY(!f.child<QRadioButton>("RadioButton2")->isChecked());
    QVERIFY(!f.child<QRadioButton>("RadioButton3")->isChecked());
}

void TestSettings::setFormPrepare_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("checked");

    QTest::newRow("0") << 0 << QStringLiteral("RadioButton1");
    QTest::newRow("1") << 1 << QStringLiteral("RadioButton2");
    QTest::newRow("2") << 2 << QStringLiteral("RadioButton3");
}

void TestSettings::setFormPrepare()
{
    QFETCH(int, action);
    QFETCH(QString, checked);
    SetFormFixture f;
    QSignalSpy actions(&f.form, &TSetForm::finishActionChanged);
    f.form.prepare(QStringLiteral("/a"), 2, false);
    f.form.prepare(QStringLiteral("/b"), action, false);
    QCOMPARE(f.edit1()->text(), QStringLiteral("/b"));
    for (QRadioButton *radio : f.form.findChildren<QRadioButton *>())
        QCOMPARE(radio->isChecked(), radio->objectName() == checked);
    // Filling the dialog is not a choice.
    QCOMPARE(actions.count(), 0);
}

void TestSettings::radioButtonsSetFinishAction()
{
    SetFormFixture f;
    f.form.prepare(QStringLiteral("/out"), 0, false);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QSignalSpy actions(&f.form, &TSetForm::finishActionChanged);
    QTest::mouseClick(f.child<QRadioButton>("RadioButton3"), Qt::LeftButton);
    QTest::mouseClick(f.child<QRadioButton>("RadioButton2"), Qt::LeftButton);
    QTest::mouseClick(f.child<QRadioButton>("RadioButton1"), Qt::LeftButton);
    QCOMPARE(actions.count(), 3);
    QCOMPARE(actions.at(0).at(0).toInt(), 2);
    QCOMPARE(actions.at(1).at(0).toInt(), 1);
    QCOMPARE(actions.at(2).at(0).toInt(), 0);
    QVERIFY(f.child<QRadioButton>("RadioButton1")->isChecked());
    QVERIFY(!f.child<QRadioButton>("RadioButton3")->isChecked());
    // The end action is never stored.
    QVERIFY(!QFileInfo::exists(f.store.SettingsFile()));
}

void TestSettings::chooseOutputFolder()
{
    const QString target = m_dir.filePath(QStringLiteral("new out"));
    QVERIFY(QDir().mkpath(target));
    SetFormFixture f;
    f.form.prepare(QStringLiteral("/old"), 0, false);
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);

    QString caption;
    whenModal(
        [&](QWidget *modal) {
            caption = modal->windowTitle();
            QVERIFY(clickFolder(f.dirForm, target));
            QTest::mouseClick(f.dirForm.findChild<QPushButton *>(QStringLiteral("Button1")),
                              Qt::LeftButton);
        },
        &f.form);
    QTest::mouseClick(f.child<QPushButton>("Button3"), Qt::LeftButton);

    QCOMPARE(caption, QStringLiteral("Set OutPath"));
    QCOMPARE(f.edit1()->text(), target);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0).at(0).toString(), target);
    QCOMPARE(SettingsStore().readOutputDir(), target);
    QVERIFY(f.form.isVisible());
}

void TestSettings::chooseOutputFolderCancelled_data()
{
    dirFormLeftWithoutOk_data();
}

void TestSettings::chooseOutputFolderCancelled()
{
    QFETCH(QString, how);
    SetFormFixture f;
    f.form.prepare(QStringLiteral("/old"), 0, false);
    f.form.show();
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);
    whenModal(
        [&](QWidget *modal) {
            if (how == QLatin1String("cancel"))
                f.dirForm.findChild<QPushButton *>(QStringLiteral("Button2"))->click();
            else if (how == QLatin1String("close"))
                modal->close();
            else
                QTest::keyClick(treeOf(f.dirForm), Qt::Key_Escape);
        },
        &f.form);
    QTest::mouseClick(f.child<QPushButton>("Button3"), Qt::LeftButton);
    QCOMPARE(f.edit1()->text(), QStringLiteral("/old"));
    QCOMPARE(changes.count(), 0);
    QVERIFY(!QFileInfo::exists(f.store.SettingsFile()));
}

void TestSettings::chooseOutputFolderUnwritable()
{
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("plain.txt")), "x"));
    const QString file = m_dir.filePath(QStringLiteral("plain.txt/ConverInif.ini"));
    setSettingsFile(file);
    const QString target = m_dir.filePath(QStringLiteral("wanted"));
    QVERIFY(QDir().mkpath(target));

    SetFormFixture f;
    f.form.prepare(QStringLiteral("/old"), 0, false);
    f.form.show();
    QSignalSpy changes(&f.form, &TSetForm::outputDirChanged);
    QString message;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString pathBoxDuringMessage;
    whenModal(
        [&](QWidget *) {
            QVERIFY(clickFolder(f.dirForm, target));
            f.dirForm.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
            whenModal(
                [&](QWidget *box) {
                    auto *messageBox = qobject_cast<QMessageBox *>(box);
                    QVERIFY(messageBox);
                    message = messageBox->text();
                    icon = messageBox->icon();
                    pathBoxDuringMessage = f.edit1()->text();
                    saveShot(messageBox, QStringLiteral("setform-error.png"));
                    messageBox->accept();
                },
                &f.dirForm);
        },
        &f.form);
    QTest::mouseClick(f.child<QPushButton>("Button3"), Qt::LeftButton);

    QCOMPARE(message, QStringLiteral("Unable to write to ") + file);
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(pathBoxDuringMessage, target);
    QCOMPARE(f.edit1()->text(), target);
    QCOMPARE(changes.count(), 0);
    QVERIFY(f.form.isVisible());
}

void TestSettings::openFolder()
{
    SetFormFixture f;
    QStringList opened;
    f.form.setOpenFolderHandler([&](const QString &dir) { opened << dir; });
    f.form.prepare(QStringLiteral("/music/out put"), 0, false);
    f.form.show();
    QTest::mouseClick(f.child<QPushButton>("Button4"), Qt::LeftButton);
    QCOMPARE(opened, QStringList(QStringLiteral("/music/out put")));
}

void TestSettings::pathBoxDuringBatch()
{
    SetFormFixture f;
    f.form.prepare(QStringLiteral("/out"), 0, true);
    f.form.show();
    QVERIFY(!f.edit1()->isEnabled());
    QVERIFY(f.child<QPushButton>("Button3")->isEnabled());
    QVERIFY(f.child<QPushButton>("Button4")->isEnabled());
    // The batch ends while the dialog is open.
    f.form.setBatchRunning(false);
    QVERIFY(f.edit1()->isEnabled());
    f.form.hide();
    f.form.prepare(QStringLiteral("/out"), 0, false);
    QVERIFY(f.edit1()->isEnabled());
}

int main(int argc, char *argv[])
{
    // Nothing outside this folder: home, configuration and the settings file.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral(".local/share"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral(".cache"))));
    setSettingsFile(home.filePath(QStringLiteral("ConverInif.ini")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
