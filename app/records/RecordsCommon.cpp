#include "RecordsCommon.h"

#include "app/global/global.h"
#include "platform/db/core/Codepage.h"
#include "platform/db/core/DbError.h"
#include "platform/db/database/Database.h"
#include "platform/os/Abort.h"
#include "platform/ui/Formats.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"
#include "platform/ui/data/DatasetModel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>

namespace records {

QString LockedRecordMessage()
{
    return QStringLiteral("Cet enregistrement est en cours de modification sur un autre poste.\n"
                          "Réessayez quand il aura été enregistré.");
}

void ForceUpperCase(QLineEdit* edit)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int pos = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(pos);
    });
}

void Guarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EAbort&) {
    } catch (const EDBEngineError& e) {
        ShowError(e.code() == kdb::DBERR_LOCKED ? LockedRecordMessage() : kui::ExceptionText(e));
    } catch (const std::exception& e) {
        ShowError(kui::ExceptionText(e));
    }
}

bool ConfirmDiscard(QWidget* parent)
{
    const QPointer<QWidget> focus = QApplication::focusWidget();
    const bool yes = kui::ShowMessageBox(kui::MsgKind::Confirmation, QStringLiteral("Abandonner les modifications ?"),
                         QMessageBox::Yes | QMessageBox::No, {}, parent, QMessageBox::No) == QMessageBox::Yes;
    if (focus && !yes)
        focus->setFocus();
    return yes;
}

int AskUnsavedClose(
    QWidget* parent, const std::function<bool()>& save, const std::function<void()>& discard, const QString& question)
{
    const kui::MsgButton answer = kui::MsgYesNoCancel(question.isEmpty()
            ? QString::fromUtf8("Les informations modifiées n'ont pas été enregistrées.\rEnregister ?")
            : question,
        kui::MsgKind::Warning, parent);
    if (answer == QMessageBox::Yes)
        return save() ? QDialog::Accepted : -1;
    if (answer == QMessageBox::No) {
        discard();
        return QDialog::Rejected;
    }
    return -1;
}

void CloseEntryScreen(QDialog* screen, QCloseEvent* event, bool& closing, bool editing,
    const std::function<bool()>& save, const std::function<void()>& discard, const std::function<void()>& release,
    const std::function<void(QCloseEvent*)>& baseClose, const QString& question)
{
    if (closing || !editing) {
        release();
        closing = true;
        baseClose(event);
        return;
    }
    const int code = AskUnsavedClose(
        screen, save,
        [&] {
            closing = true;
            discard();
        },
        question);
    if (code < 0) {
        event->ignore();
        return;
    }
    release();
    closing = true;
    event->accept();
    baseClose(event);
    screen->setResult(code);  // after the dialog's own close, which sets Rejected
}

bool EntryScreenKey(QWidget* screen, QKeyEvent* event, bool editing, const std::function<void()>& cancel)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (editing)
            cancel();
        else
            screen->close();
        return true;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return true;
    }
    return false;
}

void ReadOnlyList(kui::DataGrid* grid, kui::DatasetModel* model, bool wholeRows)
{
    model->setReadOnly(true);
    model->setRowPaint(kui::alternateRowColors());
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    if (wholeRows)
        grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->horizontalHeader()->setVisible(true);
}

int TableCodePage(const QString& directory, const QString& table)
{
    try {
        return kdb::Database::of(directory.toStdString()).openTable(table.toStdString())->codePage();
    } catch (const std::exception&) {
        return kdb::kCodePage1252;
    }
}

QDate ReadDate(const QString& text)
{
    return kui::StrToDate(text);
}

QWidget* NextInTabOrder(QWidget* w)
{
    QWidget* next = w->nextInFocusChain();
    while (next && next != w &&
        (!(next->focusPolicy() & Qt::TabFocus) || !next->isEnabled() || !next->isVisibleTo(w->window()) ||
            next->window() != w->window()))
        next = next->nextInFocusChain();
    return next ? next : w;
}

}  // namespace records
