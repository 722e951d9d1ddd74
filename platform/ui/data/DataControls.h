#pragma once
// Data-aware editors: each shows one field of a dataset's current record
// and writes what the user types into it, putting the dataset into Edit
// state on the first change. Options: upper-case typing, read-only, and a
// background colour while the editor has the focus. An editor of a
// character field takes no more characters than the field holds, so the
// text on the screen is the text stored.
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

#include "platform/db/dataset/Dataset.h"

class QTextEdit;
class QToolButton;

namespace kui {

// A plain-text editor that takes at most maxLength characters (a line
// break counts one), as a line edit's maxLength does: what is typed,
// pasted, dropped or composed beyond it is left out, the part that fits
// kept; a text set by the program is cut at its end. Undo takes back the
// change and its cut together. 0: no limit.
void SetPlainTextMaxLength(QPlainTextEdit* editor, int maxLength);
int PlainTextMaxLength(const QPlainTextEdit* editor);

// An editor whose text goes into a table of that code page: a character
// the code page lacks, typed, pasted, dropped or set, is shown at once as
// the table will store it (kdb::storableText: the letter without its
// accent, its nearest Latin letter, or "?"), so the text on the screen is
// the text stored. 0: any character.
void SetCodePage(QLineEdit* editor, int codePage);
void SetCodePage(QPlainTextEdit* editor, int codePage);
void SetCodePage(QTextEdit* editor, int codePage);
// The code page of the table a dataset edits (a query's rows: the one the
// program creates its tables in, Windows-1252).
int DatasetCodePage(kdb::Dataset* dataset);

// The link between one editor and one field.
class FieldLink : public QObject {
    Q_OBJECT
public:
    FieldLink(QObject* parent) : QObject(parent) { }
    void bind(kdb::Dataset* dataset, const std::string& fieldName);
    kdb::Dataset* dataset() const { return dataset_; }
    const std::string& fieldName() const { return fieldName_; }
    kdb::Field* field() const;
    // Current text of the field (empty without a record).
    QString text() const;
    // Writes typed text; answers false (and sets error) when it is refused.
    bool write(const QString& text, QString* error);
    bool editable() const;

signals:
    void changed();  // the field's value or the cursor changed

private:
    QPointer<kdb::Dataset> dataset_;
    std::string fieldName_;
};

// The body every data-aware editor shares, held by composition beside the
// editor's widget class: the link to its field, the guard that keeps the
// editor's own display updates from being written back, the writing of what
// the user typed (a refused text puts the field's value back and is
// reported through the editor's writeFailed), the upper-case option and the
// background colour while the editor has the focus.
class DataEditor {
public:
    void bind(kdb::Dataset* dataset, const std::string& fieldName) { link_->bind(dataset, fieldName); }
    FieldLink* link() const { return link_; }
    void setUpperCase(bool on) { upper_ = on; }
    bool upperCase() const { return upper_; }
    void setFocusColour(const QColor& c) { focusColour_ = c; }
    const QColor& focusColour() const { return focusColour_; }

protected:
    // show: puts the field's value on the editor; report: emits the
    // editor's writeFailed. Both are called only after construction.
    DataEditor(QWidget* editor, std::function<void()> show, std::function<void(const QString&)> report);
    ~DataEditor();
    DataEditor(const DataEditor&) = delete;
    DataEditor& operator=(const DataEditor&) = delete;

    bool updating() const { return updating_; }
    // Shows the field's value, unless the editor is writing it.
    void refresh();
    // Runs a change of the editor's display that must not be written back.
    void quietly(const std::function<void()>& change);
    // Writes text to the field; a refusal shows the field's value again and
    // reports the error (a silent abort reports nothing).
    void writeTyped(const QString& text);

private:
    void applyFocus(bool focused);

    QWidget* editor_;
    FieldLink* link_;
    QObject* focusWatcher_;
    std::function<void()> show_;
    std::function<void(const QString&)> report_;
    QColor focusColour_;
    QColor normal_;
    bool saved_ = false;
    bool upper_ = false;
    bool updating_ = false;
};

class DataLineEdit : public QLineEdit, public DataEditor {
    Q_OBJECT
public:
    explicit DataLineEdit(QWidget* parent = nullptr);

signals:
    void writeFailed(const QString& message);

private:
    void showField();
    void onEdited(const QString& text);
};

class DataMemo : public QPlainTextEdit, public DataEditor {
    Q_OBJECT
public:
    explicit DataMemo(QWidget* parent = nullptr);

signals:
    void writeFailed(const QString& message);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void showField();
    void onChanged();
};

// An editable combo box over a text field, its list filled by the caller.
class DataComboBox : public QComboBox, public DataEditor {
    Q_OBJECT
public:
    explicit DataComboBox(QWidget* parent = nullptr);
    void setReadOnly(bool on);
    bool isReadOnly() const { return readOnly_; }

signals:
    void writeFailed(const QString& message);

private:
    void showField();
    void onText(const QString& text);
    bool readOnly_ = false;
};

// A pick list filled from a dataset: each item shows displayField and keeps
// keyField. Bound to a field (optional), choosing an item writes its key
// there and the field's key selects the item; without a binding the caller
// reads and sets the key itself.
class DataLookupComboBox : public QComboBox, public DataEditor {
    Q_OBJECT
public:
    explicit DataLookupComboBox(QWidget* parent = nullptr);
    // Reads the items from the list dataset now and whenever it is reopened.
    void setListSource(kdb::Dataset* list, const std::string& keyField, const std::string& displayField);
    // The key of the chosen item (null when none is chosen).
    QVariant keyValue() const;
    // Chooses the item of that key (none when it is not listed).
    void setKeyValue(const QVariant& key);

signals:
    void writeFailed(const QString& message);

private:
    void reload();
    void showField();
    void onChosen(int index);
    QPointer<kdb::Dataset> list_;
    std::string keyField_, displayField_;
};

// First / previous / next / last buttons, enabled by the cursor's place.
class DataNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DataNavigator(QWidget* parent = nullptr);
    void bind(kdb::Dataset* dataset);
    QToolButton* firstButton() const { return first_; }
    QToolButton* priorButton() const { return prior_; }
    QToolButton* nextButton() const { return next_; }
    QToolButton* lastButton() const { return last_; }
    // Run before each move a button asks for (a screen writes what belongs
    // to the record shown before another is shown); raising stops the move.
    std::function<void()> beforeMove;

signals:
    void moveFailed(const QString& message);

private:
    void update();
    void run(void (kdb::Dataset::*move)());
    QPointer<kdb::Dataset> dataset_;
    QToolButton *first_, *prior_, *next_, *last_;
};

}  // namespace kui
