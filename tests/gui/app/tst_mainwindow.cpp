#include "common/guitest.h"
#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/convert/batchsequencer.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/joblistmodel.h"
#include "gui/app/tmainform.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"
#include "gui/skin/skinelement.h"
#include "gui/skin/skinwindow.h"
#include "gui/skin/tskin.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QScopeGuard>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString SkinPath = QStringLiteral(WT_SOURCE_DIR "/skins/mp313.skn");

// A drag that enters the widget and is dropped there, as the pointer would do it.
void dropOn(QWidget *target, QMimeData *mime)
{
    const QPoint at(50, 50);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
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
        QTRY_COMPARE_WITH_TIMEOUT(int(main->IdleFlag), 1, 10000);
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
        QCOMPARE(int(p.main->IdleFlag), 0); // nothing is accepted before the first show
        p.show();
        QCOMPARE(p.main->startupError(), QString());
        QCOMPARE(int(p.main->IdleFlag), 1);
        QCOMPARE(p.main->FinishAction, EndAction::Nothing);
        QCOMPARE(p.main->Profile.SampleRate, QStringLiteral("44100"));
        QCOMPARE(p.main->Profile.Bitrate, QStringLiteral("128000"));
        QCOMPARE(p.main->Profile.Channels, QStringLiteral("2"));
        QCOMPARE(p.combo(1)->currentText(), QStringLiteral("44100 Hz"));
        QCOMPARE(p.combo(2)->currentText(), QStringLiteral("128 Kbps"));
        QCOMPARE(p.combo(3)->currentText(), QStringLiteral("Stereo"));
        QCOMPARE(p.main->size(), QSize(525, 343));
        QCOMPARE(p.list()->geometry(), QRect(12, 103, 332, 204));
        QCOMPARE(p.list()->columnWidth(0), 115);
        QCOMPARE(p.list()->columnWidth(1), 70);
        // Without a settings file the output folder is the music folder, created.
        QCOMPARE(p.main->OutputDir, QDir::homePath() + QStringLiteral("/Music"));
        QVERIFY(QFileInfo(p.main->OutputDir).isDir());
        QCOMPARE(p.id3->ComboBox1->count(), 148);
        QCOMPARE(p.id3->ComboBox1->itemText(0), QStringLiteral("Blues"));
        QCOMPARE(p.main->progressText(), QStringLiteral("0%"));
        QCOMPARE(p.main->progressRight(), 12);
        // A second show does not run the set-up again.
        p.main->hide();
        p.main->show();
        QCOMPARE(p.id3->ComboBox1->count(), 148);
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
        QCOMPARE(int(p.main->IdleFlag), 1);
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
        p.main->IdleFlag = 0;
        for (const char *c : {"addfile", "addfolder", "remove", "clear", "id3", "tomp3", "towav"})
            p.main->DispatchCommand(QString::fromLatin1(c));
        QCOMPARE(asked, 0);
        QCOMPARE(p.main->model()->rowCount(), 1);
        QVERIFY(!p.main->sequencer()->isRunning());
        // "settings" is never gated ...
        bool settingsShown = false;
        whenModal([&settingsShown](QWidget *w) {
            settingsShown = w->objectName() == QLatin1String("SetForm");
            w->close();
        });
        p.main->DispatchCommand(QStringLiteral("settings"));
        QVERIFY(settingsShown);
        // ... and neither is "stop", which opens the gate again.
        p.main->DispatchCommand(QStringLiteral("stop"));
        QCOMPARE(int(p.main->IdleFlag), 1);
    }

    void addedFilesComeInTheDialogsOrder()
    {
        Program p;
        p.show();
        p.addFiles(
            media({QStringLiteral("X.mp3"), QStringLiteral("Y.wav"), QStringLiteral("Z.mp3")}));
        QCOMPARE(p.titles(), (QStringList{QStringLiteral("Y.wav"), QStringLiteral("Z.mp3"),
                                          QStringLiteral("X.mp3")}));
        JobListModel *m = p.main->model();
        QCOMPARE(m->time(0), QStringLiteral("00:03:45"));
        QCOMPARE(m->size(0), QStringLiteral("3.43MB"));
        QCOMPARE(m->data(m->index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Unconvert"));
        // No duplicate check: the same file again gives another row.
        p.addFiles(media({QStringLiteral("X.mp3")}));
        QCOMPARE(m->rowCount(), 4);
    }

    void removeTakesTheSelectedRow()
    {
        Program p;
        p.show();
        p.main->DispatchCommand(QStringLiteral("remove")); // empty list: nothing
        QCOMPARE(int(p.main->IdleFlag), 1);
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
        QCOMPARE(int(p.main->IdleFlag), 1);
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
        QCOMPARE(int(p.main->IdleFlag), 1);
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
        QCOMPARE(p.main->Profile.Bitrate, QStringLiteral("8000"));
        p.addFiles(media({QStringLiteral("a.mp3")}));
        QCOMPARE(p.main->model()->size(0), QStringLiteral("0.21MB"));
        p.combo(2)->setCurrentIndex(14);
        QCOMPARE(p.main->model()->size(0), QStringLiteral("8.58MB"));
        p.combo(1)->setCurrentIndex(0);
        p.combo(3)->setCurrentIndex(0);
        QCOMPARE(p.main->Profile.SampleRate, QStringLiteral("8000"));
        QCOMPARE(p.main->Profile.Channels, QStringLiteral("1"));
        p.combo(1)->setCurrentIndex(-1);
        QCOMPARE(p.main->Profile.SampleRate, QStringLiteral("22050"));
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
        QCOMPARE(int(p.main->IdleFlag), 0);              // the later steps did not run
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
        QCOMPARE(int(p.main->IdleFlag), 1);
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
        p.main->OutputDir = out.path();
        p.main->JobsAtOnce = 2;
        p.addFiles(media(
            {QStringLiteral("one.mp3"), QStringLiteral("two.mp3"), QStringLiteral("three.mp3")}));
        qputenv("FAKE_MODE", "hang");
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->sequencer()->runningJobs(), 2);
        QCOMPARE(p.main->model()->status(1), JobStatus::Converting);
        p.main->DispatchCommand(QStringLiteral("stop"));
        qunsetenv("FAKE_MODE");
        QCOMPARE(p.main->model()->status(0), JobStatus::Stopped);
        QCOMPARE(p.main->model()->status(1), JobStatus::Stopped);
        QCOMPARE(p.main->model()->status(2), JobStatus::Unconvert);
        QCOMPARE(p.main->progressText(), QStringLiteral("0%"));
        QTRY_VERIFY(!p.main->sequencer()->isStopping());
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
        for (const char *n : {"in1.mp3", "in2.WAV", "skip.avi"})
            writeFile(folder.path() + QLatin1Char('/') + QString::fromLatin1(n), "data");
        const QStringList files =
            media({QStringLiteral("dropped.mp3"), QStringLiteral("notes.txt")});
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1]),
                      QUrl::fromLocalFile(folder.path())});
        dropOn(p.list()->viewport(), &mime);
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag), 1, 10000);
        QStringList t = p.titles();
        QCOMPARE(t.takeFirst(), QStringLiteral("dropped.mp3"));
        t.sort();
        QCOMPARE(t, (QStringList{QStringLiteral("in1.mp3"), QStringLiteral("in2.WAV")}));
        // A drop while busy is refused like any gated command.
        p.main->IdleFlag = 0;
        dropOn(p.list()->viewport(), &mime);
        QTest::qWait(100);
        QCOMPARE(p.main->model()->rowCount(), 3);
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
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag), 1, 10000);
        // Reached, shown with its name read as ISO-8859-1, and the file itself untouched.
        QCOMPARE(p.titles(), QStringList{u"caf\u00e9.mp3"_qs});
        QCOMPARE(readFile(p.main->model()->entry(0).SourcePath), QByteArray("data"));
    }

    void tagEditorOpensFromTheList()
    {
        Program p;
        p.show();
        p.addFiles(media({QStringLiteral("a.mp3"), QStringLiteral("b.mp3")}));
        p.list()->selectRow(1);
        QString opened;
        whenModal([&opened](QWidget *w) {
            opened = w->objectName();
            w->close();
        });
        const QRect cell = p.list()->visualRect(p.main->model()->index(1, 0));
        QTest::mousePress(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseRelease(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(p.list()->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_COMPARE(opened, QStringLiteral("ID3Form"));
        QCOMPARE(p.list()->selectionModel()->selectedRows().value(0).row(), 0);
    }

    void batchRunsToTheEndAction()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->OutputDir = out.path();
        p.addFiles(media({QStringLiteral("one.mp3"), QStringLiteral("two.mp3")}));
        QStringList opened;
        p.main->setOpenFolderHandler([&opened](const QString &d) { opened << d; });
        p.main->FinishAction = EndAction::OpenFolder;
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QCOMPARE(int(p.main->IdleFlag), 0);
        p.main->DispatchCommand(QStringLiteral("towav")); // gated while converting
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag), 1, 10000);
        QCOMPARE(p.main->model()->status(0), JobStatus::Finish);
        QCOMPARE(p.main->model()->status(1), JobStatus::Finish);
        QVERIFY(QFile::exists(out.path() + QStringLiteral("/one.mp3.mp3")));
        QCOMPARE(opened, QStringList{out.path()});
        QCOMPARE(p.main->progressText(), QStringLiteral("0%"));

        const QString record = out.path() + QStringLiteral("/shutdown.log");
        qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
        p.main->FinishAction = EndAction::Shutdown;
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE_WITH_TIMEOUT(int(p.main->IdleFlag), 1, 10000);
        QTRY_VERIFY(QFile::exists(record));
        QFile log(record);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count('\n'), 1);
    }

    void stopAndCloseEndTheEncoder()
    {
        Program p;
        p.show();
        QTemporaryDir out;
        p.main->OutputDir = out.path();
        p.addFiles(media({QStringLiteral("long.mp3"), QStringLiteral("next.mp3")}));
        qputenv("FAKE_MODE", "hang");
        const QString record = out.path() + QStringLiteral("/shutdown.log");
        qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
        p.main->FinishAction = EndAction::Shutdown;
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->model()->status(0), JobStatus::Converting);
        p.main->DispatchCommand(QStringLiteral("stop"));
        QCOMPARE(int(p.main->IdleFlag), 1);
        QTRY_COMPARE_WITH_TIMEOUT(p.main->model()->status(0), JobStatus::Stopped, 10000);
        QCOMPARE(p.main->model()->status(1), JobStatus::Unconvert);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(record)); // no end action after a stop
        QVERIFY(!QFile::exists(out.path() + QStringLiteral("/long.mp3.mp3")));

        // Closing the window in the middle of a file leaves no encoder and no half file.
        p.main->DispatchCommand(QStringLiteral("tomp3"));
        QTRY_COMPARE(p.main->model()->status(0), JobStatus::Converting);
        QElapsedTimer clock;
        clock.start();
        p.main->close();
        QVERIFY(clock.elapsed() < 8000);
        QVERIFY(!p.main->sequencer()->isRunning());
        QVERIFY(!QFile::exists(out.path() + QStringLiteral("/long.mp3.mp3")));
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
