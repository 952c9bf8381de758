#pragma once

#include "core/convert/endaction.h"

#include <QDialog>
#include <QString>

#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class SettingsStore;
class TdirForm;

// The settings dialog: the output folder and the action after a finished batch.
// Every change takes effect at once; there is no OK or Cancel. The window owns
// OutputDir and FinishAction: it hands them over in prepare() before each showing
// and takes changes from the two signals.
class TSetForm : public QDialog
{
    Q_OBJECT
public:
    TSetForm(SettingsStore *store, TdirForm *dirForm, QWidget *parent = nullptr);

    // Fills the dialog before it is shown. While a batch runs the path box is
    // greyed; a folder chosen meanwhile applies to the jobs that start later.
    void prepare(const QString &outputDir, EndAction finishAction, bool batchRunning);
    void setBatchRunning(bool running);
    // How "Open" shows a folder; by default the desktop's file manager.
    void setOpenFolderHandler(std::function<void(const QString &)> handler);

signals:
    // Only once the folder is in the settings file.
    void outputDirChanged(const QString &dir);
    void finishActionChanged(EndAction action);

public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void Button3Click();
    void Button4Click();

private:
    void setFinishAction(EndAction action);

    SettingsStore *m_store;
    TdirForm *m_dirForm;
    std::function<void(const QString &)> m_openFolder;
    bool m_filling = false;

    QGroupBox *GroupBox1;
    QLabel *Label1;
    QLineEdit *Edit1;
    QPushButton *Button3;
    QPushButton *Button4;
    QGroupBox *GroupBox2;
    QRadioButton *RadioButton1;
    QRadioButton *RadioButton2;
    QRadioButton *RadioButton3;
};
