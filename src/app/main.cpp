#include "app/tmainform.h"
#include "settings/tdirform.h"
#include "settings/tsetform.h"
#include "tags/tid3form.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wavetransmuter"));
    QApplication::setApplicationDisplayName(QStringLiteral("Wavetransmuter"));
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
