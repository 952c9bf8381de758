#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QFileIconProvider;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

// The folder picker: a tree of the file system's folders, and a path field that follows
// the selection and takes a typed or pasted path. The caller sets the caption, runs
// exec() and reads PickedFolder(). The tree keeps its selection from one showing to the
// next; the first showing has the home folder selected and in view.
class TdirForm : public QDialog
{
    Q_OBJECT
public:
    explicit TdirForm(QWidget *parent = nullptr);
    ~TdirForm() override;

    // The folder chosen with "Ok" at the last showing; empty after "Cancel", the
    // close box or Escape, or when no folder was selected.
    QString PickedFolder() const { return m_pickedFolder; }

    // "Add folder" shows the "Include subfolders" switch, checked as given; other callers
    // leave it hidden. includeSubfolders() is its state when the picker closed.
    void setSubfolderChoice(bool shown, bool checked = false);
    bool includeSubfolders() const;

public slots:
    void Button1Click();
    void Button2Click();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString selectedFolder() const;
    // The typed path as an absolute folder path ("~" is the home folder), empty when it
    // names no existing folder.
    QString typedFolder() const;
    void goToTypedFolder();
    void showFolder(const QString &path);
    void scrollToCurrent();

    // The model does not own its icon provider; it goes first, then the provider.
    std::unique_ptr<QFileIconProvider> m_iconProvider;
    QFileSystemModel *m_model;
    QTreeView *ShellTreeView1;
    QLabel *PathLabel;
    QLineEdit *PathEdit;
    QCheckBox *HiddenCheck;
    QCheckBox *SubfoldersCheck;
    QPushButton *Button1;
    QPushButton *Button2;
    QString m_pickedFolder;
    bool m_shownBefore = false;
};
