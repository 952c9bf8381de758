#include "common/testcommon.h"

#include "core/joblist/failuretext.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediatypes.h"
#include "core/joblist/naturalorder.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <sys/stat.h>

namespace {

void touch(const QString &path, const QByteArray &bytes = QByteArray(256, 'x'))
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The MIME types the desktop entry offers the program for, by their canonical names.
QSet<QString> desktopEntryTypes()
{
    QFile f(QStringLiteral(WT_SOURCE_DIR "/data/wavetransmuter.desktop"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QMimeDatabase db;
    QSet<QString> types;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.startsWith("MimeType="))
            continue;
        for (const QString &t :
             QString::fromUtf8(line.mid(9)).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QMimeType type = db.mimeTypeForName(t);
            types << (type.isValid() ? type.name() : t); // an unknown name is reported as given
        }
    }
    return types;
}

QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QFileInfo(p).fileName();
    out.sort();
    return out;
}

ID3info entryTitled(const char *title)
{
    ID3info e;
    e.Title = e.EditTitle = title;
    e.SourcePath = QStringLiteral("/music/") + QString::fromLatin1(title);
    return e;
}

QStringList titles(const JobListModel &model)
{
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.data(model.index(r, JobListModel::TitleColumn)).toString();
    return out;
}

} // namespace

class TestJobList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("WAVETRANSMUTER_FFMPEG", WT_FAKE_ENCODER);
        qunsetenv("FAKE_HANG_ON");
        qunsetenv("FAKE_DURATION");
    }

    void acceptedExtensions_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<bool>("accepted");
        for (const char *e : {".mp3", ".MP3",  ".wma", ".rm",  ".avi", ".Flac", ".oga",  ".opus",
                              ".m4b", ".AIFC", ".wv",  ".ape", ".mpc", ".tta",  ".webm", ".eac3",
                              ".snd", ".caf",  ".MOV", ".3g2", ".flv", ".amr"})
            QTest::newRow(e) << QString::fromLatin1(e) << true;
        for (const char *e : {"mp3", "", ".mp3 ", ".txt", ".jpg", ".cue", ".m3u", ".flac.part"})
            QTest::newRow(e[0] ? e : "empty") << QString::fromLatin1(e) << false;
    }
    void acceptedExtensions()
    {
        QFETCH(QString, ext);
        QFETCH(bool, accepted);
        QCOMPARE(IsAcceptedExtension(ext), accepted);
        QCOMPARE(IsMediaFileName(QStringLiteral("song") + ext), accepted);
    }

    // The dialog, the folder scan and drops take one list: "All Sapported Files" is every
    // family's filter together, and the scan takes each of its patterns in any case.
    void oneListOfInputTypes()
    {
        const QVector<FileFilter> &filters = OpenDialogFilters();
        QCOMPARE(filters.first().description, QStringLiteral("All Sapported Files"));
        QCOMPARE(filters.size(), MediaFamilies().size() + 1);
        QSet<QString> families;
        for (qsizetype i = 1; i < filters.size(); ++i) {
            QCOMPARE(filters.at(i).description, MediaFamilies().at(i - 1).description);
            for (const QString &p : filters.at(i).patterns)
                families << p;
        }
        const QStringList all = filters.first().patterns;
        QCOMPARE(QSet<QString>(all.begin(), all.end()), families);
        for (const QString &p : all) {
            QVERIFY2(p.startsWith(QLatin1String("*.")) && p == p.toLower(), qPrintable(p));
            QVERIFY2(IsAcceptedExtension(p.mid(1).toUpper()), qPrintable(p));
        }
        // The long-standing filters keep their texts, in their places.
        QCOMPARE(filters.at(1).description, QStringLiteral("MP3 Files(*.mp3,*.mpg,*.mpeg)"));
        QCOMPARE(filters.at(6).description, QStringLiteral("AVI Files(*.avi)"));
    }

    // "Open with" offers the program exactly the files it then adds: every type in the
    // desktop entry has a pattern the window accepts, and every such pattern a type there
    // (where the MIME database knows one: it has none for .caf and .eac3).
    void desktopEntryListsTheAcceptedTypes()
    {
        const QMimeDatabase db;
        const QStringList accepted = OpenDialogFilters().first().patterns;
        const QSet<QString> listed = desktopEntryTypes();
        QVERIFY(!listed.isEmpty());
        for (const QString &name : listed) {
            const QMimeType type = db.mimeTypeForName(name);
            QVERIFY2(type.isValid(), qPrintable(name));
            const QStringList globs = type.globPatterns();
            QVERIFY2(std::any_of(globs.begin(), globs.end(),
                                 [&](const QString &g) { return accepted.contains(g); }),
                     qPrintable(name + QStringLiteral(" is not taken: ") + globs.join(u' ')));
        }
        QSet<QString> families;
        for (const MediaFamily &f : MediaFamilies()) {
            for (const QString &t : f.mimeTypes)
                families << db.mimeTypeForName(t).name();
        }
        QCOMPARE(listed, families);
        for (const QString &pattern : accepted) {
            const QList<QMimeType> types = db.mimeTypesForFileName(pattern.mid(1).prepend(u'x'));
            QVERIFY2(types.isEmpty() ||
                         std::any_of(types.begin(), types.end(),
                                     [&](const QMimeType &t) { return listed.contains(t.name()); }),
                     qPrintable(pattern + QStringLiteral(" has no type in the desktop entry")));
        }
    }

    void scanFolderTakesOnlyAcceptedRegularFiles_data()
    {
        QTest::addColumn<bool>("trailingSlash");
        QTest::addColumn<bool>("recursive");
        QTest::newRow("without trailing slash") << false << false;
        QTest::newRow("with trailing slash") << true << false;
        QTest::newRow("subfolders too") << false << true;
    }
    void scanFolderTakesOnlyAcceptedRegularFiles()
    {
        QFETCH(bool, trailingSlash);
        QFETCH(bool, recursive);
        QTemporaryDir dir;
        const QString d = dir.path();
        touch(d + QStringLiteral("/Song.MP3"));
        touch(d + QStringLiteral("/a.wav"));
        touch(d + QStringLiteral("/.hidden.mp3"));
        touch(d + QStringLiteral("/cover.jpg"));
        touch(d + QStringLiteral("/list.m3u"));
        touch(d + QStringLiteral("/noext"));
        QVERIFY(QDir(d).mkpath(QStringLiteral("sub")));
        touch(d + QStringLiteral("/sub/inner.mp3"));
        QVERIFY(QDir(d).mkpath(QStringLiteral("x.mp3"))); // a folder is no file
        QCOMPARE(::mkfifo(QFile::encodeName(d + QStringLiteral("/y.mp3")).constData(), 0600), 0);
        QVERIFY(QFile::link(d + QStringLiteral("/a.wav"), d + QStringLiteral("/link.wma")));
        touch(d + QStringLiteral("/tune.Opus"));
        QVERIFY(QDir(d).mkpath(QStringLiteral("sub/deeper")));
        touch(d + QStringLiteral("/sub/deeper/deep.WMA"));
        touch(d + QStringLiteral("/sub/deeper/notes.txt"));
        // Links to folders are not followed: this one would loop, the other adds twice.
        QVERIFY(QFile::link(d, d + QStringLiteral("/sub/deeper/loop")));
        QVERIFY(QFile::link(d + QStringLiteral("/sub"), d + QStringLiteral("/again")));

        const QString folder = trailingSlash ? d + QLatin1Char('/') : d;
        const QStringList found = ScanFolder(folder, recursive);
        QStringList expected{QStringLiteral(".hidden.mp3"), QStringLiteral("Song.MP3"),
                             QStringLiteral("a.wav"), QStringLiteral("link.wma"),
                             QStringLiteral("tune.Opus")};
        if (recursive)
            expected << QStringLiteral("deep.WMA") << QStringLiteral("inner.mp3");
        expected.sort();
        QCOMPARE(names(found), expected);
        for (const QString &p : found)
            QVERIFY2(!p.contains(QStringLiteral("//")), qPrintable(p));
        if (recursive) { // a folder's own files come before its subfolders'
            QCOMPARE(QFileInfo(found.at(found.size() - 2)).fileName(), QStringLiteral("inner.mp3"));
            QCOMPARE(QFileInfo(found.last()).fileName(), QStringLiteral("deep.WMA"));
        }
    }

    // Folder adds list what a file manager shows, in its order: numbers by value, letter
    // case aside, a folder's files before its subfolders, subfolders alike, all the way down.
    void scanFolderInNaturalOrder_data()
    {
        QTest::addColumn<QStringList>("created"); // in the order the file system gets them
        QTest::addColumn<QStringList>("listed");
        const auto list = [](const char *names) {
            return QString::fromUtf8(names).split(QLatin1Char('|'));
        };
        QTest::newRow("numbers by value") << list("10 x.mp3|2 x.mp3|1 x.mp3|100 x.mp3")
                                          << list("1 x.mp3|2 x.mp3|10 x.mp3|100 x.mp3");
        QTest::newRow("zero-padded tracks")
            << list("03 c.flac|11 k.flac|01 a.flac|06 f.flac|10 j.flac")
            << list("01 a.flac|03 c.flac|06 f.flac|10 j.flac|11 k.flac");
        QTest::newRow("letter case aside")
            << list("track 10.opus|Track 2.opus|TRACK 1.opus|b.opus|A.opus")
            << list("A.opus|b.opus|TRACK 1.opus|Track 2.opus|track 10.opus");
        QTest::newRow("accents after their letter")
            << list("f.mp3|\u00e9t\u00e9.mp3|ete.mp3|e.mp3")
            << list("e.mp3|ete.mp3|\u00e9t\u00e9.mp3|f.mp3");
        QTest::newRow("files before subfolders, subfolders in order")
            << list("CD10/1.flac|z.mp3|CD2/b.flac|CD2/Disc 1/x.flac|CD2/a.flac|a.mp3|CD1/9.flac")
            << list("a.mp3|z.mp3|CD1/9.flac|CD2/a.flac|CD2/b.flac|CD2/Disc 1/x.flac|CD10/1.flac");
    }
    void scanFolderInNaturalOrder()
    {
        QFETCH(QStringList, created);
        QFETCH(QStringList, listed);
        QTemporaryDir dir;
        for (const QString &name : created) {
            QVERIFY(QDir(dir.path()).mkpath(QFileInfo(name).path()));
            touch(dir.filePath(name));
        }
        QStringList found = ScanFolder(dir.path(), true);
        for (QString &path : found)
            path = QDir(dir.path()).relativeFilePath(path);
        QCOMPARE(found, listed);
        // The same order for names given together (the window's "Add files").
        QStringList shuffled = created;
        std::reverse(shuffled.begin(), shuffled.end());
        SortNaturally(shuffled);
        QStringList topLevel = listed;
        topLevel.removeIf([](const QString &p) { return p.contains(QLatin1Char('/')); });
        shuffled.removeIf([](const QString &p) { return p.contains(QLatin1Char('/')); });
        QCOMPARE(shuffled, topLevel);
    }

    void removeKeepsRowsAndEntriesInStep()
    {
        JobListModel model;
        QList<quint64> ids;
        for (const char *t : {"one", "two", "three", "four"})
            ids << model.appendEntry(entryTitled(t), 10, 128000);
        model.removeEntry(1);
        QCOMPARE(titles(model), (QStringList{QStringLiteral("one"), QStringLiteral("three"),
                                             QStringLiteral("four")}));
        QCOMPARE(model.entry(1).SourcePath, QStringLiteral("/music/three"));
        QCOMPARE(model.rowOfId(ids[1]), -1);
        QCOMPARE(model.rowOfId(ids[3]), 2);
        model.removeEntry(7); // out of range: nothing
        QCOMPARE(model.rowCount(), 3);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.FileEntries().size(), 0);
        // Ids never come back, so a late job cannot mistake a new row for its own.
        QVERIFY(model.appendEntry(entryTitled("five"), {}, {}) > ids[3]);
    }

    void columnsAndStatusTexts()
    {
        JobListModel model;
        model.appendEntry(entryTitled("t"), 225, 128000);
        QStringList headers;
        for (int c = 0; c < model.columnCount(); ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{QStringLiteral("File Title"), QStringLiteral("Time"),
                                       QStringLiteral("Size"), QStringLiteral("Status")}));
        QCOMPARE(model.data(model.index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Unconvert"));
        model.setStatus(0, JobStatus::Failed, QStringLiteral("Encoder not found"));
        QCOMPARE(model.data(model.index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Failed"));
        // Views read the status itself, on any column, not the text shown.
        QCOMPARE(model.data(model.index(0, JobListModel::TitleColumn), JobListModel::StatusRole),
                 QVariant(int(JobStatus::Failed)));
        // The tooltip explains the reason in plain words first; the title's names the file.
        const QString explained = ExplainedReason(QStringLiteral("Encoder not found"));
        QVERIFY(explained.endsWith(QStringLiteral(".\nEncoder not found")));
        QCOMPARE(model.data(model.index(0, JobListModel::StatusColumn), Qt::ToolTipRole).toString(),
                 explained);
        QCOMPARE(model.data(model.index(0, JobListModel::TitleColumn), Qt::ToolTipRole).toString(),
                 QStringLiteral("/music/t\n\n") + explained);
        // A converting row shows how far it is; a later status clears that and the old reason.
        model.setStatus(0, JobStatus::Converting);
        model.setProgress(0, 42);
        QCOMPARE(model.data(model.index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Converting 42%"));
        model.setStatus(0, JobStatus::Finish, QStringLiteral("Tag not written"));
        QCOMPARE(model.data(model.index(0, JobListModel::StatusColumn)).toString(),
                 QStringLiteral("Finish"));
        QCOMPARE(model.data(model.index(0, JobListModel::SizeColumn), Qt::ToolTipRole).toString(),
                 QStringLiteral("Tag not written")); // only failures are explained
        // The size of a finished output stays when the bitrate changes; estimates follow it.
        model.appendEntry(entryTitled("u"), 225, 128000);
        QCOMPARE(timeShown(model, 1), QStringLiteral("00:03:45"));
        QCOMPARE(sizeShown(model, 1), QStringLiteral("3.43MB"));
        model.setOutputSize(0, 1536 * 1024);
        model.RecomputeSizes(64000);
        QCOMPARE(sizeShown(model, 0), QStringLiteral("1.5MB"));
        QCOMPARE(sizeShown(model, 1), QStringLiteral("1.71MB"));
    }

    void failureReasonsInPlainWords_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("starts");
        // ffmpeg 5.1's own lines, as the batch takes them from its output.
        QTest::newRow("wma bitrate")
            << QStringLiteral("[wmav2] bitrate too low: got 8000, need 24000 or higher")
            << QStringLiteral("The chosen bitrate is too low");
        QTest::newRow("ac3 sample rate")
            << QStringLiteral("[ac3] Specified sample rate 22050 is not supported")
            << QStringLiteral("This format does not take the chosen sample rate");
        QTest::newRow("missing source") << QStringLiteral("missing.wav: No such file or directory")
                                        << QStringLiteral("The source file or the output folder");
        QTest::newRow("unreadable source") << QStringLiteral("/music/broken.mp3: Invalid argument")
                                           << QStringLiteral("ffmpeg refused the file");
        QTest::newRow("unknown line") << QStringLiteral("Something new") << QString();
    }
    void failureReasonsInPlainWords()
    {
        QFETCH(QString, reason);
        QFETCH(QString, starts);
        const QString explained = ExplainedReason(reason);
        if (starts.isEmpty())
            QCOMPARE(explained, reason);
        else
            QVERIFY2(explained.startsWith(starts) && explained.endsWith(QLatin1Char('\n') + reason),
                     qPrintable(explained));
    }

    void recomputeSizesFollowsEachRowsTime()
    {
        JobListModel model;
        model.appendEntry(entryTitled("a"), 225);
        model.appendEntry(entryTitled("b"), 1800);
        model.appendEntry(entryTitled("c"));
        model.RecomputeSizes(1411000);
        QCOMPARE(sizeShown(model, 0), QStringLiteral("37.84MB"));
        QCOMPARE(sizeShown(model, 1), QStringLiteral("302.76MB"));
        QCOMPARE(sizeShown(model, 2), QStringLiteral("0MB"));
    }

    void adderAppendsInGivenOrderWithFilledRows()
    {
        QTemporaryDir dir;
        QStringList paths;
        // The first file's probe hangs until its watchdog, the others answer at once:
        // rows must still come in the order given.
        qputenv("FAKE_HANG_ON", "slow");
        for (const char *n : {"slow.mp3", "b.wav", "c.mp3", "d.mp3"}) {
            paths << dir.path() + QLatin1Char('/') + QString::fromLatin1(n);
            touch(paths.last());
        }
        JobListModel model;
        TID3v1 tag;
        FileAdder adder(&model, &tag);
        adder.setEncoderPath(QStringLiteral(WT_FAKE_ENCODER));
        adder.setProbeTimeout(400);
        adder.setMaxParallelProbes(3);
        adder.setEstimateBitrate(128000);
        QSignalSpy finished(&adder, &FileAdder::finished);
        adder.addFiles(paths);
        QVERIFY(adder.isBusy());
        QVERIFY(finished.wait(5000));
        qunsetenv("FAKE_HANG_ON");
        QCOMPARE(finished.size(), 1);
        QCOMPARE(titles(model), (QStringList{QStringLiteral("slow.mp3"), QStringLiteral("b.wav"),
                                             QStringLiteral("c.mp3"), QStringLiteral("d.mp3")}));
        QCOMPARE(timeShown(model, 0), QString()); // killed probe: no duration
        QCOMPARE(sizeShown(model, 0), QStringLiteral("0MB"));
        QCOMPARE(timeShown(model, 1), QStringLiteral("00:03:45"));
        QCOMPARE(sizeShown(model, 1), QStringLiteral("3.43MB"));
        QCOMPARE(model.status(1), JobStatus::Unconvert);
        QCOMPARE(model.entry(1).Genre, quint8(255));
        QCOMPARE(model.entry(1).SourcePath, paths[1]);
        QVERIFY(model.entry(1).Artist.isEmpty());
    }

    void adderCancelDropsWhatIsPending()
    {
        QTemporaryDir dir;
        qputenv("FAKE_HANG_ON", "hang");
        QStringList paths;
        for (const char *n : {"a.mp3", "hang.mp3", "c.mp3"}) {
            paths << dir.path() + QLatin1Char('/') + QString::fromLatin1(n);
            touch(paths.last());
        }
        JobListModel model;
        TID3v1 tag;
        FileAdder adder(&model, &tag);
        adder.setEncoderPath(QStringLiteral(WT_FAKE_ENCODER));
        adder.setMaxParallelProbes(1);
        QSignalSpy added(&adder, &FileAdder::rowsAdded);
        QSignalSpy finished(&adder, &FileAdder::finished);
        adder.addFiles(paths);
        QVERIFY(added.wait(5000));
        adder.cancel();
        qunsetenv("FAKE_HANG_ON");
        QCOMPARE(finished.size(), 1);
        QVERIFY(!adder.isBusy());
        QTest::qWait(200);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(finished.size(), 1);
    }

    void adderWithoutEncoderStillAddsRows()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/a.mp3");
        touch(path);
        JobListModel model;
        TID3v1 tag;
        FileAdder adder(&model, &tag);
        adder.setEncoderPath(dir.path() + QStringLiteral("/no-such-encoder"));
        QSignalSpy finished(&adder, &FileAdder::finished);
        adder.addFiles({path});
        QVERIFY(finished.wait(5000));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(timeShown(model, 0), QString());
        QCOMPARE(sizeShown(model, 0), QStringLiteral("0MB"));
    }
};

QTEST_GUILESS_MAIN(TestJobList)
#include "tst_joblist.moc"
