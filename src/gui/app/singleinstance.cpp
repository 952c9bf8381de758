#include "gui/app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

namespace {

// A request: this tag, the payload's length (32 bits, big-endian), the payload: the
// paths in the file system's encoding, each ended by a NUL (a byte no path holds).
// The answer is one byte once the paths are taken.
const QByteArray Magic = QByteArrayLiteral("WTPATHS1");
constexpr int HeaderSize = 8 + 4;
constexpr quint32 MaxPayload = 16 * 1024 * 1024;
constexpr char Taken = 'k';
constexpr int RequestTimeoutMs = 5000;

} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent), m_name(name.isEmpty() ? defaultName() : name)
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    const QString fromEnvironment = qEnvironmentVariable("WAVETRANSMUTER_INSTANCE_NAME");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString base = QStringLiteral("wavetransmuter-%1").arg(::getuid());
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? base : runtime + QLatin1Char('/') + base;
}

bool SingleInstance::handOver(const QStringList &paths, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray payload;
    for (const QString &path : paths)
        payload += QFile::encodeName(path) + '\0';
    if (quint32(payload.size()) > MaxPayload)
        return false;
    QByteArray request = Magic;
    request.resize(HeaderSize);
    qToBigEndian(quint32(payload.size()), request.data() + Magic.size());
    socket.write(request + payload);
    // The answer comes once the running program holds the paths; without it they
    // may be lost, and this start carries on by itself.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == Taken;
}

bool SingleInstance::listen()
{
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    }
    if (m_server->isListening())
        return true;
    // Starts at the same moment take turns here, so that only one of them serves;
    // QLockFile takes over a lock whose owner has died.
    const QString socketPath =
        QDir::isAbsolutePath(m_name) ? m_name : QDir::temp().filePath(m_name);
    QLockFile lock(socketPath + QStringLiteral(".lock"));
    lock.tryLock(2000); // without the lock, carry on all the same
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(1000))
        return false;
    // Nobody answers: what is left is the socket file of a program that died.
    QLocalServer::removeServer(m_name);
    return m_server->listen(m_name);
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A client that never finishes its request does not hold a socket for ever.
        QTimer::singleShot(RequestTimeoutMs, socket, [socket] { socket->abort(); });
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    if (socket->bytesAvailable() < HeaderSize)
        return;
    const QByteArray header = socket->peek(HeaderSize);
    const quint32 length = qFromBigEndian<quint32>(header.constData() + Magic.size());
    if (!header.startsWith(Magic) || length > MaxPayload) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < HeaderSize + qint64(length))
        return;
    socket->skip(HeaderSize);
    const QByteArray payload = socket->read(length);
    QStringList paths;
    for (const QByteArray &path : payload.split('\0')) {
        if (!path.isEmpty())
            paths << QFile::decodeName(path);
    }
    socket->putChar(Taken);
    socket->flush();
    socket->disconnectFromServer();
    emit pathsReceived(paths);
}
