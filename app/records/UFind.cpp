#include "UFind.h"
#include "ui_UFind.h"

#include "RecordsCommon.h"
#include "app/global/global.h"

#include <QKeyEvent>

TfrmFind::TfrmFind(kdb::Dataset& patient, QWidget* parent) : QDialog(parent), patient_(patient), ui(new Ui::TfrmFind)
{
    ui->setupUi(this);
    lastEdit_ = ui->sCode;
    records::ForceUpperCase(ui->sName);
    records::ForceUpperCase(ui->sCode);
    ui->sName->installEventFilter(this);
    ui->sCode->installEventFilter(this);
    connect(ui->btnFind, &QPushButton::clicked, this, &TfrmFind::btnFindClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->sCode->setFocus();
}

TfrmFind::~TfrmFind()
{
    delete ui;
}

QLineEdit* TfrmFind::sName() const
{
    return ui->sName;
}
QLineEdit* TfrmFind::sCode() const
{
    return ui->sCode;
}

bool TfrmFind::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == ui->sName || watched == ui->sCode))
        lastEdit_ = static_cast<QLineEdit*>(watched);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            btnFindClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmFind::btnFindClick()
{
    records::Guarded([this] {
        if (lastEdit_ == ui->sName) {
            kdb::LocateOptions options;
            options.caseInsensitive = true;
            options.partialKey = true;
            if (patient_.locate("NOM", ui->sName->text(), options)) {
                accept();
                return;
            }
            ShowError(QStringLiteral("Nom patient Introuvable !"));
            ui->sName->setFocus();
        } else {
            if (patient_.locate("CODE", ui->sCode->text())) {
                accept();
                return;
            }
            ShowError(QStringLiteral("Code patient Introuvable !"));
            ui->sCode->setFocus();
        }
    });
}
