#pragma once

// Helpers for the widget tests (header-only: the core tests link no widgets).

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs `action` on the next visible modal window other than `except`, from inside
// whatever modal loop is running by then.
inline void whenModal(std::function<void(QWidget *)> action, QWidget *except = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action, except] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == except || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

// With WT_SCREENSHOT_DIR set, saves a picture of the shown window there.
inline void saveShot(QWidget *window, const QString &name)
{
    const QString dir = qEnvironmentVariable("WT_SCREENSHOT_DIR");
    if (!dir.isEmpty() && QTest::qWaitForWindowExposed(window) && QDir().mkpath(dir))
        window->grab().save(QDir(dir).filePath(name));
}
