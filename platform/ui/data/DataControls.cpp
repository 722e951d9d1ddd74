#include "ui/data/DataControls.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QToolButton>

#include "platform/os/Abort.h"

namespace kdb::ui {

// ---- FieldLink -------------------------------------------------------------------

void FieldLink::bind(Dataset* dataset, const std::string& fieldName) {
    if (dataset_) disconnect(dataset_, nullptr, this, nullptr);
    dataset_ = dataset;
    fieldName_ = fieldName;
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &FieldLink::changed);
        connect(dataset, &Dataset::stateChanged, this, &FieldLink::changed);
        connect(dataset, &Dataset::rowsReset, this, &FieldLink::changed);
    }
    emit changed();
}

Field* FieldLink::field() const {
    return dataset_ && dataset_->active() ? dataset_->findField(fieldName_) : nullptr;
}

QString FieldLink::text() const {
    Field* f = field();
    if (!f) return {};
    if (dataset_->state() == DatasetState::Browse && dataset_->currentRow() < 0) return {};
    return f->asString();
}

bool FieldLink::editable() const {
    Field* f = field();
    return f && !f->readOnly && !f->isLookup() && dataset_->canModify();
}

bool FieldLink::write(const QString& text, QString* error) {
    Field* f = field();
    if (!f) return false;
    try {
        if (dataset_->state() == DatasetState::Browse) dataset_->edit();
        if (f->dataType() == fldDATE && !text.trimmed().isEmpty() && !sql::parseDisplayDate(text).isValid())
            return true;  // a date being typed is written once it is whole
        f->setAsString(text);
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return false;
    }
}

void FocusColour::applyFocus(QWidget* w, bool focused) {
    if (!focusColour_.isValid()) return;
    QPalette p = w->palette();
    if (focused) {
        if (!saved_) {
            normal_ = p.color(QPalette::Base);
            saved_ = true;
        }
        p.setColor(QPalette::Base, focusColour_);
    } else if (saved_) {
        p.setColor(QPalette::Base, normal_);  // back to the window colour
        saved_ = false;
    }
    w->setPalette(p);
}

// ---- DataLineEdit --------------------------------------------------------------

DataLineEdit::DataLineEdit(QWidget* parent) : QLineEdit(parent), link_(new FieldLink(this)) {
    connect(link_, &FieldLink::changed, this, &DataLineEdit::refresh);
    connect(this, &QLineEdit::textEdited, this, &DataLineEdit::onEdited);
}

void DataLineEdit::bind(Dataset* dataset, const std::string& fieldName) { link_->bind(dataset, fieldName); }

void DataLineEdit::refresh() {
    if (updating_) return;
    updating_ = true;
    QString t = link_->text();
    if (t != text()) setText(t);
    if (Field* f = link_->field())
        if (f->dataType() == fldZSTRING && f->size() > 0) setMaxLength(f->size());
    updating_ = false;
}

void DataLineEdit::onEdited(const QString& typed) {
    if (updating_) return;
    QString t = typed;
    if (upper_ && t != t.toUpper()) {
        int pos = cursorPosition();
        t = t.toUpper();
        updating_ = true;
        setText(t);
        setCursorPosition(pos);
        updating_ = false;
    }
    QString error;
    updating_ = true;
    bool ok = link_->write(t, &error);
    updating_ = false;
    if (!ok) {
        refresh();
        if (!error.isEmpty()) emit writeFailed(error);
    }
}

void DataLineEdit::focusInEvent(QFocusEvent* e) {
    applyFocus(this, true);
    QLineEdit::focusInEvent(e);
}

void DataLineEdit::focusOutEvent(QFocusEvent* e) {
    applyFocus(this, false);
    QLineEdit::focusOutEvent(e);
}

// ---- DataMemo -------------------------------------------------------------------

DataMemo::DataMemo(QWidget* parent) : QPlainTextEdit(parent), link_(new FieldLink(this)) {
    connect(link_, &FieldLink::changed, this, &DataMemo::refresh);
    connect(this, &QPlainTextEdit::textChanged, this, &DataMemo::onChanged);
}

void DataMemo::bind(Dataset* dataset, const std::string& fieldName) { link_->bind(dataset, fieldName); }

void DataMemo::refresh() {
    if (updating_) return;
    updating_ = true;
    QString t = link_->text();
    if (t != toPlainText()) setPlainText(t);
    updating_ = false;
}

void DataMemo::onChanged() {
    if (updating_ || isReadOnly()) return;
    QString error;
    updating_ = true;
    bool ok = link_->write(toPlainText(), &error);
    updating_ = false;
    if (!ok) {
        refresh();
        if (!error.isEmpty()) emit writeFailed(error);
    }
}

void DataMemo::keyPressEvent(QKeyEvent* e) {
    if (upper_ && !e->text().isEmpty() && e->text() != e->text().toUpper()) {
        QKeyEvent up(e->type(), e->key(), e->modifiers(), e->text().toUpper(), e->isAutoRepeat(),
                     static_cast<ushort>(e->count()));
        QPlainTextEdit::keyPressEvent(&up);
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void DataMemo::focusInEvent(QFocusEvent* e) {
    applyFocus(this, true);
    QPlainTextEdit::focusInEvent(e);
}

void DataMemo::focusOutEvent(QFocusEvent* e) {
    applyFocus(this, false);
    QPlainTextEdit::focusOutEvent(e);
}

// ---- DataComboBox -----------------------------------------------------------------

DataComboBox::DataComboBox(QWidget* parent) : QComboBox(parent), link_(new FieldLink(this)) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(link_, &FieldLink::changed, this, &DataComboBox::refresh);
    connect(this, &QComboBox::currentTextChanged, this, &DataComboBox::onText);
}

void DataComboBox::bind(Dataset* dataset, const std::string& fieldName) { link_->bind(dataset, fieldName); }

void DataComboBox::setReadOnly(bool on) {
    readOnly_ = on;
    if (lineEdit()) lineEdit()->setReadOnly(on);
}

void DataComboBox::refresh() {
    if (updating_) return;
    updating_ = true;
    QString t = link_->text();
    if (t != currentText()) setCurrentText(t);
    updating_ = false;
}

void DataComboBox::onText(const QString& typed) {
    if (updating_) return;
    if (readOnly_) {
        refresh();
        return;
    }
    QString t = upper_ ? typed.toUpper() : typed;
    updating_ = true;
    if (t != typed && lineEdit()) {
        int pos = lineEdit()->cursorPosition();
        setCurrentText(t);
        lineEdit()->setCursorPosition(pos);
    }
    QString error;
    bool ok = link_->write(t, &error);
    updating_ = false;
    if (!ok) {
        refresh();
        if (!error.isEmpty()) emit writeFailed(error);
    }
}

void DataComboBox::focusInEvent(QFocusEvent* e) {
    applyFocus(this, true);
    QComboBox::focusInEvent(e);
}

void DataComboBox::focusOutEvent(QFocusEvent* e) {
    applyFocus(this, false);
    QComboBox::focusOutEvent(e);
}

// ---- DataLookupComboBox ----------------------------------------------------------

DataLookupComboBox::DataLookupComboBox(QWidget* parent) : QComboBox(parent), link_(new FieldLink(this)) {
    setEditable(false);
    connect(link_, &FieldLink::changed, this, &DataLookupComboBox::refresh);
    connect(this, &QComboBox::activated, this, &DataLookupComboBox::onChosen);
}

void DataLookupComboBox::setListSource(Dataset* list, const std::string& keyField, const std::string& displayField) {
    if (list_) disconnect(list_, nullptr, this, nullptr);
    list_ = list;
    keyField_ = keyField;
    displayField_ = displayField;
    if (list) connect(list, &Dataset::rowsReset, this, &DataLookupComboBox::reload);
    reload();
}

void DataLookupComboBox::reload() {
    QVariant key = keyValue();
    updating_ = true;
    clear();
    if (list_ && list_->active()) {
        Field* k = list_->findField(keyField_);
        Field* d = list_->findField(displayField_);
        if (k && d) {
            list_->loadMoreRows(1 << 30);
            for (int r = 0; r < list_->loadedRowCount(); ++r) {
                QVariant kv = list_->valueAt(r, k->index());
                QVariant dv = list_->valueAt(r, d->index());
                addItem(dv.toString(), kv);
            }
        }
    }
    setCurrentIndex(-1);
    updating_ = false;
    if (link_->field()) refresh();
    else setKeyValue(key);
}

QVariant DataLookupComboBox::keyValue() const {
    return currentIndex() >= 0 ? itemData(currentIndex()) : QVariant();
}

void DataLookupComboBox::setKeyValue(const QVariant& key) {
    bool was = updating_;
    updating_ = true;
    int found = -1;
    QString want = sql::trimRight(key.toString());
    for (int i = 0; i < count() && key.isValid() && !key.isNull(); ++i)
        if (sql::trimRight(itemData(i).toString()) == want) { found = i; break; }
    setCurrentIndex(found);
    updating_ = was;
}

void DataLookupComboBox::bind(Dataset* dataset, const std::string& fieldName) { link_->bind(dataset, fieldName); }

void DataLookupComboBox::refresh() {
    if (updating_ || !link_->field()) return;
    setKeyValue(link_->field()->value());
}

void DataLookupComboBox::onChosen(int index) {
    if (updating_ || !link_->field() || index < 0) return;
    QString error;
    updating_ = true;
    bool ok = link_->write(itemData(index).toString(), &error);
    updating_ = false;
    if (!ok) {
        refresh();
        if (!error.isEmpty()) emit writeFailed(error);
    }
}

void DataLookupComboBox::focusInEvent(QFocusEvent* e) {
    applyFocus(this, true);
    QComboBox::focusInEvent(e);
}

void DataLookupComboBox::focusOutEvent(QFocusEvent* e) {
    applyFocus(this, false);
    QComboBox::focusOutEvent(e);
}

// ---- DataNavigator ---------------------------------------------------------------

DataNavigator::DataNavigator(QWidget* parent) : QWidget(parent) {
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto make = [&](const QString& text, const QString& tip, void (Dataset::*move)()) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        lay->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, move] { run(move); });
        return b;
    };
    first_ = make(QStringLiteral("|◀"), QStringLiteral("Premier"), &Dataset::first);
    prior_ = make(QStringLiteral("◀"), QStringLiteral("Précédent"), &Dataset::prior);
    next_ = make(QStringLiteral("▶"), QStringLiteral("Suivant"), &Dataset::next);
    last_ = make(QStringLiteral("▶|"), QStringLiteral("Dernier"), &Dataset::last);
    update();
}

void DataNavigator::bind(Dataset* dataset) {
    if (dataset_) disconnect(dataset_, nullptr, this, nullptr);
    dataset_ = dataset;
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &DataNavigator::update);
        connect(dataset, &Dataset::stateChanged, this, &DataNavigator::update);
    }
    update();
}

void DataNavigator::run(void (Dataset::*move)()) {
    if (!dataset_) return;
    try {
        (dataset_->*move)();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        emit moveFailed(QString::fromUtf8(e.what()));
    }
    update();
}

void DataNavigator::update() {
    bool has = dataset_ && dataset_->active() && dataset_->currentRow() >= 0;
    bool browsing = has && dataset_->state() == DatasetState::Browse;
    bool atFirst = !has || dataset_->currentRow() == 0;
    bool atLast = !has || (browsing ? dataset_->atLastRow() : false);
    first_->setEnabled(has && !atFirst);
    prior_->setEnabled(has && !atFirst);
    next_->setEnabled(has && !atLast);
    last_->setEnabled(has && !atLast);
}

}  // namespace kdb::ui
