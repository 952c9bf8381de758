#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One desktop program per user: a later start hands its paths to the running one
// over a local socket (only the user may connect) and ends, so that "Open with" on
// many files, or a second click on the menu entry, gives one window.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // `name` is the socket: a full path, or a name in the temporary folder; empty
    // means defaultName().
    explicit SingleInstance(const QString &name = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // $WAVETRANSMUTER_INSTANCE_NAME when set (tests use their own), else a name
    // with the user's id in the user's runtime folder.
    static QString defaultName();
    QString name() const { return m_name; }

    // Gives the paths to the running program; true once it has confirmed them.
    bool handOver(const QStringList &paths, int timeoutMs = 3000);
    // Becomes the program that later starts hand over to. A socket left behind by a
    // program that crashed is removed first. False when another program answers on
    // the name, or the socket cannot be made.
    bool listen();
    bool isListening() const;

signals:
    // From a later start; the list may be empty (the window should come forward).
    void pathsReceived(const QStringList &paths);

private:
    void onNewConnection();
    void readRequest(QLocalSocket *socket);

    QString m_name;
    QLocalServer *m_server = nullptr;
};
