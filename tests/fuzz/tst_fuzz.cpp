// Replays every saved fuzz input (seeds and past findings) through its target, so the
// properties the fuzzers check hold in every build, sanitized ones included.
#include "fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

struct Target
{
    const char *name;
    int (*function)(const uint8_t *, size_t);
};

const Target Targets[] = {
    {"tagread", FuzzTagRead},   {"progress", FuzzProgress},   {"duration", FuzzDuration},
    {"skinfile", FuzzSkinFile}, {"mediainfo", FuzzMediaInfo},
};

QString corpusDir(const char *target)
{
    return QStringLiteral(WT_SOURCE_DIR "/tests/fuzz/%1/corpus").arg(QLatin1String(target));
}

} // namespace

class TestFuzz : public QObject
{
    Q_OBJECT

private slots:
    void everyTargetHasSeeds_data();
    void everyTargetHasSeeds();
    void replay_data();
    void replay();
};

void TestFuzz::everyTargetHasSeeds_data()
{
    QTest::addColumn<QString>("dir");
    for (const Target &target : Targets)
        QTest::newRow(target.name) << corpusDir(target.name);
}

void TestFuzz::everyTargetHasSeeds()
{
    QFETCH(QString, dir);
    QVERIFY2(QDir(dir).entryList(QDir::Files).size() >= 3, qPrintable(dir));
}

void TestFuzz::replay_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("file");
    for (int t = 0; t < int(std::size(Targets)); ++t) {
        const QDir dir(corpusDir(Targets[t].name));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            QTest::addRow("%s/%s", Targets[t].name, qPrintable(name)) << t << dir.filePath(name);
    }
}

void TestFuzz::replay()
{
    QFETCH(int, target);
    QFETCH(QString, file);
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray bytes = input.readAll();
    // A broken property aborts with its message; reaching the end is the pass.
    QCOMPARE(Targets[target].function(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                      size_t(bytes.size())),
             0);
}

QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
