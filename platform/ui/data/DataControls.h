#pragma once
// Data-aware editors: each shows one field of a dataset's current record
// and writes what the user types into it, putting the dataset into Edit
// state on the first change. Options: upper-case typing, read-only, and a
// background colour while the editor has the focus.
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>

#include <string>

#include "dataset/Dataset.h"

class QToolButton;

namespace kdb::ui {

// The link between one editor and one field.
class FieldLink : public QObject {
    Q_OBJECT
public:
    FieldLink(QObject* parent) : QObject(parent) {}
    void bind(Dataset* dataset, const std::string& fieldName);
    Dataset* dataset() const { return dataset_; }
    const std::string& fieldName() const { return fieldName_; }
    Field* field() const;
    // Current text of the field (empty without a record).
    QString text() const;
    // Writes typed text; answers false (and sets error) when it is refused.
    bool write(const QString& text, QString* error);
    bool editable() const;

signals:
    void changed();  // the field's value or the cursor changed

private:
    QPointer<Dataset> dataset_;
    std::string fieldName_;
};

// Shared focus-colour behaviour.
class FocusColour {
public:
    void setFocusColour(const QColor& c) { focusColour_ = c; }
    const QColor& focusColour() const { return focusColour_; }

protected:
    void applyFocus(QWidget* w, bool focused);

private:
    QColor focusColour_;
    QColor normal_;
    bool saved_ = false;
};

class DataLineEdit : public QLineEdit, public FocusColour {
    Q_OBJECT
public:
    explicit DataLineEdit(QWidget* parent = nullptr);
    void bind(Dataset* dataset, const std::string& fieldName);
    void setUpperCase(bool on) { upper_ = on; }
    bool upperCase() const { return upper_; }
    FieldLink* link() const { return link_; }

signals:
    void writeFailed(const QString& message);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void refresh();
    void onEdited(const QString& text);
    FieldLink* link_;
    bool upper_ = false;
    bool updating_ = false;
};

class DataMemo : public QPlainTextEdit, public FocusColour {
    Q_OBJECT
public:
    explicit DataMemo(QWidget* parent = nullptr);
    void bind(Dataset* dataset, const std::string& fieldName);
    void setUpperCase(bool on) { upper_ = on; }
    FieldLink* link() const { return link_; }

signals:
    void writeFailed(const QString& message);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void refresh();
    void onChanged();
    FieldLink* link_;
    bool upper_ = false;
    bool updating_ = false;
};

// An editable combo box over a text field, its list filled by the caller.
class DataComboBox : public QComboBox, public FocusColour {
    Q_OBJECT
public:
    explicit DataComboBox(QWidget* parent = nullptr);
    void bind(Dataset* dataset, const std::string& fieldName);
    void setUpperCase(bool on) { upper_ = on; }
    void setReadOnly(bool on);
    bool isReadOnly() const { return readOnly_; }
    FieldLink* link() const { return link_; }

signals:
    void writeFailed(const QString& message);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void refresh();
    void onText(const QString& text);
    FieldLink* link_;
    bool upper_ = false;
    bool readOnly_ = false;
    bool updating_ = false;
};

// A pick list filled from a dataset: each item shows displayField and keeps
// keyField. Bound to a field (optional), choosing an item writes its key
// there and the field's key selects the item; without a binding the caller
// reads and sets the key itself.
class DataLookupComboBox : public QComboBox, public FocusColour {
    Q_OBJECT
public:
    explicit DataLookupComboBox(QWidget* parent = nullptr);
    // Reads the items from the list dataset now and whenever it is reopened.
    void setListSource(Dataset* list, const std::string& keyField, const std::string& displayField);
    void bind(Dataset* dataset, const std::string& fieldName);
    // The key of the chosen item (null when none is chosen).
    QVariant keyValue() const;
    // Chooses the item of that key (none when it is not listed).
    void setKeyValue(const QVariant& key);
    FieldLink* link() const { return link_; }

signals:
    void writeFailed(const QString& message);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void reload();
    void refresh();
    void onChosen(int index);
    QPointer<Dataset> list_;
    std::string keyField_, displayField_;
    FieldLink* link_;
    bool updating_ = false;
};

// First / previous / next / last buttons, enabled by the cursor's place.
class DataNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DataNavigator(QWidget* parent = nullptr);
    void bind(Dataset* dataset);
    QToolButton* firstButton() const { return first_; }
    QToolButton* priorButton() const { return prior_; }
    QToolButton* nextButton() const { return next_; }
    QToolButton* lastButton() const { return last_; }

signals:
    void moveFailed(const QString& message);

private:
    void update();
    void run(void (Dataset::*move)());
    QPointer<Dataset> dataset_;
    QToolButton *first_, *prior_, *next_, *last_;
};

}  // namespace kdb::ui
