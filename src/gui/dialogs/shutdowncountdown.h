#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

// Asked before the "Shutdown" end action: the computer shuts down when the countdown
// runs out or with "Shut down now" (accepted), and stays on with "Cancel", Escape or the
// close box (rejected). A user who stepped away gets the shutdown; one at the screen
// can still save other work or change their mind.
class ShutdownCountdown : public QDialog
{
    Q_OBJECT
public:
    explicit ShutdownCountdown(int seconds, QWidget *parent = nullptr);

    int secondsLeft() const { return m_left; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void tick();
    void showText();

    QLabel *Label1;
    QPushButton *Button1; // "Shut down now"
    QPushButton *Button2; // "Cancel"
    QTimer m_timer;
    int m_left;
};
