#include "gui/dialogs/shutdowncountdown.h"

#include "gui/layoutscale.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

ShutdownCountdown::ShutdownCountdown(int seconds, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Label1(new QLabel(this)), Button1(new QPushButton(QStringLiteral("Shut down now"), this)),
      Button2(new QPushButton(QStringLiteral("Cancel"), this)), m_left(std::max(0, seconds))
{
    setObjectName(QStringLiteral("ShutdownForm"));
    setWindowTitle(QStringLiteral("Shutdown"));
    const LayoutScale s(font());
    setFixedSize(s(300), s(104));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(s.rect(16, 14, 268, 40));
    Label1->setWordWrap(true);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(s.rect(92, 66, 100, 25));
    Button1->setAutoDefault(false);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(s.rect(200, 66, 84, 25));
    // Enter keeps the computer on: only a deliberate choice shuts it down early.
    Button2->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ShutdownCountdown::tick);
    connect(this, &QDialog::finished, &m_timer, &QTimer::stop);
    showText();
}

void ShutdownCountdown::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    Button2->setFocus();
    if (m_left == 0)
        QTimer::singleShot(0, this, &QDialog::accept);
    else
        m_timer.start();
}

void ShutdownCountdown::tick()
{
    if (m_left > 0)
        --m_left;
    showText();
    if (m_left == 0)
        accept();
}

void ShutdownCountdown::showText()
{
    Label1->setText(QStringLiteral("The conversion has finished. The computer shuts down in "
                                   "%1 second%2.")
                        .arg(m_left)
                        .arg(m_left == 1 ? QString() : QStringLiteral("s")));
}
