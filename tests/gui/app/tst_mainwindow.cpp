#include "common/guitest.h"
#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/joblistmodel.h"
#include "core/session/conversionsession.h"
#include "core/settings/settingsstore.h"
#include "gui/app/tmainform.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"
#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString SkinPath = QStringLiteral(WT_SOURCE_DIR "/skins/mp313.skn");

// A drag that enters the widget and is dropped there, as the pointer would do it; true
// when the widget took it (the pointer shows the copy cursor, not the no-drop one).
bool dropOn(QWidget *target, QMimeData *mime)
{
    const QPoint at(50, 50);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// The program's four windows, made the way the program makes them.
struct Program
{
    std::unique_ptr<TMainForm> main;
    TID3Form *id3 = nullptr;
    TdirForm *dir = nullptr;
    TSetForm *set = nullptr;

    explicit Program(const QString &skin = SkinPath)
    {
        main = std::make_unique<TMainForm>();
        id3 = new TID3Form(main.get());
        dir = new TdirForm(main.get());
        set = new TSetForm(main->settingsStore(), dir, main.get());
        main->setDialogs(id3, dir, set);
        main->setSkinPath(skin);
    }
    void show()
    {
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        QApplication::setActiveWindow(main.get()); // so that the keyboard reaches it
        QVERIFY(QTest::qWaitForWindowActive(main.get()));
    }
    QTableView *list() const { return main->findChild<QTableView *>(QStringLiteral("ListView1")); }
    QComboBox *combo(int n) const
    {
        return main->findChild<QComboBox *>(QStringLiteral("suiComboBox%1").arg(n));
    }
    QStringList titles() const
    {
        QStringList out;
        JobListModel *m = main->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->data(m->index(r, JobListModel::TitleColumn)).toString();
        return out;
    }
    void addFiles(const QStringList &files)
    {
        main->setOpenFilesProvider([files] { return files; });
        main->DispatchCommand(QStringLiteral("addfile"));
        QTRY_COMPARE_WITH_TIMEOUT(int(main->IdleFlag()), 1, 10000);
    }
    SkinElement *element(const QString &name) const
    {
        return main->skin()->GetWindowSkin(main.get())->FindElement(name);
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_media;
    QStringList media(const QStringList &names)
    {
        QStringList out;
        for (const QString &n : names) {
            out << m_media.path() + QLatin1Char('/') + n;
            if (!QFile::exists(out.last()))
                writeFile(out.last(), QByteArray(4096, 'x'));
        }
        return out;
    }

private slots:
    // The probes of added files run the fake encoder, never a real one.
    void initTestCase() { qputenv("WAVETRANSMUTER_FFMPEG", WT_FAKE_ENCODER); }
    void init()
    {
        qunsetenv("FAKE_MODE");
        qunsetenv("FAKE_HANG_ON");
        qunsetenv("WT_SHUTDOWN_RECORD");
    }

    void firstShowSetsTheProgramUp()
    {
        Program p;
        QCOMPARE(int(p.main->IdleFlag()), 0); // nothing is accepted before the first show
        p.show();
        QCOMPARE(p.main->startupError(), QString());
        QCOMPARE(int(p.main->IdleFlag()), 1);
        QCOMPARE(p.main->session()->options().finishAction, EndAction::Nothing);
        QCOMPARE(p.main->session()->options().profile.SampleRate, QStringLiteral("44100"));
        QCOMPARE(p.main->session()->options().profile.Bitrate, QStringLiteral("128000"));
        QCOMPARE(p.main->session()->options().profile.Channels, QStringLiteral("2"));
        QCOMPARE(p.combo(1)->currentText(), QStringLiteral("44100 Hz"));
        QCOMPARE(p.combo(2)->currentText(), QStringLiteral("128 Kbps"));
        QCOMPARE(p.combo(3)->currentText(), QStringLiteral("Stereo"));
        QCOMPARE(p.main->size(), QSize(525, 343));
        QCOMPARE(p.list()->geometry(), QRect(12, 103, 332, 182));
        // Without a settings file the output folder is the music folder, created, and shown
        // under the list with a button that opens it.
        QCOMPARE(p.main->session()->options().outputDir,
                 QDir::homePath() + QStringLiteral("/Music"));
        QVERIFY(QFileInfo(p.main->session()->options().outputDir).isDir());
        QCOMPARE(p.main->findChild<QLabel *>(QStringLiteral("OutputLabel"))->toolTip(),
                 p.main->session()->options().outputDir);
        QStringList opened;
        p.main->setOpenFolderHandler([&opened](const QString &d) { opened << d; });
        QTest::mouseClick(p.main->findChild<QPushButton *>(QStringLiteral("OpenOutputButton")),
                          Qt::LeftButton);
        QCOMPARE(opened, QStringList(p.main->session()->options().outputDir));
        QCOMPARE(p.id3->ComboBox1->count(), 148);
        QCOMPARE(p.id3->ComboBox1->itemText(0), QStringLiteral("Blues"));
        QCOMPARE(p.main->progressText(), QStringLiteral("0%"));
        QCOMPARE(p.main->progressRight(), 12);
        // A second show does not run the set-up again.
        p.main->hide();
        p.main->show();
        QCOMPARE(p.id3->ComboBox1->count(), 148);
    }

    void windowOpensWhereItWas_data()
    {
        // Saved places near the edges of the first screen, whatever its size (the test also
        // runs on two screens at a scale factor of 2).
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QRect>("expected");
        const QList<QScreen *> screens = QGuiApplication::screens();
        const QRect a = screens.first()->availableGeometry();
        const QSize s(525, 343); // the skin's size, the smallest
        const QPoint bottomRight = a.bottomRight() + QPoint(1, 1) - QPoint(s.width(), s.height());
        QTest::newRow("wholly on the screen")
            << QRect(a.topLeft() + QPoint(40, 30), s) << QRect(a.topLeft() + QPoint(40, 30), s);
        QTest::newRow("larger than the skin")
            << QRect(a.topLeft() + QPoint(5, 6), s + QSize(60, 40))
            << QRect(a.topLeft() + QPoint(5, 6), s + QSize(60, 40));
        QTest::newRow("the bottom off the screen")
            << QRect(QPoint(a.left() + 40, bottomRight.y() + 120), s)
            << QRect(QPoint(a.left() + 40, bottomRight.y()), s);
        QTest::newRow("right and bottom off")
            << QRect(bottomRight + QPoint(30, 30), s) << QRect(bottomRight, s);
        QTest::newRow("off every screen, to the left")
            << QRect(QPoint(a.left() - 5000, a.top() + 40), s)
            << QRect(QPoint(a.left(), a.top() + 40), s);
        QTest::newRow("taller than the screen")
            << QRect(a.topLeft(), QSize(s.width(), a.height() + 200))
            << QRect(a.topLeft(), QSize(s.width(), a.height()));
        if (screens.size() > 1) {
            const QRect b = screens.at(1)->availableGeometry();
            QTest::newRow("mostly on the second screen") << QRect(b.topLeft() + QPoint(-100, 20), s)
                                                         << QRect(b.topLeft() + QPoint(0, 20), s);
        }
    }

    // The window opens where it was, moved wholly onto the nearest screen when it no longer
    // fits there (another screen, another scale).
    void windowOpensWhereItWas()
    {
        QFETCH(QRect, saved);
        QFETCH(QRect, expected);
        const QString ini = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
        const auto removeIni = qScopeGuard([&ini] { QFile::remove(ini); });
        writeFile(ini, QStringLiteral("[operate]\nWindowPos=%1, %2\nWindowSize=%3, %4\n")
                           .arg(saved.x())
                           .arg(saved.y())
                           .arg(saved.width())
                           .arg(saved.height())
                           .toUtf8());
        Program p;
        p.show();
        QCOMPARE(p.main->geometry(), expected);
    }

    // Its size, its columns and whether it was maximised are kept with its place; the list
    // and the lists at the right follow the edges it grows at.
    void windowKeepsItsSizeAndColumns()
    {
        const QString ini = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
        const auto removeIni = qScopeGuard([&ini] { QFile::remove(ini); });
        QFile::remove(ini);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize grown(525 + 75, 343 + 50);
        int statusWidth = 0;
        {
            Program p;
            p.show();
            QVERIFY(p.main->minimumSize() == QSize(525, 343));
            p.main->ShowProgress(1, 2);
            p.main->setGeometry(QRect(screen.topLeft() + QPoint(7, 3), grown));
            QTRY_COMPARE(p.list()->geometry(), QRect(12, 103, 332 + 75, 182 + 50));
            QCOMPARE(p.combo(1)->geometry(), QRect(354 + 75, 156, 121, 21));
            // The band's fill is half of the longer band, drawn anew at the new size.
            QCOMPARE(p.element(QStringLiteral("pb"))->rect(),
                     QRect(12, 310 + 50, (469 + 75) / 2, 12));
            QHeaderView *header = p.list()->horizontalHeader();
            statusWidth = header->sectionSize(JobListModel::StatusColumn) + 23;
            header->resizeSection(JobListModel::StatusColumn, statusWidth); // as a drag does
            int total = 0;
            for (int c = 0; c < JobListModel::ColumnCount; ++c)
                total += p.list()->columnWidth(c);
            QCOMPARE(total, p.list()->viewport()->width()); // the title took the rest
            p.main->close();
        }
        const SettingsStore store;
        QCOMPARE(store.readWindowPos(), std::optional<QPoint>(screen.topLeft() + QPoint(7, 3)));
        QCOMPARE(store.readWindowSize(), std::optional<QSize>(grown));
        {
            Program p;
            p.show();
            QCOMPARE(p.main->geometry(), QRect(screen.topLeft() + QPoint(7, 3), grown));
            QCOMPARE(p.list()->columnWidth(JobListModel::StatusColumn), statusWidth);
            p.main->showMaximized();
            QTRY_VERIFY(p.main->isMaximized());
            p.main->close();
        }
        QVERIFY(SettingsStore().readWindowMaximized());
        QCOMPARE(SettingsStore().readWindowSize(), std::optional<QSize>(grown));
        Program p;
        p.show();
        QTRY_VERIFY(p.main->isMaximized());
    }

    void dispatchComparesNamesExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("runs");
        QTest::newRow("addfile") << QStringLiteral("addfile") << true;
        QTest::newRow("capital F") << QStringLiteral("addFile") << false;
        QTest::newRow("capital A") << QStringLiteral("Addfile") << false;
        QTest::newRow("trailing blank") << QStringLiteral("addfile ") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void dispatchComparesNamesExactly()
    {
        QFETCH(QString, name);
        QFETCH(bool, runs);
        Program p;
        p.show();
        int asked = 0;
        p.main->setOpenFilesProvider([&asked] {
            ++asked;
            return QStringList();
        });
        p.main->DispatchCommand(name);
        QCOMPARE(asked, runs ? 1 : 0);
        QCOMPARE(int(p.main->IdleFlag()), 1);
    }

    void gatedCommandsAreDroppedWhileBusy()
    {
        Program p;
        p.show();
        p.addFiles(media({QStringLiteral("a.mp3")}));
        p.list()->selectRow(0);
        int asked = 0;
        p.main->setOpenFilesProvider([&asked] {
            ++asked;
            return QStringList();
        });
        // Busy: a file whose probe hangs is being added.
        qputenv("FAKE_HANG_ON", "hang");
        p.main->addPathsFromOutside(media({QStringLiteral("hang.mp3")}));
        QTRY_COMPARE(int(p.main->IdleFlag()), 0);
        for (const char *c : {"addfile", "addfolder", "remove", "clear", "id3", "tomp3", "towav"})
            p.main->DispatchCommand(QString::fromLatin1(c));
        QCOMPARE(asked, 0);
        QCOMPARE(p.main->model()->rowCount(), 1);
        QVERIFY(!p.main->session()->sequencer()->isRunning());
        // "settings" is never gated, and only a batch greys its path box ...
        bool settingsShown = false;
        whenModal([&settingsShown](QWidget *w) {
            settingsShown = w->objectName() == QLatin1String("SetForm") &&
                            w->findChild<QLineEdit *>(QStringLiteral("Edit1"))->isEnabled();
            w->close();
        });
        p.main->DispatchCommand(QStringLiteral("settings"));
        QVERIFY(settingsShown);
        // ... and neither is "stop", which opens the gate again.
        p.main->DispatchCommand(QStringLiteral("stop"));
        QCOMPARE(int(p.main->IdleFlag()), 1);
    }

    // However the dialog returns them, the chosen files come in the order a person reads
    // their names.
    void addedFilesComeInNaturalOrder()
    {
        Program p;
        p.show();
        p.addFiles(
            media({QStringLiteral("10 x.mp3"), QStringLiteral("2 x.mp3"), QStringLiteral("b.wav"),
                   QStringLiteral("A.mp3"), QStringLiteral("1 x.mp3")}));
        QCOMPARE(p.titles(), (QStringList{u"1 x.mp3"_qs, u"2 x.mp3"_qs, u"10 x.mp3"_qs, u"A.mp3"_qs,
                                          u"b.wav"_qs}));
        JobListModel *m = p.main->model();
        QCOMPARE(timeShown(*m, 0), QStringLiteral("00:03:45"));
        QCOMPARE(sizeShown(*m, 0), QStringLiteral("3.43MB"));
        QCOMPARE(m->data(m->index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Unconvert"));
        // No duplicate check: the same file again gives another row.
        p.addFiles(media({QStringLiteral("A.mp3")}));
        QCOMPARE(m->rowCount(), 6);
    }

    void removeTakesTheSelectedRow()
    {
        Program p;
        p.show();
        p.main->DispatchCommand(QStringLiteral("remove")); // empty list: nothing
        QCOMPARE(int(p.main->IdleFlag()), 1);
        p.addFiles(media({QStringLiteral("4.mp3"), QStringLiteral("1.mp3"), QStringLiteral("2.mp3"),
                          QStringLiteral("3.mp3")}));
        QCOMPARE(p.titles().size(), 4);
        p.list()->clearSelection();
        p.main->DispatchCommand(QStringLiteral("remove")); // no selection: nothing
        QCOMPARE(p.titles().size(), 4);
        p.list()->selectRow(1);
        p.main->DispatchCommand(QStringLiteral("remove"));
        QCOMPARE(p.titles(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("3.mp3"),
                                          QStringLiteral("4.mp3")}));
        QCOMPARE(p.main->model()->entry(1).SourcePath, media({QStringLiteral("3.mp3")}).first());
        QCOMPARE(p.list()->selectionModel()->selectedRows().value(0).row(), 0);
        // The Delete key is "remove" too.
        p.list()->setFocus();
        p.list()->selectRow(2);
        QTest::keyClick(p.list(), Qt::Key_Delete);
        QCOMPARE(p.titles(), (QStringList{QStringLiteral("1.mp3"), QStringLiteral("3.mp3")}));
        p.list()->selectRow(0);
        p.main->DispatchCommand(QStringLiteral("remove"));
        p.list()->selectRow(0);
        p.main->DispatchCommand(QStringLiteral("remove"));
        QCOMPARE(p.main->model()->rowCount(), 0);
        QVERIFY(p.list()->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(int(p.main->IdleFlag()), 1);
    }

    void clearAsksFirst()
    {
        Program p;
        p.show();
        p.addFiles(media({QStringLiteral("a.mp3"), QStringLiteral("b.mp3")}));
        QString text, caption;
        whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            text = box->text();
            caption = box->windowTitle();
            QCOMPARE(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
            box->button(QMessageBox::Cancel)->click();
        });
        p.main->DispatchCommand(QStringLiteral("clear"));
        QCOMPARE(caption, QStringLiteral("Information"));
        QCOMPARE(text, QStringLiteral("Are you sure to remove all the files from filelist?\r"
                                      "Not delete from your computer."));
        QCOMPARE(p.main->model()->rowCount(), 2);
        QCOMPARE(int(p.main->IdleFlag()), 1);
        whenModal(
            [](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(QMessageBox::Ok)->click(); });
        p.main->DispatchCommand(QStringLiteral("clear"));
        QCOMPARE(p.main->model()->rowCount(), 0);
        QVERIFY(QFile::exists(media({QStringLiteral("a.mp3")}).first())); // files stay on disk
    }

    void profileListsSetTheProfile()
    {
        Program p;
        p.show();
        p.combo(2)->setCurrentIndex(0); // empty list: only the profile changes
        QCOMPARE(p.main->session()->options().profile.Bitrate, QStringLiteral("8000"));
        p.addFiles(media({QStringLiteral("a.mp3")}));
        QCOMPARE(sizeShown(*p.main->model(), 0), QStringLiteral("0.21MB"));
        p.combo(2)->setCurrentIndex(14);
        QCOMPARE(sizeShown(*p.main->model(), 0), QStringLiteral("8.58MB"));
        p.combo(1)->setCurrentIndex(0);
        p.combo(3)->setCurrentIndex(0);
        QCOMPARE(p.main->session()->options().profile.SampleRate, QStringLiteral("8000"));
        QCOMPARE(p.main->session()->options().profile.Channels, QStringLiteral("1"));
        p.combo(1)->setCurrentIndex(-1);
        QCOMPARE(p.main->session()->options().profile.SampleRate, QStringLiteral("22050"));
    }

    void skinProblemsStopTheFirstShow_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("nothere.skn");
        QTest::newRow("garbage") << QByteArray("\x01\x02 not a skin") << QStringLiteral("skin");
        QTest::newRow("no form")
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"525\" height=\"343\">"
                          "<rect id=\"other\" width=\"10\" height=\"10\"/></svg>")
            << QStringLiteral("wavtransform");
    }
    void skinProblemsStopTheFirstShow()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, mentions);
        QTemporaryDir dir;
        QString path = dir.path() + QStringLiteral("/nothere.skn");
        if (!content.isEmpty()) {
            path = dir.path() + QStringLiteral("/bad.skn");
            writeFile(path, content);
        }
        Program p(path);
        QString shown;
        whenModal([&shown](QWidget *w) {
            shown = qobject_cast<QMessageBox *>(w)->text();
            w->close();
        });
        p.main->show();
        QTRY_VERIFY(!shown.isEmpty());
        QVERIFY2(shown.contains(mentions), qPrintable(shown));
        QCOMPARE(p.main->startupError(), shown);
        QCOMPARE(int(p.main->IdleFlag()), 0);            // the later steps did not run
        p.main->DispatchCommand(QStringLiteral("stop")); // and nothing breaks
    }

    void skinWithoutProgressElementsStillWorks()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/plain.skn");
        writeFile(path, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"525\" height=\"343\">"
                        "<g id=\"wavtransform\"><rect width=\"525\" height=\"343\" fill=\"#222\"/>"
                        "</g></svg>");
        Program p(path);
        p.show();
        QCOMPARE(p.main->startupError(), QString());
        QCOMPARE(int(p.main->IdleFlag()), 1);
        p.main->ShowProgress(1, 3);
        QCOMPARE(p.main->progressText(), QStringLiteral("33%"));
    }

    void progressReachesTheSkin()
    {
        Program p;
        p.show();
        SkinElement *pb = p.element(QStringLiteral("pb"));
        SkinElement *pbpos = p.element(QStringLiteral("pbpos"));
        QVERIFY(pb && pbpos);
        QCOMPARE(pbpos->text(), QStringLiteral("0%"));
        QCOMPARE(pb->rect().width(), 0);
        p.main->ShowProgress(1, 3);
        QCOMPARE(pbpos->text(), QStringLiteral("33%"));
        QCOMPARE(pb->rect(), QRect(12, 310, 156, 12));
        p.main->ShowProgress(2, 3);
        QCOMPARE(pbpos->text(), QStringLiteral("66%"));
        QCOMPARE(pb->rect().width(), 313);
        p.main->ShowProgress(4, 3); // past the total: nothing changes
        QCOMPARE(pbpos->text(), QStringLiteral("66%"));
        p.main->ShowProgress(100, 100);
        QCOMPARE(pb->rect().right() + 1, 481);
        p.main->ShowProgress(0, 0); // no duration known: empty, no division
        QCOMPARE(pbpos->text(), QStringLiteral("0%"));
    }

    void severalAtOnceShowTheWholeBatch()
    {
        Program p;
        p.show();
        SkinElement *pbpos = p.element(QStringLiteral("pbpos"));
        SkinElement *pbleft = p.element(QStringLiteral("pbleft"));
        QVERIFY(pbpos && pbleft);
        p.main->ShowBatchProgress(4200, 10000, 70);
        QCOMPARE(p.main->progressText(), u"42% \u00b7 1:10 left"_qs);
        QCOMPARE(pbpos->text(), QStringLiteral("42%"));
        QCOMPARE(pbleft->text(), QStringLiteral("1:10 left"));
        QCOMPARE(p.main->progressRight(), 12 + 197);
        p.main->ShowBatchProgress(4300, 10000, -1); // not known (any more): no time
        QCOMPARE(pbleft->text(), QString());

        // The number from the settings reaches the batch: two encoders at once, both stopped.
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.main->session()->setJobsAtOnce(2);
        p.addFiles(media(
            {QStringLiteral("one.mp3"), QStringLiteral("two.mp3"), QStringLiteral("three.mp3")}));
        qputenv("FAKE_MODE", "hang");
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->session()->sequencer()->runningJobs(), 2);
        QCOMPARE(p.main->model()->status(1), JobStatus::Converting);
        p.main->DispatchCommand(QStringLiteral("stop"));
        qunsetenv("FAKE_MODE");
        QCOMPARE(p.main->model()->status(0), JobStatus::Stopped);
        QCOMPARE(p.main->model()->status(1), JobStatus::Stopped);
        QCOMPARE(p.main->model()->status(2), JobStatus::Unconvert);
        QTRY_COMPARE(p.main->progressText(), QStringLiteral("0%"));
        QTRY_VERIFY(!p.main->session()->sequencer()->isStopping());
        QCOMPARE(workFilesIn(out.path()), QStringList());
    }

    void aClickOnTheSkinReachesTheDispatch()
    {
        Program p;
        p.show();
        SkinElement *settings = p.element(QStringLiteral("settings"));
        QVERIFY(settings);
        QWidget *surface = p.main->skin()->GetWindowSkin(p.main.get())->surface();
        QString opened;
        whenModal([&opened](QWidget *w) {
            opened = w->objectName();
            w->close();
        });
        QTest::mouseClick(surface, Qt::LeftButton, {}, settings->rect().center());
        QTRY_COMPARE(opened, QStringLiteral("SetForm"));
    }

    void dropsAddFilesAndFolders()
    {
        Program p;
        p.show();
        QTemporaryDir folder;
        for (const char *n : {"in1.mp3", "in2.WAV", "skip.txt"})
            writeFile(folder.path() + QLatin1Char('/') + QString::fromLatin1(n), "data");
        const QStringList files =
            media({QStringLiteral("dropped.mp3"), QStringLiteral("notes.txt")});
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1]),
                      QUrl::fromLocalFile(folder.path())});
        QVERIFY(dropOn(p.list()->viewport(), &mime));
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        QStringList t = p.titles();
        QCOMPARE(t.takeFirst(), QStringLiteral("dropped.mp3"));
        t.sort();
        QCOMPARE(t, (QStringList{QStringLiteral("in1.mp3"), QStringLiteral("in2.WAV")}));
        // A drop while busy (a file whose probe hangs is being added) is refused like any
        // gated command, and the drag is told so.
        qputenv("FAKE_HANG_ON", "hang");
        p.main->addPathsFromOutside(media({QStringLiteral("hang.mp3")}));
        QTRY_COMPARE(int(p.main->IdleFlag()), 0);
        QVERIFY(!dropOn(p.list()->viewport(), &mime));
        QVERIFY(!dropOn(p.main.get(), &mime));
        QTest::qWait(100);
        QCOMPARE(p.main->model()->rowCount(), 3);
        // Paths from a later start wait until the window is idle again.
        p.main->addPathsFromOutside({files[0], files[1]});
        QTest::qWait(400);
        QCOMPARE(p.main->model()->rowCount(), 3);
        p.main->DispatchCommand(QStringLiteral("stop")); // the hanging add ends
        QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->rowCount(), 4, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
    }

    void missingEncoderIsToldOnceAtStart()
    {
        qputenv("WAVETRANSMUTER_FFMPEG", "/nonexistent/ffmpeg");
        QStringList notices;
        Program p;
        p.main->setNoticeHandler([&notices](const QString &text) { notices << text; });
        p.show();
        qputenv("WAVETRANSMUTER_FFMPEG", WT_FAKE_ENCODER);
        QTRY_COMPARE(notices.size(), 1);
        for (const char *part :
             {"/nonexistent/ffmpeg", "sudo apt install ffmpeg", "WAVETRANSMUTER_FFMPEG"})
            QVERIFY2(notices.first().contains(QLatin1String(part)), qPrintable(notices.first()));
        QTest::qWait(50);
        QCOMPARE(notices.size(), 1);
    }

    void droppedFolderWithANameThatIsNotUtf8()
    {
        Program p;
        p.show();
        QTemporaryDir folder;
        const QByteArray raw = QFile::encodeName(folder.path()) + "/caf\xe9.mp3";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "data", 4) == 4);
        ::close(fd);
        // QTemporaryDir cannot remove it by name.
        const auto removeRaw = qScopeGuard([&raw] { ::unlink(raw.constData()); });
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(folder.path())});
        dropOn(p.list()->viewport(), &mime);
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        // Reached, shown with its name read as ISO-8859-1, and the file itself untouched.
        QCOMPARE(p.titles(), QStringList{u"caf\u00e9.mp3"_qs});
        QCOMPARE(readFile(p.main->model()->entry(0).SourcePath), QByteArray("data"));
    }

    void tagEditorOpensOnTheClickedRow()
    {
        Program p;
        p.show();
        p.addFiles(
            media({QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("c.mp3")}));
        p.list()->selectRow(2);
        QString opened;
        whenModal([&opened](QWidget *w) {
            opened = w->objectName() + QLatin1Char(' ') +
                     w->findChild<QLineEdit *>(QStringLiteral("Edit1"))->text();
            w->close();
        });
        const QRect cell = p.list()->visualRect(p.main->model()->index(1, 0));
        QTest::mousePress(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseRelease(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_COMPARE(opened, QStringLiteral("ID3Form ") + p.titles().at(1));
        QCOMPARE(p.list()->selectionModel()->selectedRows().value(0).row(), 0);
    }

    void batchRunsToTheEndAction()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(media({QStringLiteral("one.mp3"), QStringLiteral("two.mp3")}));
        QStringList opened;
        p.main->setOpenFolderHandler([&opened](const QString &d) { opened << d; });
        p.main->session()->setFinishAction(EndAction::OpenFolder);
        auto enabled = [&p] {
            QStringList names;
            for (const char *n : {"addfile", "remove", "id3", "tomp3", "torm", "settings", "stop"})
                if (p.element(QString::fromLatin1(n))->isElementEnabled())
                    names << QString::fromLatin1(n);
            return names.join(QLatin1Char(' '));
        };
        QCOMPARE(enabled(), QStringLiteral("addfile remove id3 tomp3 torm settings stop"));
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QCOMPARE(int(p.main->IdleFlag()), 0);
        QCOMPARE(enabled(), QStringLiteral("settings stop")); // the gated ones look disabled
        p.main->DispatchCommand(QStringLiteral("towav"));     // gated while converting
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        QCOMPARE(enabled(), QStringLiteral("addfile remove id3 tomp3 torm settings stop"));
        QCOMPARE(p.main->model()->status(0), JobStatus::Finish);
        QCOMPARE(p.main->model()->status(1), JobStatus::Finish);
        QVERIFY(QFile::exists(out.path() + QStringLiteral("/one.mp3.mp3")));
        QCOMPARE(opened, QStringList{out.path()});
        // The band stays full, with what the batch did, until the next command.
        QCOMPARE(p.main->progressText(), QStringLiteral("100%"));
        QCOMPARE(p.main->progressInfo(), QStringLiteral("2 converted"));

        // A row that fails is counted apart; the summary lasts until the next command.
        QVERIFY(QFile::remove(media({QStringLiteral("two.mp3")}).first()));
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QCOMPARE(p.main->progressInfo(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        QCOMPARE(p.main->progressInfo(), QStringLiteral("1 converted, 1 failed"));
        QCOMPARE(p.element(QStringLiteral("pbinfo"))->text(), p.main->progressInfo());
        QCOMPARE(p.main->progressText(), QStringLiteral("100%"));
        p.main->DispatchCommand(QStringLiteral("remove"));
        QCOMPARE(p.element(QStringLiteral("pbinfo"))->text(), QString());
        QCOMPARE(p.main->progressText(), QStringLiteral("0%"));
    }

    void shutdownCountsDownFirst_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("shutsDown");
        QTest::newRow("the countdown runs out") << QString() << true;
        QTest::newRow("Shut down now") << QStringLiteral("Button1") << true;
        QTest::newRow("Cancel") << QStringLiteral("Button2") << false;
        QTest::newRow("Escape") << QStringLiteral("Escape") << false;
        QTest::newRow("close box") << QStringLiteral("close box") << false;
    }
    void shutdownCountsDownFirst()
    {
        QFETCH(QString, how);
        QFETCH(bool, shutsDown);
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(media({QStringLiteral("last.mp3")}));
        const QString record = out.path() + QStringLiteral("/shutdown.log");
        qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
        p.main->session()->setFinishAction(EndAction::Shutdown);
        p.main->setShutdownCountdown(how.isEmpty() ? 1 : 30);
        QString shown;
        whenModal([&](QWidget *w) {
            shown = w->windowTitle() + QLatin1Char(':') +
                    w->findChild<QLabel *>(QStringLiteral("Label1"))->text();
            if (how == QLatin1String("Escape"))
                QTest::keyClick(w, Qt::Key_Escape);
            else if (how == QLatin1String("close box"))
                w->close();
            else if (!how.isEmpty())
                QTest::mouseClick(w->findChild<QPushButton *>(how), Qt::LeftButton);
        });
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY2(shown.startsWith(QStringLiteral("Shutdown:")) &&
                     shown.endsWith(how.isEmpty() ? QStringLiteral(" 1 second.")
                                                  : QStringLiteral(" 30 seconds.")),
                 qPrintable(shown));
        if (shutsDown) {
            // The recorder may have made the file without its line yet.
            QTRY_COMPARE(readFile(record).count('\n'), 1);
        } else {
            QTRY_VERIFY(!QApplication::activeModalWidget());
            QTest::qWait(200);
            QVERIFY(!QFile::exists(record));
        }
    }

    void sameOutputsAskFirst_data()
    {
        QTest::addColumn<int>("existing");
        QTest::addColumn<QString>("answer"); // empty: no question comes
        // Below each output, its rows and what becomes of each.
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QStringList>("written"); // the outputs, after the answer
        const QStringList replace{u"Same.mp3"_qs,
                                  u"Row 1: s1.mp3 | replaced by row 3"_qs,
                                  u"Row 3: s3.mp3 | replaced by row 5"_qs,
                                  u"Row 5: s5.mp3 | remains"_qs,
                                  u"Other.mp3"_qs,
                                  u"Row 2: s2.mp3 | replaced by row 4"_qs,
                                  u"Row 4: s4.mp3 | remains"_qs};
        const QStringList skip{u"Same.mp3"_qs,
                               u"Row 1: s1.mp3 | written"_qs,
                               u"Row 3: s3.mp3 | skipped"_qs,
                               u"Row 5: s5.mp3 | skipped"_qs,
                               u"Other.mp3"_qs,
                               u"Row 2: s2.mp3 | written"_qs,
                               u"Row 4: s4.mp3 | skipped"_qs};
        const QStringList both{u"Other.mp3"_qs, u"Same.mp3"_qs};
        QTest::newRow("replace, Cancel") << int(ExistingOutput::Replace) << u"Cancel"_qs << replace
                                         << u"only the last"_qs << QStringList();
        QTest::newRow("replace, convert anyway")
            << int(ExistingOutput::Replace) << u"Convert anyway"_qs << replace
            << u"only the last"_qs << both;
        QTest::newRow("skip, convert anyway")
            << int(ExistingOutput::Skip) << u"Convert anyway"_qs << skip
            << u"the first row of each is written and the others are skipped"_qs << both;
        QTest::newRow("number: nothing to ask")
            << int(ExistingOutput::Number) << QString() << QStringList() << QString()
            << QStringList{u"Other (2).mp3"_qs, u"Other.mp3"_qs, u"Same (2).mp3"_qs,
                           u"Same (3).mp3"_qs, u"Same.mp3"_qs};
    }
    // Rows that would write the same output file are all listed before the batch starts,
    // with what the existing-file rule makes of each.
    void sameOutputsAskFirst()
    {
        QFETCH(int, existing);
        QFETCH(QString, answer);
        QFETCH(QStringList, listed);
        QFETCH(QString, says);
        QFETCH(QStringList, written);
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        NamingOptions naming;
        naming.existing = ExistingOutput(existing);
        p.main->session()->setNaming(naming);
        p.addFiles(media({u"s1.mp3"_qs, u"s2.mp3"_qs, u"s3.mp3"_qs, u"s4.mp3"_qs, u"s5.mp3"_qs}));
        JobListModel *m = p.main->model();
        for (int row = 0; row < m->rowCount(); ++row) {
            ID3info e = m->entry(row);
            e.Title = row % 2 == 0 ? "Same" : "Other";
            m->setEntry(row, e);
        }
        QStringList shown;
        QString text;
        bool cancelIsDefault = false;
        if (!answer.isEmpty())
            whenModal([&](QWidget *w) {
                QCOMPARE(w->objectName(), u"SameOutputBox"_qs);
                text = w->findChild<QLabel *>(u"SameOutputText"_qs)->text();
                auto *list = w->findChild<QTreeWidget *>(u"SameOutputList"_qs);
                for (int i = 0; i < list->topLevelItemCount(); ++i) {
                    QTreeWidgetItem *file = list->topLevelItem(i);
                    shown << QFileInfo(file->text(0)).fileName();
                    for (int c = 0; c < file->childCount(); ++c)
                        shown << file->child(c)->text(0) + u" | "_qs + file->child(c)->text(1);
                }
                saveShot(w, u"same-output.png"_qs);
                for (auto *b : w->findChildren<QPushButton *>()) {
                    if (b->text().remove(u'&') == u"Cancel"_qs)
                        cancelIsDefault = b->isDefault();
                }
                for (auto *b : w->findChildren<QPushButton *>()) {
                    if (b->text().remove(u'&') == answer)
                        b->click();
                }
            });
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        if (!answer.isEmpty()) {
            QCOMPARE(shown, listed);
            QVERIFY2(text.contains(says), qPrintable(text));
            QVERIFY(cancelIsDefault);
        }
        QCOMPARE(QDir(out.path()).entryList(QDir::Files, QDir::Name), written);
    }

    // The skin's "more" opens a menu of exactly the formats without an element of their own;
    // one chosen there converts as a skin button does, and is gated as one.
    void moreMenuOffersTheOtherFormats()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(media({QStringLiteral("one.mp3")}));
        auto *menu = p.main->findChild<QMenu *>(QStringLiteral("MoreMenu"));
        QVERIFY(menu);
        QStringList offered, expected;
        for (QAction *a : menu->actions())
            offered << a->objectName();
        for (const TargetFormat &f : TargetFormats()) {
            if (!p.element(f.command))
                expected << f.command;
        }
        QCOMPARE(offered, expected);
        QCOMPARE(offered, QStringLiteral("toflac toogg toopus tom4a").split(u' '));
        QCOMPARE(menu->actions().first()->toolTip(),
                 QStringLiteral("Convert to FLAC (lossless: the bitrate is not used)"));
        QVERIFY2(p.combo(2)->toolTip().contains(QStringLiteral("FLAC (lossless)")),
                 qPrintable(p.combo(2)->toolTip()));

        p.main->DispatchCommand(QStringLiteral("more"));
        QTRY_VERIFY(menu->isVisible());
        const QRect more = p.element(QStringLiteral("more"))->rect();
        QCOMPARE(menu->pos().x(), p.main->mapToGlobal(more.bottomLeft()).x());
        menu->hide();
        menu->actions().first()->trigger();
        QCOMPARE(int(p.main->IdleFlag()), 0);
        p.main->DispatchCommand(QStringLiteral("more")); // gated while converting
        QVERIFY(!menu->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        QCOMPARE(p.main->model()->status(0), JobStatus::Finish);
        QVERIFY(QFile::exists(out.path() + QStringLiteral("/one.mp3.flac")));
    }

    // The list's context menu acts on the row under the pointer; "Show in folder" goes
    // through the replaceable open-folder handler, "Save report..." writes the last batch.
    void listMenuActsOnTheClickedRow()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(media({QStringLiteral("one.mp3"), QStringLiteral("two.mp3")}));
        QStringList opened;
        p.main->setOpenFolderHandler([&opened](const QString &d) { opened << d; });
        const QString report = out.path() + QStringLiteral("/r.jsonl");
        p.main->setReportFileProvider([&report] { return report; });
        auto menuAt = [&p](int row) {
            const QRect r = p.list()->visualRect(p.main->model()->index(row, 0));
            emit p.list()->customContextMenuRequested(r.center());
            return p.main->findChild<QMenu *>(QStringLiteral("ListMenu"));
        };
        auto run = [](QMenu *menu, const char *name) {
            menu->hide();
            menu->findChild<QAction *>(QLatin1String(name))->trigger();
        };
        auto enabled = [](QMenu *menu) {
            QStringList names;
            for (QAction *a : menu->actions()) {
                if (a->isEnabled() && !a->isSeparator())
                    names << a->objectName();
            }
            return names.join(u' ');
        };
        QMenu *menu = menuAt(1);
        QVERIFY(menu && menu->isVisible());
        QCOMPARE(enabled(menu), QStringLiteral("RemoveAction TagsAction ShowInFolderAction"));
        run(menu, "ShowInFolderAction");
        QCOMPARE(opened, QStringList{m_media.path()}); // no output yet: where the source is

        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        menu = menuAt(1);
        QCOMPARE(enabled(menu),
                 QStringLiteral("RemoveAction TagsAction ShowInFolderAction SaveReportAction"));
        run(menu, "ShowInFolderAction");
        QCOMPARE(opened.last(), out.path());
        run(menuAt(1), "SaveReportAction");
        const QList<QByteArray> lines = readFile(report).split('\n');
        QCOMPARE(lines.size(), 3); // two rows and the end of the last line
        for (int row = 0; row < 2; ++row) {
            const QJsonObject o = QJsonDocument::fromJson(lines.at(row)).object();
            QCOMPARE(o.value(u"source"_qs).toString(), p.main->model()->entry(row).SourcePath);
            QCOMPARE(o.value(u"status"_qs).toString(), u"Finish"_qs);
            QCOMPARE(o.value(u"format"_qs).toString(), u"mp3"_qs);
        }
        const QString kept = p.titles().at(1);
        run(menuAt(0), "RemoveAction");
        QCOMPARE(p.titles(), QStringList{kept});
    }

    void namingFromTheWindow_data()
    {
        QTest::addColumn<int>("existing");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("files"); // below the output folder after two batches
        QTest::addColumn<QString>("summary");   // of the second batch
        QTest::newRow("replace, as before") << int(ExistingOutput::Replace) << u"{title}"_qs
                                            << QStringList{u"one.mp3.mp3"_qs} << u"1 converted"_qs;
        QTest::newRow("skip: the second batch converts nothing")
            << int(ExistingOutput::Skip) << u"{title}"_qs << QStringList{u"one.mp3.mp3"_qs}
            << u"0 converted, 1 skipped"_qs;
        QTest::newRow("number, in a folder of the pattern")
            << int(ExistingOutput::Number) << u"{artist}/{title}"_qs
            << QStringList{u"Unknown Artist/one.mp3 (2).mp3"_qs, u"Unknown Artist/one.mp3.mp3"_qs}
            << u"1 converted"_qs;
    }

    // What the settings choose names the window's outputs, batch after batch.
    void namingFromTheWindow()
    {
        QFETCH(int, existing);
        QFETCH(QString, pattern);
        QFETCH(QStringList, files);
        QFETCH(QString, summary);
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        NamingOptions naming;
        naming.pattern = pattern;
        naming.existing = ExistingOutput(existing);
        p.main->session()->setNaming(naming);
        p.addFiles(media({QStringLiteral("one.mp3")}));
        for (int batch = 0; batch < 2; ++batch) {
            p.main->DispatchCommand(QStringLiteral("tomp3"));
            QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        }
        QStringList found;
        for (QDirIterator it(out.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            found << QDir(out.path()).relativeFilePath(it.next());
        found.sort();
        QCOMPARE(found, files);
        QCOMPARE(p.main->progressInfo(), summary);
        // A skipped row shows the size of the file that is there, as a finished one does.
        JobListModel *m = p.main->model();
        QVERIFY(m->hasRealSize(0));
        QCOMPARE(m->sizeBytes(0), QFileInfo(m->run(0).output).size());
    }

    void keysRunTheCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Ctrl+O adds files")
            << int(Qt::Key_O) << int(Qt::ControlModifier) << QStringLiteral("asked for files");
        QTest::newRow("Ctrl+Shift+O adds a folder")
            << int(Qt::Key_O) << int(Qt::ControlModifier | Qt::ShiftModifier)
            << QStringLiteral("Add File Directory, subfolders offered");
        QTest::newRow("Delete removes") << int(Qt::Key_Delete) << 0 << QStringLiteral("2 rows");
        QTest::newRow("F2 edits the row")
            << int(Qt::Key_F2) << 0 << QStringLiteral("ID3Form on row 2");
        QTest::newRow("Enter edits the row")
            << int(Qt::Key_Return) << 0 << QStringLiteral("ID3Form on row 2");
        QTest::newRow("Escape stops the batch")
            << int(Qt::Key_Escape) << 0 << QStringLiteral("Stopped");
    }
    void keysRunTheCommands()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, expected);
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(
            media({QStringLiteral("k1.mp3"), QStringLiteral("k2.mp3"), QStringLiteral("k3.mp3")}));
        p.list()->setFocus();
        p.list()->selectRow(2);
        QString seen;
        p.main->setOpenFilesProvider([&seen] {
            seen = QStringLiteral("asked for files");
            return QStringList();
        });
        if (expected.contains(QLatin1String("ID3Form")) ||
            expected.contains(QLatin1String("Add"))) {
            whenModal([&seen](QWidget *w) {
                if (auto *table = w->findChild<QTableWidget *>(QStringLiteral("ListView1")))
                    seen = w->objectName() + QStringLiteral(" on row %1").arg(table->currentRow());
                else if (auto *check = w->findChild<QCheckBox *>(QStringLiteral("SubfoldersCheck")))
                    seen = w->windowTitle() + (check->isVisibleTo(w)
                                                   ? QStringLiteral(", subfolders offered")
                                                   : QString());
                w->close();
            });
        }
        if (key == Qt::Key_Escape) {
            qputenv("FAKE_MODE", "hang");
            p.main->DispatchCommand(QStringLiteral("tomp3"));
            QTRY_COMPARE(p.main->model()->status(0), JobStatus::Converting);
        }
        QTest::keyClick(p.list(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (key == Qt::Key_Delete)
            seen = QStringLiteral("%1 rows").arg(p.main->model()->rowCount());
        if (key == Qt::Key_Escape) {
            QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->status(0), JobStatus::Stopped, 10000);
            seen = QStringLiteral("Stopped");
        }
        QTRY_COMPARE(seen, expected);
        QTRY_COMPARE(int(p.main->IdleFlag()), 1);
    }

    // Tab leaves the list and goes round the window in reading order; while a batch runs it
    // passes over the commands that cannot run.
    void tabGoesRoundTheWindow()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.addFiles(media({QStringLiteral("t1.mp3")}));
        auto round = [&p] {
            p.list()->setFocus();
            QStringList visited;
            do {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << QApplication::focusWidget()->objectName().remove(
                    QStringLiteral("Focus"));
            } while (QApplication::focusWidget() != p.list() && visited.size() < 30);
            return visited.join(QLatin1Char(' '));
        };
        QCOMPARE(round(), QStringLiteral("OpenOutputButton suiComboBox1 suiComboBox2 suiComboBox3 "
                                         "addfile addfolder remove clear id3 settings tomp3 towav "
                                         "towma toaac torm more stop ListView1"));
        qputenv("FAKE_MODE", "hang");
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->model()->status(0), JobStatus::Converting);
        QCOMPARE(round(), QStringLiteral("OpenOutputButton suiComboBox1 suiComboBox2 suiComboBox3 "
                                         "settings stop ListView1"));
        p.main->DispatchCommand(QStringLiteral("stop"));
    }

    // The list never needs a horizontal scroll bar nor cuts a status, and new rows come
    // into view.
    void listFitsItsColumns()
    {
        Program p;
        p.show();
        QStringList names;
        for (int i = 0; i < 14; ++i)
            names << QStringLiteral("A rather long title, number %1 of the list.mp3").arg(i);
        p.addFiles(media(names));
        QTableView *list = p.list();
        JobListModel *m = p.main->model();
        QTRY_VERIFY(list->verticalScrollBar()->isVisible());
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        QVERIFY(list->viewport()->rect().contains(list->visualRect(m->index(13, 0)).center()));
        int total = 0;
        for (int c = 0; c < JobListModel::ColumnCount; ++c)
            total += list->columnWidth(c);
        QCOMPARE(total, list->viewport()->width());

        m->setStatus(13, JobStatus::Converting);
        m->setProgress(13, 100);
        const QString status = m->data(m->index(13, JobListModel::StatusColumn)).toString();
        QCOMPARE(status, QStringLiteral("Converting 100%"));
        // Qt's item views keep this margin on each side of a cell's text.
        const int margin =
            list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        QVERIFY(list->fontMetrics().horizontalAdvance(status) + 2 * margin <=
                list->columnWidth(JobListModel::StatusColumn));
    }

    void addFolderRemembersSubfolders_data()
    {
        QTest::addColumn<bool>("include");
        QTest::newRow("with subfolders") << true;
        QTest::newRow("without") << false;
    }
    void addFolderRemembersSubfolders()
    {
        QFETCH(bool, include);
        const QString ini = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
        QFile::remove(ini);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("sub")));
        writeFile(folder.filePath(QStringLiteral("top.mp3")), "data");
        writeFile(folder.filePath(QStringLiteral("sub/below.mp3")), "data");
        Program p;
        p.show();
        bool offered = !include;
        auto pick = [&](bool check) {
            whenModal([&, check](QWidget *w) {
                auto *box = w->findChild<QCheckBox *>(QStringLiteral("SubfoldersCheck"));
                offered = box->isChecked();
                box->setChecked(check);
                w->findChild<QLineEdit *>(QStringLiteral("PathEdit"))->setText(folder.path());
                QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("Button1")),
                                  Qt::LeftButton);
            });
            p.main->DispatchCommand(QStringLiteral("addfolder"));
            QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        };
        pick(include);
        QVERIFY(!offered); // off at first
        QCOMPARE(p.titles(),
                 include ? QStringList({QStringLiteral("top.mp3"), QStringLiteral("below.mp3")})
                         : QStringList(QStringLiteral("top.mp3")));
        QCOMPARE(SettingsStore().readIncludeSubfolders(), include);
        // "Keep folder structure": each output in its source's subfolder of the added folder.
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        NamingOptions naming = p.main->session()->options().naming;
        naming.keepFolders = true;
        p.main->session()->setNaming(naming);
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag()), 1, 10000);
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("top.mp3.mp3"))));
        QCOMPARE(QFile::exists(out.filePath(QStringLiteral("sub/below.mp3.mp3"))), include);
        pick(include);
        QCOMPARE(offered, include); // remembered
        QFile::remove(ini);
    }

    void stopEndsTheEncoder()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.main->session()->setJobsAtOnce(1); // the next row waits for the running one
        p.addFiles(media({QStringLiteral("long.mp3"), QStringLiteral("next.mp3")}));
        qputenv("FAKE_MODE", "hang");
        const QString record = out.path() + QStringLiteral("/shutdown.log");
        qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
        p.main->session()->setFinishAction(EndAction::Shutdown);
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->model()->status(0), JobStatus::Converting);
        bool pathBoxGreyed = false;
        whenModal([&pathBoxGreyed](QWidget *w) {
            pathBoxGreyed = !w->findChild<QLineEdit *>(QStringLiteral("Edit1"))->isEnabled();
            w->close();
        });
        p.main->DispatchCommand(QStringLiteral("settings"));
        QVERIFY(pathBoxGreyed);
        p.main->DispatchCommand(QStringLiteral("stop"));
        QCOMPARE(int(p.main->IdleFlag()), 1);
        QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->status(0), JobStatus::Stopped, 10000);
        QCOMPARE(p.main->model()->status(1), JobStatus::Unconvert);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(record)); // no end action after a stop
        QVERIFY(!QFile::exists(out.path() + QStringLiteral("/long.mp3.mp3")));
    }

    void closingWhileBusyAsks_data()
    {
        QTest::addColumn<QString>("busy"); // "batch", "add" or nothing
        QTest::addColumn<QString>("answer");
        QTest::newRow("idle: no question") << QString() << QString();
        QTest::newRow("batch, Cancel") << u"batch"_qs << u"Cancel"_qs;
        QTest::newRow("batch, Escape") << u"batch"_qs << u"Escape"_qs;
        QTest::newRow("batch, Stop and quit") << u"batch"_qs << u"Stop and quit"_qs;
        QTest::newRow("add, Cancel") << u"add"_qs << u"Cancel"_qs;
        QTest::newRow("add, Stop and quit") << u"add"_qs << u"Stop and quit"_qs;
    }
    // Closing the window while files are converted or added asks first; quitting stops as
    // "Stop" does: no encoder left, no half file, the outputs written before kept.
    void closingWhileBusyAsks()
    {
        QFETCH(QString, busy);
        QFETCH(QString, answer);
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.main->session()->setJobsAtOnce(1);
        p.addFiles(media({u"first.mp3"_qs, u"second-hang.mp3"_qs}));
        qputenv("FAKE_HANG_ON", "hang");
        if (busy == u"batch"_qs) {
            p.main->DispatchCommand(QStringLiteral("tomp3"));
            QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->status(1), JobStatus::Converting, 10000);
        } else if (busy == u"add"_qs) {
            p.main->addPathsFromOutside(media({u"third-hang.mp3"_qs}));
            QTRY_VERIFY(p.main->session()->isAdding());
        }
        QString asked;
        bool cancelIsDefault = false;
        if (!busy.isEmpty()) {
            whenModal([&](QWidget *w) {
                auto *box = qobject_cast<QMessageBox *>(w);
                QVERIFY(box && box->objectName() == u"QuitBox"_qs);
                asked = box->text();
                cancelIsDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
                if (answer == u"Escape"_qs)
                    QTest::keyClick(box, Qt::Key_Escape);
                else if (answer == u"Cancel"_qs)
                    box->button(QMessageBox::Cancel)->click();
                else
                    box->findChild<QPushButton *>(u"StopAndQuitButton"_qs)->click();
            });
        }
        QElapsedTimer clock;
        clock.start();
        const bool closed = p.main->close();
        const bool quits = busy.isEmpty() || answer == u"Stop and quit"_qs;
        QCOMPARE(closed, quits);
        QCOMPARE(p.main->isVisible(), !quits);
        if (!busy.isEmpty()) {
            QVERIFY(cancelIsDefault);
            QVERIFY2(asked.contains(busy == u"batch"_qs ? u"A batch is converting"_qs
                                                        : u"Files are being added"_qs),
                     qPrintable(asked));
        }
        QCOMPARE(p.main->session()->isIdle(), quits);
        if (quits) {
            QVERIFY(clock.elapsed() < 8000);
            QCOMPARE(workFilesIn(out.path()), QStringList());
            QCOMPARE(QDir(out.path()).entryList(QDir::Files),
                     busy == u"batch"_qs ? QStringList{u"first.mp3.mp3"_qs} : QStringList());
        } else {
            p.main->DispatchCommand(QStringLiteral("stop"));
        }
        qunsetenv("FAKE_HANG_ON");
    }

    // Each batch starts from a clean slate: its rows say "Unconvert" again, without the
    // reasons the last batch gave.
    void statusesClearAtBatchStart()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->session()->setOutputDir(out.path());
        p.main->session()->setJobsAtOnce(1);
        p.addFiles(media({u"a-hang.mp3"_qs, u"b.mp3"_qs, u"c.mp3"_qs}));
        JobListModel *m = p.main->model();
        m->setStatus(1, JobStatus::Failed, u"Opus takes only 48000 Hz"_qs);
        m->setStatus(2, JobStatus::Finish);
        qputenv("FAKE_HANG_ON", "hang");
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(m->status(0), JobStatus::Converting);
        for (int row : {1, 2}) {
            QCOMPARE(m->status(row), JobStatus::Unconvert);
            QCOMPARE(m->data(m->index(row, JobListModel::StatusColumn)).toString(),
                     u"Unconvert"_qs);
            QCOMPARE(m->reason(row), QString());
            QCOMPARE(m->data(m->index(row, JobListModel::StatusColumn), Qt::ToolTipRole).toString(),
                     QString());
        }
        p.main->DispatchCommand(QStringLiteral("stop"));
        qunsetenv("FAKE_HANG_ON");
    }

    void profileListsAreKept_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("shown");
        const QStringList defaults{u"44100 Hz"_qs, u"128 Kbps"_qs, u"Stereo"_qs};
        QTest::newRow("nothing stored") << QByteArray() << defaults;
        QTest::newRow("stored values")
            << QByteArray("SampleRate=48000\nBitrate=192000\nChannels=1\n")
            << QStringList{u"48000 Hz"_qs, u"192 Kbps"_qs, u"Mono"_qs};
        QTest::newRow("values the lists do not offer")
            << QByteArray("SampleRate=44000\nBitrate=7\nChannels=stereo\n") << defaults;
        QTest::newRow("one known, one not")
            << QByteArray("SampleRate=8000\nBitrate=128001\n")
            << QStringList{u"8000 Hz"_qs, u"128 Kbps"_qs, u"Stereo"_qs};
    }
    // The sample rate, bitrate and channels come back at the next start, by their values;
    // the end action does not.
    void profileListsAreKept()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, shown);
        const QString ini = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
        const auto removeIni = qScopeGuard([&ini] { QFile::remove(ini); });
        writeFile(ini, "[operate]\n" + stored);
        {
            Program p;
            p.show();
            QCOMPARE((QStringList{p.combo(1)->currentText(), p.combo(2)->currentText(),
                                  p.combo(3)->currentText()}),
                     shown);
            const EncodingProfile &profile = p.main->session()->options().profile;
            QCOMPARE(QStringList({profile.SampleRate + u" Hz"_qs,
                                  QString::number(profile.Bitrate.toInt() / 1000) + u" Kbps"_qs}),
                     shown.mid(0, 2));
            p.combo(2)->setCurrentIndex(p.combo(2)->findText(u"320 Kbps"_qs));
            p.combo(3)->setCurrentIndex(p.combo(3)->findText(u"Mono"_qs));
            p.main->session()->setFinishAction(EndAction::Shutdown);
            p.main->close();
        }
        QVERIFY(readFile(ini).contains("Bitrate=320000"));
        Program p;
        p.show();
        QCOMPARE(p.combo(1)->currentText(), shown.first());
        QCOMPARE(p.combo(2)->currentText(), u"320 Kbps"_qs);
        QCOMPARE(p.combo(3)->currentText(), u"Mono"_qs);
        QCOMPARE(p.main->session()->options().profile.Bitrate, u"320000"_qs);
        QCOMPARE(p.main->session()->options().finishAction, EndAction::Nothing);
    }

    void homeAndEndGoToTheEnds_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("row");
        QTest::newRow("End") << int(Qt::Key_End) << 0 << 29;
        QTest::newRow("Home") << int(Qt::Key_Home) << 0 << 0;
        QTest::newRow("Ctrl+End") << int(Qt::Key_End) << int(Qt::ControlModifier) << 29;
        QTest::newRow("Ctrl+Home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << 0;
    }
    void homeAndEndGoToTheEnds()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, row);
        Program p;
        p.show();
        QStringList names;
        for (int i = 0; i < 30; ++i)
            names << QStringLiteral("row %1.mp3").arg(i);
        p.addFiles(media(names));
        QTableView *list = p.list();
        list->setFocus();
        list->setCurrentIndex(p.main->model()->index(12, JobListModel::TimeColumn));
        QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(list->currentIndex().row(), row);
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), row);
        QTRY_VERIFY(list->viewport()->rect().contains(
            list->visualRect(p.main->model()->index(row, 0)).center()));
    }

    // While rows are added the band counts them; the list follows new rows only when it
    // showed its last row.
    void addingCountsAndFollowsOnlyFromTheBottom()
    {
        Program p;
        p.show();
        QStringList first;
        for (int i = 0; i < 30; ++i)
            first << QStringLiteral("f%1.mp3").arg(i);
        p.addFiles(media(first));
        QTableView *list = p.list();
        QScrollBar *bar = list->verticalScrollBar();
        QTRY_COMPARE(bar->value(), bar->maximum()); // it followed from the (empty) bottom
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(p.main->progressInfo(), QString()); // done adding: nothing to count

        list->scrollToTop();
        qputenv("FAKE_HANG_ON", "hang");
        p.main->addPathsFromOutside(
            media({u"g1.mp3"_qs, u"g2.mp3"_qs, u"g3-hang.mp3"_qs, u"g4.mp3"_qs}));
        QTRY_COMPARE(p.main->model()->rowCount(), 32);
        QTRY_COMPARE(p.main->progressInfo(), u"Adding 2 of 4"_qs);
        QCOMPARE(p.element(QStringLiteral("pbinfo"))->text(), u"Adding 2 of 4"_qs);
        QCOMPARE(bar->value(), 0); // scrolled away: left there
        p.main->DispatchCommand(QStringLiteral("stop"));
        QTRY_COMPARE(int(p.main->IdleFlag()), 1);
        QTRY_COMPARE(p.main->progressInfo(), QString());
        qunsetenv("FAKE_HANG_ON");

        list->scrollToBottom();
        p.main->addPathsFromOutside(media({u"h1.mp3"_qs, u"h2.mp3"_qs}));
        QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->rowCount(), 34, 10000);
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(list->viewport()->rect().contains(
            list->visualRect(p.main->model()->index(33, 0)).center()));
    }

    void screenshots()
    {
        const QByteArray dir = qgetenv("WT_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("set WT_SCREENSHOT_DIR to save screenshots of the main window");
        Program p;
        p.show();
        p.main->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/main-empty.png"));
        p.addFiles(media({QStringLiteral("Morning walk through the old harbour (live).mp3"),
                          QStringLiteral("b.wav"), QStringLiteral("c.mp3")}));
        p.main->model()->setStatus(0, JobStatus::Finish);
        p.main->model()->setStatus(1, JobStatus::Converting);
        p.main->model()->setStatus(2, JobStatus::Failed, QStringLiteral("Encoder not found"));
        p.list()->selectRow(1);
        p.main->ShowProgress(50, 100);
        p.main->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/main-rows.png"));
    }
};

WT_SAFE_TEST_MAIN(TestMainWindow)

#include "tst_mainwindow.moc"
