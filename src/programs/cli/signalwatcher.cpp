#include "programs/cli/signalwatcher.h"

#include <QSocketNotifier>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler can reach nothing but these: a signal handler has no object to go to.
int g_signalSocket[2] = {-1, -1};
volatile sig_atomic_t g_stopRequested = 0;

constexpr int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int signalNumber)
{
    g_stopRequested = 1;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
}

void onBrokenPipe(int) {}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent)
{
    // Non-blocking: a burst of signals must never block the handler.
    if (g_signalSocket[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : WatchedSignals)
        ::sigaction(s, &action, nullptr);
    action.sa_handler = onBrokenPipe;
    ::sigaction(SIGPIPE, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    if (!m_notifier)
        return;
    for (int s : WatchedSignals)
        ::signal(s, SIG_DFL);
    // Still no death by SIGPIPE while the program writes its last lines.
    ::signal(SIGPIPE, SIG_IGN);
    ::close(g_signalSocket[0]);
    ::close(g_signalSocket[1]);
    g_signalSocket[0] = g_signalSocket[1] = -1;
}

bool SignalWatcher::stopRequested()
{
    return g_stopRequested != 0;
}

void SignalWatcher::readSignal()
{
    unsigned char byte = 0;
    while (::read(g_signalSocket[1], &byte, 1) == 1)
        emit received(byte);
}
