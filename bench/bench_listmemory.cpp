// Peak memory with many rows in the list: files with full tags are added through the
// same FileAdder the window uses (an encoder, usually the fake one, answers the probes)
// into a JobListModel shown in a table view.
//   bench_listmemory --encoder PATH [--rows N] [--no-view]
#include "core/joblist/fileadder.h"
#include "core/joblist/joblistmodel.h"
#include "core/tags/tid3v1.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// kB of a "VmHWM:"/"VmRSS:" line of /proc/self/status.
long statusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QByteArray field(const char *prefix, int n)
{
    return (QByteArray(prefix) + QByteArray::number(n)).leftJustified(30, '-', true);
}

bool makeSource(const QString &path, int n)
{
    // Some audio bytes, then a tag whose texts fill their fields, as in a tidy library.
    QByteArray bytes(172, '\x55');
    QByteArray tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, 30, field("Title of track ", n));
    tag.replace(33, 30, field("Artist ", n % 97));
    tag.replace(63, 30, field("Album ", n % 13));
    tag.replace(93, 4, "1999");
    tag.replace(97, 30, field("Comment ", n));
    tag[127] = char(n % 148);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes + tag) == 300;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption encoder(QStringLiteral("encoder"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption rows(QStringLiteral("rows"), QString(), QStringLiteral("N"),
                                  QStringLiteral("10000"));
    const QCommandLineOption noView(QStringLiteral("no-view"));
    parser.addOptions({encoder, rows, noView});
    parser.process(app);
    const int count = parser.value(rows).toInt();

    QTemporaryDir dir;
    QStringList paths;
    for (int n = 0; n < count; ++n) {
        const QString path =
            dir.filePath(QStringLiteral("track-%1.mp3").arg(n, 5, 10, QLatin1Char('0')));
        if (!makeSource(path, n))
            return 1;
        paths.append(path);
    }

    JobListModel model;
    TID3v1 tag;
    FileAdder adder(&model, &tag);
    adder.setEncoderPath(parser.value(encoder));
    adder.setEstimateBitrate(128000);
    QTableView view;
    if (!parser.isSet(noView)) {
        view.setModel(&model);
        view.horizontalHeader()->setStretchLastSection(true);
        view.resize(640, 480);
        view.show();
    }
    QCoreApplication::processEvents();
    const long before = statusKb("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&adder, &FileAdder::finished, &loop, &QEventLoop::quit);
    adder.addFiles(paths);
    if (adder.isBusy())
        loop.exec();
    if (!parser.isSet(noView)) {
        view.scrollToBottom();
        QCoreApplication::processEvents();
    }
    std::printf(
        "rows %d, added in %.1f s; resident before adding %ld kB, after %ld kB, peak %ld kB\n",
        model.rowCount(), clock.elapsed() / 1000.0, before, statusKb("VmRSS:"), statusKb("VmHWM:"));
    return model.rowCount() == count ? 0 : 1;
}
