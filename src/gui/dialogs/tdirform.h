#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QPushButton;
class QTreeView;

// The folder picker: a tree of the file system's folders. The caller sets the
// caption, runs exec() and reads PickedFolder(). The tree keeps its selection from
// one showing to the next; the first showing has the home folder selected.
class TdirForm : public QDialog
{
    Q_OBJECT
public:
    explicit TdirForm(QWidget *parent = nullptr);

    // The folder chosen with "Ok" at the last showing; empty after "Cancel", the
    // close box or Escape, or when no folder was selected.
    QString PickedFolder() const { return m_pickedFolder; }

public slots:
    void Button1Click();
    void Button2Click();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString selectedFolder() const;

    QFileSystemModel *m_model;
    QTreeView *ShellTreeView1;
    QPushButton *Button1;
    QPushButton *Button2;
    QString m_pickedFolder;
    bool m_shownBefore = false;
};
