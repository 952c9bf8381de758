#include "gui/dialogs/tsetform.h"

#include "core/settings/settingsstore.h"
#include "gui/dialogs/tdirform.h"
#include "gui/layoutscale.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

// A path cut at its start so that it fits `width`: whole folders go first
// ("…/First Light/03 - Title.mp3"); a name longer than the room loses its start too.
QString elidePathStart(const QFontMetrics &metrics, const QString &path, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const QString ellipsis(QChar(0x2026));
    for (qsizetype slash = path.indexOf(u'/', 1); slash > 0;
         slash = path.indexOf(u'/', slash + 1)) {
        const QString rest = ellipsis + path.mid(slash);
        if (metrics.horizontalAdvance(rest) <= width)
            return rest;
    }
    return metrics.elidedText(path, Qt::ElideLeft, width);
}

void openInFileManager(const QString &dir)
{
    if (!dir.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(dir));
}

} // namespace

TSetForm::TSetForm(SettingsStore *store, TdirForm *dirForm, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_store(store), m_dirForm(dirForm), m_openFolder(openInFileManager)
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("Settings"));

    const LayoutScale s(font());
    setFixedSize(s(311), s(405));

    GroupBox1 = new QGroupBox(QStringLiteral("OutPath Setting"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(s.rect(8, 11, 297, 70));

    Label1 = new QLabel(QStringLiteral("OutPath:"), GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(s.rect(8, 32, 49, 13));

    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(s.rect(52, 30, 172, 19));
    Edit1->setReadOnly(true);
    Label1->setBuddy(Edit1);

    Button3 = new QPushButton(QStringLiteral("...."), GroupBox1);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(s.rect(228, 26, 29, 25));

    Button4 = new QPushButton(QStringLiteral("Open"), GroupBox1);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setGeometry(s.rect(261, 26, 29, 25));

    GroupBox2 = new QGroupBox(QStringLiteral("Carry out when the converting finished"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(s.rect(8, 84, 297, 77));

    RadioButton1 = new QRadioButton(QStringLiteral("No Operate"), GroupBox2);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setGeometry(s.rect(8, 34, 81, 17));
    RadioButton1->setChecked(true);

    RadioButton2 = new QRadioButton(QStringLiteral("Open OutPath"), GroupBox2);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->setGeometry(s.rect(100, 34, 97, 17));

    RadioButton3 = new QRadioButton(QStringLiteral("Shutdown"), GroupBox2);
    RadioButton3->setObjectName(QStringLiteral("RadioButton3"));
    RadioButton3->setGeometry(s.rect(213, 34, 73, 17));

    GroupBox3 = new QGroupBox(QStringLiteral("Converting"), this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(s.rect(8, 164, 297, 45));

    Label2 = new QLabel(QStringLiteral("Conversions at once:"), GroupBox3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(s.rect(8, 21, 110, 13));

    SpinBox1 = new QSpinBox(GroupBox3);
    SpinBox1->setObjectName(QStringLiteral("SpinBox1"));
    SpinBox1->setGeometry(s.rect(120, 17, 50, 21));
    SpinBox1->setRange(1, SettingsStore::maxJobs());
    SpinBox1->setToolTip(QStringLiteral("How many files convert side by side, up to one per "
                                        "core; a change applies from the next batch on"));
    Label2->setBuddy(SpinBox1);

    GroupBox4 = new QGroupBox(QStringLiteral("Output names"), this);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setGeometry(s.rect(8, 212, 297, 121));

    Label3 = new QLabel(QStringLiteral("Pattern:"), GroupBox4);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(s.rect(8, 23, 44, 13));

    Edit2 = new QLineEdit(GroupBox4);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(s.rect(52, 20, 238, 19));
    Edit2->setPlaceholderText(NamingOptions::DefaultPattern());
    Edit2->setToolTip(
        QStringLiteral("Fields: {title} {artist} {album} {year} {genre} {track} {filename}\n"
                       "\"/\" makes a folder, as in {artist}/{album}/{track} {title}"));
    Label3->setBuddy(Edit2);

    Label4 = new QLabel(GroupBox4);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setGeometry(s.rect(8, 44, 282, 15));
    Label4->setTextFormat(Qt::PlainText);

    CheckBox1 = new QCheckBox(QStringLiteral("Keep folder structure"), GroupBox4);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(s.rect(8, 64, 200, 17));
    CheckBox1->setToolTip(QStringLiteral("Files added with a folder go to the same subfolders "
                                         "below the output folder"));

    Label5 = new QLabel(QStringLiteral("When the file exists:"), GroupBox4);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(s.rect(8, 92, 110, 13));

    ComboBox1 = new QComboBox(GroupBox4);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(s.rect(120, 88, 170, 21));
    ComboBox1->addItem(QStringLiteral("Replace it"), int(ExistingOutput::Replace));
    ComboBox1->addItem(QStringLiteral("Skip the file"), int(ExistingOutput::Skip));
    ComboBox1->addItem(QStringLiteral("Number: \"Title (2)\""), int(ExistingOutput::Number));
    ComboBox1->setToolTip(QStringLiteral("Also when an earlier file of the same batch writes "
                                         "that name"));
    Label5->setBuddy(ComboBox1);

    GroupBox5 = new QGroupBox(QStringLiteral("From the source"), this);
    GroupBox5->setObjectName(QStringLiteral("GroupBox5"));
    GroupBox5->setGeometry(s.rect(8, 336, 297, 62));

    CheckBox2 = new QCheckBox(QStringLiteral("Keep the source's modification time"), GroupBox5);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setGeometry(s.rect(8, 18, 280, 17));
    CheckBox2->setToolTip(QStringLiteral("Each output is dated like its source file"));

    CheckBox3 = new QCheckBox(QStringLiteral("Front cover from the folder"), GroupBox5);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    CheckBox3->setGeometry(s.rect(8, 38, 280, 17));
    CheckBox3->setToolTip(QStringLiteral("A source without a picture of its own gets the "
                                         "cover.jpg, folder.jpg, front.jpg or albumart.jpg "
                                         "(or .png) beside it"));

    for (QPushButton *button : {Button3, Button4})
        button->setAutoDefault(false);

    connect(Button3, &QPushButton::clicked, this, &TSetForm::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TSetForm::Button4Click);
    // toggled rather than clicked, so that arrow keys moving the check count too.
    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton1Click();
    });
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton2Click();
    });
    connect(RadioButton3, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioButton3Click();
    });
    connect(SpinBox1, qOverload<int>(&QSpinBox::valueChanged), this, &TSetForm::SpinBox1Change);
    connect(Edit2, &QLineEdit::textChanged, this, &TSetForm::showExample);
    connect(Edit2, &QLineEdit::editingFinished, this, &TSetForm::takeNaming);
    connect(CheckBox1, &QCheckBox::toggled, this, [this] {
        showExample();
        takeNaming();
    });
    connect(ComboBox1, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        showExample();
        takeNaming();
    });
    for (QCheckBox *box : {CheckBox2, CheckBox3})
        connect(box, &QCheckBox::toggled, this, &TSetForm::takeTagOptions);
}

void TSetForm::setTagOptions(const TagOptions &tags)
{
    m_filling = true;
    m_tags = tags;
    CheckBox2->setChecked(tags.keepSourceTime);
    CheckBox3->setChecked(tags.coverFromFolder);
    m_filling = false;
}

void TSetForm::takeTagOptions()
{
    TagOptions tags;
    tags.keepSourceTime = CheckBox2->isChecked();
    tags.coverFromFolder = CheckBox3->isChecked();
    if (m_filling || tags == m_tags)
        return;
    QString error;
    if (!m_store->writeTagOptions(tags, &error)) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), error);
        // The boxes show what applies.
        setTagOptions(m_tags);
        return;
    }
    m_tags = tags;
    emit tagOptionsChanged(tags);
}

void TSetForm::setNaming(const NamingOptions &naming)
{
    m_filling = true;
    m_naming = naming;
    Edit2->setText(naming.pattern == NamingOptions::DefaultPattern() ? QString() : naming.pattern);
    CheckBox1->setChecked(naming.keepFolders);
    ComboBox1->setCurrentIndex(ComboBox1->findData(int(naming.existing)));
    m_filling = false;
    showExample();
}

void TSetForm::setExampleProvider(
    std::function<QString(const QString &, const NamingOptions &)> provider)
{
    m_example = std::move(provider);
    showExample();
}

NamingOptions TSetForm::shownNaming() const
{
    NamingOptions naming;
    const QString pattern = Edit2->text().trimmed();
    naming.pattern = pattern.isEmpty() ? NamingOptions::DefaultPattern() : pattern;
    naming.keepFolders = CheckBox1->isChecked();
    naming.existing = ExistingOutput(ComboBox1->currentData().toInt());
    return naming;
}

void TSetForm::showExample()
{
    const NamingOptions naming = shownNaming();
    const QString problem = PatternProblem(naming.pattern);
    const QString path =
        problem.isEmpty() && m_example ? m_example(Edit1->text(), naming) : QString();
    const QString text = problem.isEmpty() ? QStringLiteral("Example: ") + path : problem;
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::WindowText, problem.isEmpty()
                                               ? this->palette().color(QPalette::WindowText)
                                               : QColor(0xc0, 0x30, 0x20));
    Label4->setPalette(palette);
    // The end of the example is what tells the naming apart: the path loses its start.
    const QFontMetrics metrics(Label4->font());
    if (problem.isEmpty()) {
        const QString prefix = QStringLiteral("Example: ");
        Label4->setText(
            prefix +
            elidePathStart(metrics, path, Label4->width() - metrics.horizontalAdvance(prefix)));
    } else {
        Label4->setText(metrics.elidedText(text, Qt::ElideMiddle, Label4->width()));
    }
    Label4->setToolTip(text);
}

void TSetForm::takeNaming()
{
    const NamingOptions naming = shownNaming();
    if (m_filling || !PatternProblem(naming.pattern).isEmpty())
        return;
    if (naming.pattern == m_naming.pattern && naming.keepFolders == m_naming.keepFolders &&
        naming.existing == m_naming.existing)
        return;
    QString error;
    if (!m_store->writeNaming(naming, &error)) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), error);
        return;
    }
    m_naming = naming;
    emit namingChanged(naming);
}

void TSetForm::done(int result)
{
    takeNaming();
    QDialog::done(result);
}

void TSetForm::prepare(const QString &outputDir, EndAction finishAction, bool batchRunning,
                       int jobs)
{
    m_filling = true;
    SpinBox1->setValue(jobs);
    Edit1->setText(outputDir);
    Edit1->setCursorPosition(0);
    switch (finishAction) {
    case EndAction::OpenFolder:
        RadioButton2->setChecked(true);
        break;
    case EndAction::Shutdown:
        RadioButton3->setChecked(true);
        break;
    case EndAction::Nothing:
        RadioButton1->setChecked(true);
        break;
    }
    m_filling = false;
    setBatchRunning(batchRunning);
}

void TSetForm::setBatchRunning(bool running)
{
    Edit1->setEnabled(!running);
}

void TSetForm::setOpenFolderHandler(std::function<void(const QString &)> handler)
{
    m_openFolder = handler ? std::move(handler) : openInFileManager;
}

void TSetForm::setFinishAction(EndAction action)
{
    if (!m_filling)
        emit finishActionChanged(action);
}

void TSetForm::SpinBox1Change(int jobs)
{
    if (m_filling)
        return;
    QString error;
    if (!m_store->writeJobs(jobs, &error)) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), error);
        return;
    }
    emit jobsChanged(jobs);
}

void TSetForm::RadioButton1Click()
{
    setFinishAction(EndAction::Nothing);
}

void TSetForm::RadioButton2Click()
{
    setFinishAction(EndAction::OpenFolder);
}

void TSetForm::RadioButton3Click()
{
    setFinishAction(EndAction::Shutdown);
}

void TSetForm::Button3Click()
{
    m_dirForm->setWindowTitle(QStringLiteral("Set OutPath"));
    // It opens at the folder in use, so that a folder beside or below it is near at hand.
    m_dirForm->setStartFolder(Edit1->text());
    m_dirForm->exec();
    const QString picked = m_dirForm->PickedFolder();
    if (picked.isEmpty())
        return;
    Edit1->setText(picked);
    Edit1->setCursorPosition(0);
    showExample();
    QString error;
    if (!m_store->writeOutputDir(picked, &error)) {
        QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), error);
        return;
    }
    emit outputDirChanged(picked);
}

void TSetForm::Button4Click()
{
    m_openFolder(Edit1->text());
}
