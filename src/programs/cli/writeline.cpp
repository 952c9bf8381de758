#include "programs/cli/writeline.h"

#include "programs/cli/signalwatcher.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

int WriteLine(int fd, const QByteArray &text)
{
    // Stopping: the last lines go only where they can go at once. A pipe that takes any is
    // said to take a line of up to PIPE_BUF bytes whole.
    if (SignalWatcher::stopRequested()) {
        pollfd ready = {fd, POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
            return EAGAIN;
    }
    const QByteArray bytes = text + '\n';
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR && !SignalWatcher::stopRequested())
            continue;
        return n < 0 ? errno : EIO;
    }
    return 0;
}
