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
// next; the first showing has the home folder selected and in view, unless the caller
// gives a folder to start at. "New folder" makes a folder under the selected one; a typed
// folder that does not exist is made when the user agrees.
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

    // Selects folder and brings it into view, for this or the next showing: the nearest
    // folder above it that exists when it does not. An empty path changes nothing.
    void setStartFolder(const QString &folder);

public slots:
    void Button1Click();
    void Button2Click();
    // Asks for a name and makes a folder of that name under the selected one.
    void NewFolderClick();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString selectedFolder() const;
    // The typed path as an absolute, clean path ("~" is the home folder); empty when nothing
    // is typed.
    QString typedPath() const;
    // The typed path when it names an existing folder, else empty.
    QString typedFolder() const;
    // Offers to make the typed folder that does not exist; true when it is there now.
    bool offerToMake(const QString &path);
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
    QPushButton *NewFolderButton;
    QPushButton *Button1;
    QPushButton *Button2;
    QString m_pickedFolder;
    // While the folder to start at (or the home folder) is still being listed, each folder
    // on the way down that comes in moves it, so it is scrolled to again.
    bool m_followLoading = true;
};
