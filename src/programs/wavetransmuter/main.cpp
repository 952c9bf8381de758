#include "gui/app/tmainform.h"
#include "gui/dialogs/tdirform.h"
#include "gui/dialogs/tid3form.h"
#include "gui/dialogs/tsetform.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStyle>

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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // No display name: Qt would append it to every caption (" — Wavetransmuter"), and the
    // windows keep their own bare names.
    QApplication::setApplicationName(QStringLiteral("Wavetransmuter"));
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
    mainForm.show();
    return app.exec();
}
