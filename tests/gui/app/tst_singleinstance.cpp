#include "gui/app/singleinstance.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A later start, in a thread of its own: its hand-over blocks until the server,
// on this thread's event loop, answers.
std::future<bool> handOverLater(const QString &name, const QStringList &paths)
{
    return std::async(std::launch::async,
                      [name, paths] { return SingleInstance(name).handOver(paths, 5000); });
}

bool waitFor(std::future<bool> &result)
{
    QElapsedTimer clock;
    clock.start();
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        if (clock.elapsed() > 10000)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// What a program that crashed leaves behind: a socket file nobody listens on.
bool leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    qstrncpy(address.sun_path, bytes.constData(), sizeof address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_round = 0;
    QString freshName() { return m_dir.filePath(QStringLiteral("socket%1").arg(++m_round)); }

private slots:
    void theNameComesFromTheEnvironment()
    {
        qputenv("WAVETRANSMUTER_INSTANCE_NAME", "/tmp/only-for-tests");
        QCOMPARE(SingleInstance().name(), QStringLiteral("/tmp/only-for-tests"));
        qunsetenv("WAVETRANSMUTER_INSTANCE_NAME");
        QVERIFY(SingleInstance::defaultName().contains(QString::number(::getuid())));
    }

    void handOver_data()
    {
        QTest::addColumn<bool>("stale");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("files") << false
                               << QStringList{QStringLiteral("/m/a b.mp3"),
                                              QStringLiteral("/m/line\nbreak.wav"),
                                              QStringLiteral("/m/Caf\u00e9/\u65e5.wma")};
        QTest::newRow("none: the window only comes forward") << false << QStringList();
        QTest::newRow("after a crash") << true << QStringList{QStringLiteral("/m/x.mp3")};
    }

    void handOver()
    {
        QFETCH(bool, stale);
        QFETCH(QStringList, paths);
        const QString name = freshName();
        if (stale)
            QVERIFY(leaveStaleSocket(name));

        SingleInstance first(name);
        QVERIFY(!first.handOver(paths, 500)); // nobody runs yet
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::pathsReceived);
        // A second program can neither take the name over nor serve beside it.
        SingleInstance rival(name);
        QVERIFY(!rival.listen());

        std::future<bool> later = handOverLater(name, paths);
        QVERIFY(waitFor(later));
        QVERIFY(later.get());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toStringList(), paths);
        QVERIFY(first.isListening());
    }

    void garbageIsRefused()
    {
        const QString name = freshName();
        SingleInstance first(name);
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::pathsReceived);
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(2000));
        socket.write("GET / HTTP/1.0\r\n\r\n");
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(received.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
