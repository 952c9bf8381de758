#pragma once

#include <QByteArray>
#include <QDialog>

class JobListModel;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
struct ID3info;

// The tag editor over the job list. Fields are stored into the selected entry as
// each control loses the focus; the title is edited in the working copy EditTitle
// and becomes the entry's Title only with "Ok". A field the user did not change keeps
// its bytes, so opening the editor never rewrites a tag that is not UTF-8. A field the user
// empties (or gives to all empty) is recorded as cleared, so the output's tag loses it
// rather than taking the source's value.
class TID3Form : public QDialog
{
    Q_OBJECT
public:
    explicit TID3Form(QWidget *parent = nullptr);

    void setModel(JobListModel *model);
    JobListModel *model() const { return m_model; }
    // The row the next showing selects and fills the fields from (row 0 by default).
    void setStartRow(int row) { m_startRow = row; }

    // The genre names; the owner fills it once so that a position is a genre number.
    QComboBox *ComboBox1;

public slots:
    void FormShow();
    void ListView1Click();
    void Edit1Exit();
    void Edit2Exit();
    void Edit3Exit();
    void Edit4Exit();
    void ComboBox1Exit();
    void Memo1Exit();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    // The close box and Escape end here too: they do what "Cancel" does, which stores
    // the field being typed because the button takes the focus first.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Field
    {
        TitleField,
        ArtistField,
        AlbumField,
        YearField,
        CommentField,
        FieldCount
    };

    int selectedRow() const;
    int entryCount() const;
    void showEntry(int row);
    void setCaption(int row, const QByteArray &title);
    QString fieldText(Field field) const;
    static QByteArray &fieldOf(ID3info &entry, Field field);
    // Records in the entry whether the user emptied the field (ID3info::Cleared); true when
    // that changed.
    static bool setCleared(ID3info &entry, Field field, bool cleared);
    bool isEdited(Field field) const;
    // The bytes to store for a field's text where `current` is stored now.
    QByteArray bytesFor(Field field, const QString &text, const QByteArray &current,
                        bool trim) const;
    void storeField(Field field, bool trim);
    void storeFieldInAll(Field field);
    // Runs the exit handler of the field, if it is one.
    void fieldExit(const QObject *field);

    JobListModel *m_model = nullptr;
    int m_startRow = 0;
    // The bytes each field was last filled with, so that an unchanged text keeps them
    // even where it lands in another entry.
    QByteArray m_shown[FieldCount];
    QByteArray m_shownGenreName;

    QFrame *Panel1;
    QTableWidget *ListView1;
    QFrame *Panel2;
    QFrame *Panel3;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QLineEdit *Edit1;
    QLineEdit *Edit2;
    QLineEdit *Edit3;
    QLineEdit *Edit4;
    QPlainTextEdit *Memo1;
    QPushButton *Button1;
    QPushButton *Button2;
    QPushButton *Button3;
    QPushButton *Button4;
    QPushButton *Button5;
    QPushButton *Button6;
    QPushButton *Button7;
    QPushButton *Button8;
    QPushButton *Button9;
};
