#pragma once
#include <QMessageBox>
#include <QString>
#include <QVector>

#include <exception>

class QWidget;

namespace kui {

// The kinds of message boxes the program shows.
enum class MsgKind {
    Error,  // error icon (the box of ShowError)
    Information,  // information icon
    Warning,  // warning icon
    Confirmation,  // question icon
    Plain  // no icon, the application title as caption
};

using MsgButtons = QMessageBox::StandardButtons;
using MsgButton = QMessageBox::StandardButton;

struct MsgRequest {
    MsgKind kind = MsgKind::Plain;
    QString text;
    QString caption;  // the caption actually shown
    MsgButtons buttons = QMessageBox::Ok;
    MsgButton defaultButton = QMessageBox::NoButton;
    QWidget* parent = nullptr;
};

// Every message box of the program goes through the current service.
class MessageService {
public:
    virtual ~MessageService() = default;
    // Shows the box and returns the button chosen.
    virtual MsgButton Show(const MsgRequest& request) = 0;
};

// The service that opens real modal boxes with French buttons.
class DialogMessageService : public MessageService {
public:
    MsgButton Show(const MsgRequest& request) override;
};

// Replaces the current service (nullptr puts the dialog service back);
// returns the previous one. The caller keeps ownership.
MessageService* SetMessageService(MessageService* service);
MessageService& CurrentMessageService();

// The caption shown when none is given, by kind.
QString DefaultCaption(MsgKind kind);

// Shows a box through the current service.
MsgButton ShowMessageBox(MsgKind kind, const QString& text, MsgButtons buttons = QMessageBox::Ok,
    const QString& caption = {}, QWidget* parent = nullptr, MsgButton defaultButton = QMessageBox::NoButton);

// The four kinds with their usual buttons.
void MsgError(const QString& text, QWidget* parent = nullptr);
void MsgInformation(const QString& text, QWidget* parent = nullptr);
void MsgWarning(const QString& text, QWidget* parent = nullptr);
void MsgPlain(const QString& text, QWidget* parent = nullptr);
// Yes/No: true for Yes.
bool MsgConfirm(const QString& text, QWidget* parent = nullptr);
// Yes/No/Cancel (question icon unless kind says otherwise): the button chosen.
MsgButton MsgYesNoCancel(const QString& text, MsgKind kind = MsgKind::Confirmation, QWidget* parent = nullptr);

// The French sentence the user reads for an engine error: what happened, to
// which table or file (its full name), and what to do when there is
// something to do. A code without a sentence of its own gives a general one
// that keeps the code.
QString EngineErrorText(int code, const QString& file);
// The text shown for an exception: an engine error as above, the program's
// own exceptions by their message, one of the standard library by what went
// wrong in French (never the library's English).
QString ExceptionText(const std::exception& e);

// A service that records every box and answers it without a person. The
// answers queued with Answer() are used in order; when none is left the
// default answer is used if it is one of the box's buttons, otherwise the
// box's "negative" button (Cancel, then No, then OK).
class RecordingMessageService : public MessageService {
public:
    struct Record {
        MsgKind kind;
        QString text;
        QString caption;
        MsgButtons buttons;
    };

    MsgButton Show(const MsgRequest& request) override;

    void Answer(MsgButton button) { answers_.append(button); }
    void SetDefaultAnswer(MsgButton button) { defaultAnswer_ = button; }

    const QVector<Record>& Records() const { return records_; }
    int Count() const { return records_.size(); }
    const Record& Last() const { return records_.last(); }
    void Clear()
    {
        records_.clear();
        answers_.clear();
    }

private:
    QVector<Record> records_;
    QVector<MsgButton> answers_;
    MsgButton defaultAnswer_ = QMessageBox::NoButton;
};

// Installs a recording service for the life of the object.
class ScopedMessageRecorder : public RecordingMessageService {
public:
    ScopedMessageRecorder() : previous_(SetMessageService(this)) { }
    ~ScopedMessageRecorder() override { SetMessageService(previous_); }
    ScopedMessageRecorder(const ScopedMessageRecorder&) = delete;
    ScopedMessageRecorder& operator=(const ScopedMessageRecorder&) = delete;

private:
    MessageService* previous_;
};

}  // namespace kui
