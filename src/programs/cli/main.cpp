#include "programs/cli/clioptions.h"
#include "programs/cli/clisession.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
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
    CliSession session(options);
    return session.run();
}
