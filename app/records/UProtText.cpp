#include "UProtText.h"
#include "ui_UProtText.h"

#include "app/global/global.h"
#include "platform/rtf/Rtf.h"
#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <stdexcept>

TfrmProtText::TfrmProtText(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmProtText)
{
    ui->setupUi(this);
    ui->btnSave->setIcon(kui::ThemeIcon("document-save", QStyle::SP_DialogSaveButton));
    ui->RichDesc->document()->setDefaultFont(QFont("Verdana", 8));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    connect(ui->cmbFont, &QComboBox::activated, this, &TfrmProtText::cmbFontChange);
    connect(ui->cmbSize, &QComboBox::activated, this, &TfrmProtText::cmbSizeChange);
    connect(ui->btnGras, &QToolButton::clicked, this, &TfrmProtText::btnGrasClick);
    connect(ui->btnItalic, &QToolButton::clicked, this, &TfrmProtText::btnItalicClick);
    connect(ui->btnSouligne, &QToolButton::clicked, this, &TfrmProtText::btnSouligneClick);
    connect(ui->btnSave, &QToolButton::clicked, this, &TfrmProtText::btnSaveClick);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmProtText::reject);
    connect(ui->RichDesc, &QTextEdit::cursorPositionChanged, this, &TfrmProtText::RichDescSelectionChange);
    connect(ui->RichDesc, &QTextEdit::selectionChanged, this, &TfrmProtText::RichDescSelectionChange);
    connect(ui->RichDesc, &QTextEdit::textChanged, this, &TfrmProtText::RichDescChange);
}

TfrmProtText::~TfrmProtText()
{
    delete ui;
}

QTextEdit* TfrmProtText::RichDesc() const
{
    return ui->RichDesc;
}
QComboBox* TfrmProtText::cmbFont() const
{
    return ui->cmbFont;
}
QComboBox* TfrmProtText::cmbSize() const
{
    return ui->cmbSize;
}
QToolButton* TfrmProtText::btnGras() const
{
    return ui->btnGras;
}
QToolButton* TfrmProtText::btnItalic() const
{
    return ui->btnItalic;
}
QToolButton* TfrmProtText::btnSouligne() const
{
    return ui->btnSouligne;
}
QToolButton* TfrmProtText::btnSave() const
{
    return ui->btnSave;
}
QPushButton* TfrmProtText::BitBtn1() const
{
    return ui->BitBtn1;
}

void TfrmProtText::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmProtText::FormShow()
{
    ui->RichDesc->clear();
    const QString file = ProtDir + FileName;
    krtf::RtfDamage damage = krtf::RtfDamage::Whole;
    if (QFile::exists(file))
        krtf::LoadRtfFile(file, *ui->RichDesc->document(), nullptr, &damage);
    damaged_ = damage != krtf::RtfDamage::Whole;
    // The families, once each: the font list tells apart families of the
    // same name by their foundry ("C059 [UKWN]"), which is no font name.
    QStringList families;
    for (QString family : QFontDatabase::families()) {
        static const QRegularExpression foundry(QStringLiteral("\\s*\\[[^\\]]*\\]\\s*$"));
        family.remove(foundry);
        if (!family.isEmpty() && !families.contains(family))
            families.append(family);
    }
    ui->cmbFont->clear();
    ui->cmbFont->addItems(families);
    // Filling the editor is no change of the text.
    ui->btnSave->setEnabled(false);
    ui->RichDesc->moveCursor(QTextCursor::Start);
    RichDescSelectionChange();
    ui->RichDesc->setFocus();
    if (damaged_)
        kui::MsgWarning(DamagedProtocolTextMessage(FileName) +
                            QStringLiteral(" Le fichier endommagé sera conservé sous un autre nom avant "
                                           "l'enregistrement du texte."),
            this);
}

void TfrmProtText::SelectComboItem(QComboBox* combo, const QString& text)
{
    const auto fold = [](const QString& s) {
        QString r = s;
        for (QChar& c : r)
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + 32);
        return r;
    };
    const QString wanted = fold(text);
    for (int i = 0; i < combo->count(); ++i)
        if (fold(combo->itemText(i)) == wanted) {
            combo->setCurrentIndex(i);
            return;
        }
}

void TfrmProtText::RichDescSelectionChange()
{
    // The selection's font and size when they are the same all along it;
    // a mixed selection has none.
    const QTextCursor cursor = ui->RichDesc->textCursor();
    const QFont base = ui->RichDesc->document()->defaultFont();
    QFont font = ui->RichDesc->currentCharFormat().font().resolve(base);
    QString family = font.family();
    double size = font.pointSizeF();
    bool bold = font.bold(), italic = font.italic(), underline = font.underline();
    if (cursor.hasSelection()) {
        const int from = cursor.selectionStart(), to = cursor.selectionEnd();
        bool first = true;
        for (QTextBlock b = ui->RichDesc->document()->findBlock(from); b.isValid() && b.position() < to; b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextFragment f = it.fragment();
                if (f.position() + f.length() <= from || f.position() >= to)
                    continue;
                const QFont ff = f.charFormat().font().resolve(base);
                if (first) {
                    family = ff.family();
                    size = ff.pointSizeF();
                    bold = ff.bold(), italic = ff.italic(), underline = ff.underline();
                    first = false;
                    continue;
                }
                if (ff.family() != family)
                    family.clear();
                if (ff.pointSizeF() != size)
                    size = 0;
                bold = bold && ff.bold();
                italic = italic && ff.italic();
                underline = underline && ff.underline();
            }
    }
    SelectComboItem(ui->cmbFont, family);
    SelectComboItem(ui->cmbSize, size > 0 ? QString::number(size) : QString());
    ui->btnGras->setChecked(bold);
    ui->btnItalic->setChecked(italic);
    ui->btnSouligne->setChecked(underline);
}

void TfrmProtText::MergeFormat(const QTextCharFormat& format)
{
    ui->RichDesc->mergeCurrentCharFormat(format);
}

void TfrmProtText::cmbFontChange()
{
    QTextCharFormat f;
    f.setFontFamilies({ui->cmbFont->currentText()});
    MergeFormat(f);
}

void TfrmProtText::cmbSizeChange()
{
    QTextCharFormat f;
    f.setFontPointSize(ui->cmbSize->currentText().toInt());
    MergeFormat(f);
}

void TfrmProtText::btnGrasClick()
{
    QTextCharFormat f;
    f.setFontWeight(ui->btnGras->isChecked() ? QFont::Bold : QFont::Normal);
    MergeFormat(f);
}

void TfrmProtText::btnItalicClick()
{
    QTextCharFormat f;
    f.setFontItalic(ui->btnItalic->isChecked());
    MergeFormat(f);
}

void TfrmProtText::btnSouligneClick()
{
    QTextCharFormat f;
    f.setFontUnderline(ui->btnSouligne->isChecked());
    MergeFormat(f);
}

void TfrmProtText::RichDescChange()
{
    ui->btnSave->setEnabled(true);
}

// The damaged file shown is copied beside itself under a name no protocol
// number gives, never over another file: what another reader could still
// make of it is not lost when the text replaces it.
bool TfrmProtText::KeepDamagedFile()
{
    const QString file = ProtDir + FileName;
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return true;
    QString base = FileName;
    if (base.endsWith(QStringLiteral(".RTF"), Qt::CaseInsensitive))
        base.chop(4);
    for (int i = 1; i <= 999; ++i) {
        const QString name = base + "_ENDOMMAGE" + (i > 1 ? QString::number(i) : QString()) + ".RTF";
        const QFileInfo other(ProtDir + name);
        if (other.exists() || other.isSymLink())
            continue;
        if (!QFile::copy(file, ProtDir + name))
            break;
        kui::MsgInformation(QStringLiteral("Le fichier endommagé « %1 » est conservé sous le nom « %2 ».")
                                .arg(FileName, name),
            this);
        return true;
    }
    kui::TApplication::HandleException(std::runtime_error(
        QStringLiteral("Le fichier endommagé « %1 » n'a pas pu être conservé sous un autre nom : le texte n'est "
                       "pas enregistré.")
            .arg(QDir::toNativeSeparators(file))
            .toStdString()));
    return false;
}

bool TfrmProtText::WriteFile()
{
    if (damaged_) {
        if (!KeepDamagedFile())
            return false;
        damaged_ = false;
    }
    QString error;
    if (krtf::SaveRtfFile(ProtDir + FileName, *ui->RichDesc->document(), &error))
        return true;
    kui::TApplication::HandleException(std::runtime_error(error.toStdString()));
    return false;
}

bool TfrmProtText::btnSaveClick()
{
    if (!WriteFile())
        return false;
    ui->btnSave->setEnabled(false);
    QCoreApplication::processEvents();
    return true;
}

// Whatever closes the editor (the Close button, Esc, the window's close
// box) comes here: pending changes are written without a question, and a
// failed write keeps the editor open with its text.
void TfrmProtText::reject()
{
    if (ui->btnSave->isEnabled() && !WriteFile())
        return;
    ui->btnSave->setEnabled(false);
    QDialog::reject();
}
