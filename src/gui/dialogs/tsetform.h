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
class QSpinBox;
class SettingsStore;
class TdirForm;

// The settings dialog: the output folder, the action after a finished batch and how many
// conversions run at once. Every change takes effect at once; there is no OK or Cancel.
// The window owns OutputDir, FinishAction and the number of jobs: it hands them over in
// prepare() before each showing and takes changes from the signals.
class TSetForm : public QDialog
{
    Q_OBJECT
public:
    TSetForm(SettingsStore *store, TdirForm *dirForm, QWidget *parent = nullptr);

    // Fills the dialog before it is shown. While a batch runs the path box is
    // greyed; a folder chosen meanwhile applies to the jobs that start later.
    // `jobs` applies from the next batch on, also when changed while one runs.
    void prepare(const QString &outputDir, EndAction finishAction, bool batchRunning, int jobs = 1);
    void setBatchRunning(bool running);
    // How "Open" shows a folder; by default the desktop's file manager.
    void setOpenFolderHandler(std::function<void(const QString &)> handler);

signals:
    // Only once the folder is in the settings file.
    void outputDirChanged(const QString &dir);
    void finishActionChanged(EndAction action);
    // Only once the number is in the settings file.
    void jobsChanged(int jobs);

public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void Button3Click();
    void Button4Click();

private:
    void setFinishAction(EndAction action);
    void SpinBox1Change(int jobs);

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
    QGroupBox *GroupBox3;
    QLabel *Label2;
    QSpinBox *SpinBox1;
};
