#include "gui/dialogs/tid3form.h"

#include "core/joblist/joblistmodel.h"
#include "core/tags/tagtext.h"
#include "gui/dropdownlist.h"
#include "gui/layoutscale.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>

#include <algorithm>

namespace {

// The genre's name among the fields cleared in an entry (ID3info::Cleared).
const QString GenreKey = QStringLiteral("GENRE");

bool isBlank(uint code)
{
    return code <= 32;
}

// Codes 0 to 32 off both ends.
QString trimmedText(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin).unicode()))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1).unicode()))
        --end;
    return text.mid(begin, end - begin);
}

// The same on bytes. Bytes 0 to 32 are whole characters in UTF-8 and in ISO-8859-1
// alike, so this matches trimmedText() on the decoded text.
QByteArray trimmedBytes(const QByteArray &bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(quint8(bytes.at(begin))))
        ++begin;
    while (end > begin && isBlank(quint8(bytes.at(end - 1))))
        --end;
    return bytes.mid(begin, end - begin);
}

QPushButton *makeButton(const QString &text, const QString &name, QWidget *parent,
                        const QRect &geometry)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    // Never default: Enter presses nothing. A click takes the focus, so the field
    // being edited is stored before the button acts.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QLabel *makeLabel(const QString &text, const QString &name, QWidget *parent, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    // Wider where the font needs it: the fields start well to the right.
    label->setGeometry(QRect(geometry.topLeft(), geometry.size().expandedTo(label->sizeHint())));
    return label;
}

QLineEdit *makeEdit(const QString &name, QWidget *parent, const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    return edit;
}

} // namespace

TID3Form::TID3Form(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ID3Form"));
    setWindowTitle(QStringLiteral("ID3 Edit"));

    const LayoutScale s(font());
    setFixedSize(s(425), s(297));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(s.rect(0, 0, 137, 297));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    ListView1 = new QTableWidget(0, 1, Panel1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(s.rect(1, 1, 135, 295));
    ListView1->setHorizontalHeaderLabels({QStringLiteral("File Name")});
    ListView1->setShowGrid(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setWordWrap(false);
    ListView1->setTabKeyNavigation(false); // Tab leaves the list for the fields
    ListView1->setCornerButtonEnabled(false);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + s(4));
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->setColumnWidth(0, s(130));
    ListView1->viewport()->installEventFilter(this);
    connect(ListView1, &QTableWidget::clicked, this, &TID3Form::ListView1Click);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(s.rect(137, 0, 288, 297));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);

    Panel3 = new QFrame(Panel2);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(s.rect(1, 1, 286, 240));
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    Label1 = makeLabel(QStringLiteral("Title:"), QStringLiteral("Label1"), Panel3,
                       s.rect(24, 16, 23, 13));
    Edit1 = makeEdit(QStringLiteral("Edit1"), Panel3, s.rect(80, 11, 145, 21));
    Button1 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button1"), Panel3,
                         s.rect(236, 10, 36, 20));
    Label2 = makeLabel(QStringLiteral("Artist:"), QStringLiteral("Label2"), Panel3,
                       s.rect(24, 49, 26, 13));
    Edit2 = makeEdit(QStringLiteral("Edit2"), Panel3, s.rect(80, 44, 145, 21));
    Button2 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button2"), Panel3,
                         s.rect(236, 44, 36, 20));
    Label3 = makeLabel(QStringLiteral("Alburm:"), QStringLiteral("Label3"), Panel3,
                       s.rect(24, 83, 35, 13));
    Edit3 = makeEdit(QStringLiteral("Edit3"), Panel3, s.rect(80, 79, 145, 21));
    Button3 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button3"), Panel3,
                         s.rect(236, 78, 36, 20));
    Label4 = makeLabel(QStringLiteral("Year:"), QStringLiteral("Label4"), Panel3,
                       s.rect(24, 116, 25, 13));
    Edit4 = makeEdit(QStringLiteral("Edit4"), Panel3, s.rect(80, 111, 145, 21));
    Button4 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button4"), Panel3,
                         s.rect(236, 112, 36, 20));
    Label5 = makeLabel(QStringLiteral("Genre:"), QStringLiteral("Label5"), Panel3,
                       s.rect(24, 150, 32, 13));
    ComboBox1 = new DropDownList(Panel3);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(s.rect(80, 144, 145, 21));
    ComboBox1->setMaxVisibleItems(12);
    Button5 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button5"), Panel3,
                         s.rect(236, 144, 36, 20));
    Label6 = makeLabel(QStringLiteral("Comment:"), QStringLiteral("Label6"), Panel3,
                       s.rect(24, 183, 47, 13));
    Memo1 = new QPlainTextEdit(Panel3);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(s.rect(80, 181, 145, 44));
    Memo1->setTabChangesFocus(true);
    Button6 = makeButton(QStringLiteral("ALL"), QStringLiteral("Button6"), Panel3,
                         s.rect(236, 179, 36, 20));

    Button9 = makeButton(QStringLiteral("Reste"), QStringLiteral("Button9"), Panel2,
                         s.rect(16, 256, 75, 25));
    Button7 = makeButton(QStringLiteral("Ok"), QStringLiteral("Button7"), Panel2,
                         s.rect(104, 256, 75, 25));
    Button8 = makeButton(QStringLiteral("Cancel"), QStringLiteral("Button8"), Panel2,
                         s.rect(192, 256, 75, 25));

    setTabOrder(ListView1, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);
    setTabOrder(Edit4, ComboBox1);
    setTabOrder(ComboBox1, Memo1);
    setTabOrder(Memo1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, Button5);
    setTabOrder(Button5, Button6);
    setTabOrder(Button6, Button7);
    setTabOrder(Button7, Button8);
    setTabOrder(Button8, Button9);

    for (QWidget *field : {static_cast<QWidget *>(Edit1), static_cast<QWidget *>(Edit2),
                           static_cast<QWidget *>(Edit3), static_cast<QWidget *>(Edit4),
                           static_cast<QWidget *>(ComboBox1), static_cast<QWidget *>(Memo1)})
        field->installEventFilter(this);

    connect(Button1, &QPushButton::clicked, this, &TID3Form::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TID3Form::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TID3Form::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TID3Form::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TID3Form::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TID3Form::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TID3Form::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &TID3Form::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TID3Form::Button9Click);
}

void TID3Form::setModel(JobListModel *model)
{
    m_model = model;
}

int TID3Form::entryCount() const
{
    // The list is rebuilt at each show; the model should not change while the dialog
    // is open, but a row that went away must not be written.
    if (!m_model)
        return 0;
    return std::min(ListView1->rowCount(), m_model->rowCount());
}

int TID3Form::selectedRow() const
{
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    const int row = rows.first().row();
    return row < entryCount() ? row : -1;
}

void TID3Form::setCaption(int row, const QByteArray &title)
{
    if (QTableWidgetItem *item = ListView1->item(row, 0))
        item->setText(TagTextToDisplay(title));
}

QByteArray &TID3Form::fieldOf(ID3info &entry, Field field)
{
    switch (field) {
    case TitleField:
        return entry.EditTitle;
    case ArtistField:
        return entry.Artist;
    case AlbumField:
        return entry.Album;
    case YearField:
        return entry.Year;
    case CommentField:
    case FieldCount:
        break;
    }
    return entry.Comment;
}

bool TID3Form::setCleared(ID3info &entry, Field field, bool cleared)
{
    static const QString names[FieldCount] = {QStringLiteral("TITLE"), QStringLiteral("ARTIST"),
                                              QStringLiteral("ALBUM"), QStringLiteral("DATE"),
                                              QStringLiteral("COMMENT")};
    const QString &name = names[field];
    if (cleared == entry.Cleared.contains(name))
        return false;
    if (cleared)
        entry.Cleared.insert(name);
    else
        entry.Cleared.remove(name);
    return true;
}

QString TID3Form::fieldText(Field field) const
{
    switch (field) {
    case TitleField:
        return Edit1->text();
    case ArtistField:
        return Edit2->text();
    case AlbumField:
        return Edit3->text();
    case YearField:
        return Edit4->text();
    case CommentField:
    case FieldCount:
        break;
    }
    return Memo1->toPlainText();
}

void TID3Form::showEntry(int row)
{
    const ID3info &entry = m_model->entry(row);
    m_shown[TitleField] = entry.EditTitle;
    m_shown[ArtistField] = entry.Artist;
    m_shown[AlbumField] = entry.Album;
    m_shown[YearField] = entry.Year;
    m_shown[CommentField] = entry.Comment;
    Edit1->setText(TagTextToDisplay(entry.EditTitle));
    Edit2->setText(TagTextToDisplay(entry.Artist));
    Edit3->setText(TagTextToDisplay(entry.Album));
    Edit4->setText(TagTextToDisplay(entry.Year));
    for (QLineEdit *edit : {Edit1, Edit2, Edit3, Edit4})
        edit->setCursorPosition(0);
    ComboBox1->setCurrentIndex(entry.Genre < ComboBox1->count() ? int(entry.Genre) : -1);
    Memo1->setPlainText(TagTextToDisplay(entry.Comment));
    Memo1->document()->setModified(false);
}

bool TID3Form::isEdited(Field field) const
{
    switch (field) {
    case TitleField:
        return Edit1->isModified();
    case ArtistField:
        return Edit2->isModified();
    case AlbumField:
        return Edit3->isModified();
    case YearField:
        return Edit4->isModified();
    case CommentField:
    case FieldCount:
        break;
    }
    return Memo1->document()->isModified();
}

QByteArray TID3Form::bytesFor(Field field, const QString &text, const QByteArray &current,
                              bool trim) const
{
    if (TagTextToDisplay(current) == text)
        return current;
    const QString wanted = trim ? trimmedText(text) : text;
    // Bytes already there or shown whose text this is keep their encoding.
    for (const QByteArray &candidate : {current, m_shown[field]}) {
        const QByteArray bytes = trim ? trimmedBytes(candidate) : candidate;
        if (TagTextToDisplay(bytes) == wanted)
            return bytes;
    }
    return DisplayToTagText(wanted);
}

void TID3Form::storeField(Field field, bool trim)
{
    const int row = selectedRow();
    if (row < 0)
        return;
    ID3info entry = m_model->entry(row);
    QByteArray &stored = fieldOf(entry, field);
    QByteArray value;
    const bool edited = isEdited(field);
    if (edited)
        value = bytesFor(field, fieldText(field), stored, trim);
    else if (m_shown[field] == stored)
        value = stored;
    else // filled from another row: carry its bytes over, cut as a typed text would be
        value = trim ? trimmedBytes(m_shown[field]) : m_shown[field];
    bool changed = value != stored;
    // Emptied by the user, the field is cleared in the output's tag too, not filled from the
    // source's; given a text again, it is not.
    if (edited || !value.isEmpty())
        changed = setCleared(entry, field, value.isEmpty()) || changed;
    if (changed) {
        stored = value;
        m_model->setEntry(row, entry);
    }
    if (field == TitleField)
        setCaption(row, value);
}

void TID3Form::storeFieldInAll(Field field)
{
    const int count = entryCount();
    if (count == 0)
        return;
    const bool edited = isEdited(field);
    const QString text = fieldText(field);
    for (int row = 0; row < count; ++row) {
        ID3info entry = m_model->entry(row);
        QByteArray &stored = fieldOf(entry, field);
        QByteArray value = m_shown[field];
        if (edited)
            value = bytesFor(field, text, stored, false);
        else if (TagTextToDisplay(stored) == TagTextToDisplay(value))
            value = stored;
        // An empty field given to all clears it in every output's tag.
        const bool clearedNow = setCleared(entry, field, value.isEmpty());
        if (value == stored && !clearedNow)
            continue;
        stored = value;
        m_model->setEntry(row, entry);
    }
}

void TID3Form::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

bool TID3Form::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        // Only a focus move inside the dialog ends an edit, not a menu, a drop-down
        // or another window coming to the front.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            fieldExit(watched);
    } else if (event->type() == QEvent::MouseButtonPress && watched == ListView1->viewport()) {
        // A click below the last row leaves no row selected.
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (!ListView1->indexAt(mouse->position().toPoint()).isValid())
            ListView1->clearSelection();
    }
    return QDialog::eventFilter(watched, event);
}

void TID3Form::FormShow()
{
    ListView1->clearContents();
    const int count = m_model ? m_model->rowCount() : 0;
    ListView1->setRowCount(count);
    for (int row = 0; row < count; ++row)
        ListView1->setItem(row, 0,
                           new QTableWidgetItem(TagTextToDisplay(m_model->entry(row).Title)));
    ListView1->setFocus();
    const int start = std::clamp(m_startRow, 0, std::max(0, count - 1));
    m_startRow = 0;
    if (count == 0)
        return;
    ListView1->setCurrentCell(start, 0);
    ListView1->selectRow(start);
    ListView1->scrollTo(ListView1->model()->index(start, 0));
    showEntry(start);
}

void TID3Form::ListView1Click()
{
    const int row = selectedRow();
    if (row >= 0)
        showEntry(row);
}

void TID3Form::Edit1Exit()
{
    storeField(TitleField, true);
}

void TID3Form::Edit2Exit()
{
    storeField(ArtistField, true);
}

void TID3Form::Edit3Exit()
{
    storeField(AlbumField, true);
}

void TID3Form::Edit4Exit()
{
    storeField(YearField, true);
}

void TID3Form::ComboBox1Exit()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    ID3info entry = m_model->entry(row);
    const int position = ComboBox1->currentIndex();
    quint8 genre = 255;
    if (position >= 0)
        genre = quint8(position);
    else if (entry.Genre >= ComboBox1->count())
        genre = entry.Genre; // a number without a name is shown as none; keep it
    const bool named = genre < ComboBox1->count();
    if (genre == entry.Genre && !(named && entry.Cleared.contains(GenreKey)))
        return;
    entry.Genre = genre;
    if (named)
        entry.Cleared.remove(GenreKey);
    m_model->setEntry(row, entry);
}

void TID3Form::Memo1Exit()
{
    storeField(CommentField, false);
}

void TID3Form::Button1Click()
{
    storeFieldInAll(TitleField);
    // Every row now has this working title; the list says so at once.
    const int count = entryCount();
    for (int row = 0; row < count; ++row)
        setCaption(row, m_model->entry(row).EditTitle);
}

void TID3Form::Button2Click()
{
    storeFieldInAll(ArtistField);
}

void TID3Form::Button3Click()
{
    storeFieldInAll(AlbumField);
}

void TID3Form::Button4Click()
{
    storeFieldInAll(YearField);
}

void TID3Form::Button5Click()
{
    const int count = entryCount();
    const int position = ComboBox1->currentIndex();
    const quint8 genre = position >= 0 ? quint8(position) : quint8(255);
    const QString name = position >= 0 ? ComboBox1->currentText() : QString();
    for (int row = 0; row < count; ++row) {
        ID3info entry = m_model->entry(row);
        if (TagTextToDisplay(entry.GenreName) != name)
            entry.GenreName = DisplayToTagText(name);
        entry.Genre = genre;
        // No genre given to all clears it in every output's tag.
        if (position >= 0)
            entry.Cleared.remove(GenreKey);
        else
            entry.Cleared.insert(GenreKey);
        m_model->setEntry(row, entry);
    }
}

void TID3Form::Button6Click()
{
    storeFieldInAll(CommentField);
}

void TID3Form::Button7Click()
{
    const int count = entryCount();
    for (int row = 0; row < count; ++row) {
        ID3info entry = m_model->entry(row);
        if (entry.Title == entry.EditTitle)
            continue;
        entry.Title = entry.EditTitle;
        m_model->setEntry(row, entry);
    }
    accept();
}

void TID3Form::Button8Click()
{
    reject();
}

void TID3Form::fieldExit(const QObject *field)
{
    if (field == Edit1)
        Edit1Exit();
    else if (field == Edit2)
        Edit2Exit();
    else if (field == Edit3)
        Edit3Exit();
    else if (field == Edit4)
        Edit4Exit();
    else if (field == ComboBox1)
        ComboBox1Exit();
    else if (field == Memo1)
        Memo1Exit();
}

void TID3Form::reject()
{
    fieldExit(focusWidget());
    QDialog::reject();
}

void TID3Form::Button9Click()
{
    const int count = entryCount();
    if (count == 0)
        return;
    const int row = selectedRow();
    if (row >= 0) {
        m_shown[TitleField] = m_model->entry(row).Title;
        Edit1->setText(TagTextToDisplay(m_shown[TitleField]));
        Edit1->setCursorPosition(0);
    }
    for (int i = 0; i < count; ++i) {
        ID3info entry = m_model->entry(i);
        setCaption(i, entry.Title);
        if (entry.EditTitle == entry.Title)
            continue;
        entry.EditTitle = entry.Title;
        m_model->setEntry(i, entry);
    }
}
