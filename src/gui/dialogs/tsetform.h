#pragma once

#include "core/convert/conversionoptions.h"
#include "core/convert/outputnaming.h"
#include "core/session/endaction.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class SettingsStore;
class TdirForm;

// The settings dialog: the output folder, the action after a finished batch, how many
// conversions run at once, how outputs are named and what they take from their sources.
// Every change takes effect at once; there is no OK or Cancel. The window owns OutputDir,
// FinishAction, the number of jobs, the naming and the tag options: it hands them over in
// prepare(), setNaming() and setTagOptions() before each showing and takes changes from the
// signals.
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
    void setNaming(const NamingOptions &naming);
    void setTagOptions(const TagOptions &tags);
    // The path the first row would get with these options and output folder, for the live
    // example below the pattern; the dialog shows it as it is typed.
    void setExampleProvider(std::function<QString(const QString &, const NamingOptions &)> f);
    // How "Open" shows a folder; by default the desktop's file manager.
    void setOpenFolderHandler(std::function<void(const QString &)> handler);
    // A pattern still being typed is taken when the dialog is left.
    void done(int result) override;

signals:
    // Only once the folder is in the settings file.
    void outputDirChanged(const QString &dir);
    void finishActionChanged(EndAction action);
    // Only once the number is in the settings file.
    void jobsChanged(int jobs);
    // Only once the options are in the settings file; a pattern that cannot name outputs
    // (an unknown field, an open brace) is not taken.
    void namingChanged(const NamingOptions &naming);
    // Only once the options are in the settings file.
    void tagOptionsChanged(const TagOptions &tags);

public slots:
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void Button3Click();
    void Button4Click();

private:
    void setFinishAction(EndAction action);
    // The naming the controls show; its pattern may have a problem.
    NamingOptions shownNaming() const;
    void showExample();
    // Stores and announces the shown naming when it is usable and new.
    void takeNaming();
    void SpinBox1Change(int jobs);
    // Stores and announces what the two boxes show.
    void takeTagOptions();

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
    QGroupBox *GroupBox4;
    QLabel *Label3;
    QLineEdit *Edit2; // the naming pattern
    QLabel *Label4;   // the live example, or what is wrong with the pattern
    QCheckBox *CheckBox1;
    QLabel *Label5;
    QComboBox *ComboBox1; // what happens to an output already there
    QGroupBox *GroupBox5;
    QCheckBox *CheckBox2; // keep the source's modification time
    QCheckBox *CheckBox3; // front cover from the folder

    NamingOptions m_naming; // the one taken last
    TagOptions m_tags;      // the ones taken last
    std::function<QString(const QString &, const NamingOptions &)> m_example;
};
