#include "UPrint.h"
#include "ui_UPrint.h"
#include "platform/ui/ScreenKeys.h"

#include "URptListPatient.h"

#include <QGridLayout>
#include <QToolButton>

TfrmPrint* frmPrint = nullptr;

TfrmPrint::TfrmPrint(AppContext& context, QWidget* parent) : QDialog(parent), context_(context), ui(new Ui::TfrmPrint)
{
    ui->setupUi(this);
    kui::EscapeDoesNothing(this);  // a Close button, no cancel button: Esc does nothing
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Each letter is a toggle of its own: any set of letters may be down.
    auto* grid = static_cast<QGridLayout*>(ui->grpLetters->layout());
    for (int i = 0; i < 26; ++i) {
        auto* button = new QToolButton(ui->grpLetters);
        const QString letter(QChar('A' + i));
        button->setObjectName("btn" + letter);
        button->setText(letter);
        button->setCheckable(true);
        button->setFixedSize(28, 28);
        grid->addWidget(button, i / 13, i % 13);
        connect(button, &QToolButton::toggled, this, [this, button] { btnLetterClick(button); });
        letters_[i] = button;
    }
    connect(ui->edTextSearch, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int cursor = ui->edTextSearch->cursorPosition();
        ui->edTextSearch->setText(text.toUpper());
        ui->edTextSearch->setCursorPosition(cursor);
    });
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmPrint::BitBtn1Click);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    frmPrint = this;
}

TfrmPrint::~TfrmPrint()
{
    if (frmPrint == this)
        frmPrint = nullptr;
    delete ui;
}

QToolButton* TfrmPrint::btnLetter(QChar letter) const
{
    const int i = letter.toUpper().unicode() - 'A';
    return i >= 0 && i < 26 ? letters_[i] : nullptr;
}

QLineEdit* TfrmPrint::edTextSearch() const
{
    return ui->edTextSearch;
}

void TfrmPrint::btnLetterClick(QToolButton* button)
{
    QPalette palette = button->palette();
    palette.setColor(
        QPalette::ButtonText, button->isChecked() ? QColor(Qt::red) : this->palette().color(QPalette::WindowText));
    button->setPalette(palette);
}

void TfrmPrint::BitBtn1Click()
{
    auto* form = new TfrmRptListPatient();
    frmRptListPatient = form;
    form->Preview(context_);
    delete form;
}

void PrintPatientList(AppContext& context, QWidget* parent)
{
    TfrmPrint dialog(context, parent);
    dialog.exec();
}
