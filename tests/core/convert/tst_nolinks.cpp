#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/commandline.h"
#include "core/joblist/joblistmodel.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <linux/fs.h>
#include <seccomp.h>
#include <unistd.h>

// An output folder whose file system has no hard links, no RENAME_NOREPLACE and no unnamed
// files (FAT through FUSE, gvfs, SMB), for every conversion in this program: a seccomp filter
// refuses them as such a file system does, for the program and the encoders it starts.
class TestNoLinks : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

    static bool refuseLinks()
    {
        scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
        if (!filter)
            return false;
        const int tmpFile = O_TMPFILE & ~O_DIRECTORY;
        const bool ok =
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(link), 0) == 0 &&
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(linkat), 0) == 0 &&
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(renameat2), 1,
                               SCMP_A4(SCMP_CMP_MASKED_EQ, RENAME_NOREPLACE, RENAME_NOREPLACE)) ==
                0 &&
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EOPNOTSUPP), SCMP_SYS(openat), 1,
                               SCMP_A2(SCMP_CMP_MASKED_EQ, tmpFile, tmpFile)) == 0 &&
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EOPNOTSUPP), SCMP_SYS(open), 1,
                               SCMP_A1(SCMP_CMP_MASKED_EQ, tmpFile, tmpFile)) == 0 &&
            ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0 &&
            ::seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0 &&
            ::seccomp_load(filter) == 0;
        ::seccomp_release(filter);
        return ok;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(refuseLinks());
        const QByteArray file = QFile::encodeName(m_tmp.filePath(u"probe"_qs));
        QVERIFY(writeFile(m_tmp.filePath(u"probe"_qs), "x"));
        QCOMPARE(::link(file.constData(), (file + "2").constData()), -1);
        QCOMPARE(errno, EPERM);
        QCOMPARE(::open(QFile::encodeName(m_tmp.path()).constData(), O_TMPFILE | O_RDWR, 0600), -1);
        QCOMPARE(errno, EOPNOTSUPP);
    }

    // Every rule for a file that is there already, with an earlier output of one row's name.
    void existingRules_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QStringList>("expected"); // each row: status and output name
        QTest::newRow("replace") << int(ExistingOutput::Replace)
                                 << QStringList{u"Finish Song.mp3"_qs, u"Finish New.mp3"_qs};
        QTest::newRow("skip") << int(ExistingOutput::Skip)
                              << QStringList{u"Skipped Song.mp3"_qs, u"Finish New.mp3"_qs};
        QTest::newRow("number") << int(ExistingOutput::Number)
                                << QStringList{u"Finish Song (2).mp3"_qs, u"Finish New.mp3"_qs};
    }

    void existingRules()
    {
        QFETCH(int, policy);
        QFETCH(QStringList, expected);
        FakeEncoder::reset();
        QTemporaryDir dir(m_tmp.filePath(u"run-XXXXXX"_qs));
        const QString out = dir.filePath(u"out"_qs);
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(out + u"/Song.mp3"_qs, "an earlier output"));
        JobListModel model;
        for (const char *title : {"Song", "New"}) {
            ID3info entry;
            entry.Title = title;
            entry.SourcePath = dir.filePath(QString::fromLatin1(title) + u".wav"_qs);
            QVERIFY(writeFile(entry.SourcePath, QByteArray(4000, 'S')));
            model.appendEntry(entry, 3);
        }
        TID3v1 tag;
        BatchSequencer batch(&model, &tag);
        batch.setEncoderPath(FakeEncoder::path());
        ConversionOptions options;
        options.outputDir = out;
        options.naming.existing = ExistingOutput(policy);
        options.jobsAtOnce = 2;
        batch.setOptions(options);
        QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
        QVERIFY(batch.StartConversion(*TargetFormatForExtension(u".mp3"_qs)));
        QVERIFY(finished.wait(10000));
        QStringList got;
        for (int row = 0; row < model.rowCount(); ++row) {
            got << JobStatusText(model.status(row)) + u' ' +
                       QFileInfo(model.run(row).output).fileName();
            QVERIFY2(model.status(row) != JobStatus::Failed, qPrintable(model.reason(row)));
            if (model.status(row) == JobStatus::Finish)
                QCOMPARE(readFile(model.run(row).output).size(), 1024 + 128);
        }
        QCOMPARE(got, expected);
        QCOMPARE(readFile(out + u"/Song.mp3"_qs) == "an earlier output",
                 policy != int(ExistingOutput::Replace));
        QCOMPARE(workFilesIn(out), QStringList());
    }
};

WT_SAFE_TEST_MAIN(TestNoLinks)

#include "tst_nolinks.moc"
