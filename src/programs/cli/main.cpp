#include "core/convert/outputfile.h"
#include "core/joblist/rawnamelinks.h"
#include "programs/cli/clioptions.h"
#include "programs/cli/clisession.h"

#include <QByteArrayView>
#include <QCoreApplication>

#include <cstdio>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Qt decodes the arguments as UTF-8, lossily: an existing file or folder whose name is
// not valid UTF-8 is given to the rest of the program as a link with a valid name.
void reachRawNames(int argc, char *argv[], RawNameLinks &links, std::vector<QByteArray> &keep)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        struct stat st;
        if (QByteArrayView(argument).isValidUtf8() || ::lstat(argv[i], &st) != 0)
            continue;
        QByteArray absolute = argument;
        if (!absolute.startsWith('/')) {
            char cwd[4096];
            if (!::getcwd(cwd, sizeof cwd))
                continue;
            absolute = QByteArray(cwd) + '/' + argument;
        }
        const QString link = links.linkTo(absolute);
        if (link.isEmpty())
            continue;
        keep.push_back(link.toUtf8());
        argv[i] = keep.back().data();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything writes: a tag append past `ulimit -f` must fail, not kill us.
    IgnoreFileSizeLimitSignal();
    RawNameLinks links;
    std::vector<QByteArray> linkArguments;
    linkArguments.reserve(size_t(argc));
    reachRawNames(argc, argv, links, linkArguments);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Wavetransmuter"));

    CliOptions options;
    QString error;
    switch (CliOptions::parse(QCoreApplication::arguments(), options, error)) {
    case CliOptions::Parse::Help:
        std::fputs(CliOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CliOptions::Parse::Version:
        std::fputs(CliOptions::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CliOptions::Parse::ListFormats:
        std::fputs(CliOptions::formatListText().toLocal8Bit().constData(), stdout);
        return 0;
    case CliOptions::Parse::Error:
        std::fprintf(stderr, "wavetransmuter-cli: %s\nTry 'wavetransmuter-cli --help'.\n",
                     error.toLocal8Bit().constData());
        return 2;
    case CliOptions::Parse::Run:
        break;
    }
    CliSession session(options, &links);
    return session.run();
}
