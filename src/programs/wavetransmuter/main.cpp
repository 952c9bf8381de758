#include "core/convert/outputfile.h"
#include "gui/app/singleinstance.h"
#include "gui/app/tmainform.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QPalette>
#include <QStyle>

#include <cstdio>

namespace {

// The dialogs and message boxes wear the skin's colours, so that the program reads as one.
void useSkinColours()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette p;
    const QColor body(0x2c, 0x29, 0x26), field(0x1b, 0x19, 0x17), text(0xec, 0xe5, 0xda);
    const QColor accent(0x24, 0x79, 0x6d), dim(0x7a, 0x73, 0x6a);
    p.setColor(QPalette::Window, body);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, field);
    p.setColor(QPalette::AlternateBase, QColor(0x22, 0x20, 0x1d));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x36, 0x32));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, field);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Link, QColor(0x3c, 0xc7, 0xb1));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Disabled, QPalette::Base, body);
    QApplication::setPalette(p);
}

void describe(QCommandLineParser &parser)
{
    QCoreApplication::setApplicationName(QStringLiteral("Wavetransmuter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(WT_VERSION));
    parser.setApplicationDescription(
        QStringLiteral("Converts batches of audio and video files with ffmpeg. The files\n"
                       "given, and the media files directly inside the folders given, are\n"
                       "added to the list; when the program runs already, its window takes\n"
                       "them and comes forward."));
    parser.addPositionalArgument(QStringLiteral("paths"),
                                 QStringLiteral("Files and folders to add to the list."),
                                 QStringLiteral("[FILE|FOLDER...]"));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version answer without a display.
bool asksOnlyForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            return false;
        for (const char *text : {"-h", "--help", "--help-all", "-?", "-v", "--version"}) {
            if (arg == text)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    IgnoreFileSizeLimitSignal();
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(app); // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);
    QStringList paths;
    for (const QString &arg : parser.positionalArguments()) {
        const QFileInfo info(arg);
        if (!info.exists())
            std::fprintf(stderr, "wavetransmuter: %s: no such file or folder\n",
                         arg.toLocal8Bit().constData());
        else
            paths << info.absoluteFilePath(); // the running window has another folder
    }

    // A running program takes the paths; this one then has nothing to do.
    SingleInstance instance;
    if (instance.handOver(paths))
        return 0;
    if (!instance.listen() && instance.handOver(paths))
        return 0; // another start got there first

    // No application display name: Qt would append it to every caption
    // (" — Wavetransmuter"), and the windows keep their own bare names.
    useSkinColours();
    QApplication::setDesktopFileName(QStringLiteral("wavetransmuter"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("wavetransmuter"),
                                                 QIcon(QStringLiteral(":/wavetransmuter.svg"))));

    // The four windows, in the order the program has always made them.
    TMainForm mainForm;
    auto *id3Form = new TID3Form(&mainForm);
    auto *dirForm = new TdirForm(&mainForm);
    auto *setForm = new TSetForm(mainForm.settingsStore(), dirForm, &mainForm);
    mainForm.setDialogs(id3Form, dirForm, setForm);
    QObject::connect(&instance, &SingleInstance::pathsReceived, &mainForm,
                     [&mainForm](const QStringList &received) {
                         mainForm.addPathsFromOutside(received);
                         mainForm.setWindowState(mainForm.windowState() & ~Qt::WindowMinimized);
                         mainForm.raise();
                         mainForm.activateWindow();
                     });
    mainForm.addPathsFromOutside(paths); // they wait for the first show
    mainForm.show();
    return app.exec();
}
