#include "platform/ui/data/DataControls.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

#include "platform/os/Abort.h"
#include "platform/ui/Messages.h"

namespace kui {

using kdb::Dataset;
using kdb::DatasetState;
using kdb::Field;

// ---- Plain-text length ------------------------------------------------------------

namespace {

// Watches one editor's document: where the last change put its text, and
// the cut of what went beyond the limit, once the change is complete.
class PlainTextLimit : public QObject {
public:
    explicit PlainTextLimit(QPlainTextEdit* editor) : QObject(editor), editor_(editor)
    {
        setObjectName(Name());
        connect(editor->document(), &QTextDocument::contentsChange, this, [this](int position, int, int added) {
            changeFrom_ = position;
            changeTo_ = position + added;
        });
        // The document is not changed while it reports a change: the cut
        // waits for the end of the change (textChanged).
        connect(editor, &QPlainTextEdit::textChanged, this, &PlainTextLimit::enforce);
    }

    static QString Name() { return QStringLiteral("kui_plainTextLimit"); }

    int maxLength = 0;

    void enforce()
    {
        if (maxLength <= 0 || cutting_)
            return;
        QTextDocument* doc = editor_->document();
        const int length = doc->characterCount() - 1;  // less the closing paragraph mark
        if (length <= maxLength)
            return;
        const int excess = length - maxLength;
        // What came in last loses its end; a text longer than what came in
        // (set by the program, or a limit lowered) loses its own end.
        int end = std::clamp(changeTo_, 0, length);
        int start = end - excess;
        if (start < changeFrom_ || start < 0) {
            start = maxLength;
            end = length;
        }
        if (start > 0 && doc->characterAt(start).isLowSurrogate())
            --start;  // never half a character
        cutting_ = true;
        QTextCursor cut(doc);
        cut.joinPreviousEditBlock();
        cut.setPosition(start);
        cut.setPosition(end, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        cut.endEditBlock();
        cutting_ = false;
    }

private:
    QPlainTextEdit* editor_;
    int changeFrom_ = 0;
    int changeTo_ = 0;
    bool cutting_ = false;
};

PlainTextLimit* LimitOf(const QPlainTextEdit* editor)
{
    return dynamic_cast<PlainTextLimit*>(
        editor->findChild<QObject*>(PlainTextLimit::Name(), Qt::FindDirectChildrenOnly));
}

}  // namespace

void SetPlainTextMaxLength(QPlainTextEdit* editor, int maxLength)
{
    PlainTextLimit* limit = LimitOf(editor);
    if (!limit)
        limit = new PlainTextLimit(editor);
    if (limit->maxLength == maxLength)
        return;
    limit->maxLength = std::max(0, maxLength);
    limit->enforce();
}

int PlainTextMaxLength(const QPlainTextEdit* editor)
{
    const PlainTextLimit* limit = LimitOf(editor);
    return limit ? limit->maxLength : 0;
}

// ---- FieldLink -------------------------------------------------------------------

void FieldLink::bind(Dataset* dataset, const std::string& fieldName)
{
    if (dataset_)
        disconnect(dataset_, nullptr, this, nullptr);
    dataset_ = dataset;
    fieldName_ = fieldName;
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &FieldLink::changed);
        connect(dataset, &Dataset::stateChanged, this, &FieldLink::changed);
        connect(dataset, &Dataset::rowsReset, this, &FieldLink::changed);
    }
    emit changed();
}

Field* FieldLink::field() const
{
    return dataset_ && dataset_->active() ? dataset_->findField(fieldName_) : nullptr;
}

QString FieldLink::text() const
{
    Field* f = field();
    if (!f)
        return {};
    if (dataset_->state() == DatasetState::Browse && dataset_->currentRow() < 0)
        return {};
    return f->asString();
}

bool FieldLink::editable() const
{
    Field* f = field();
    return f && !f->readOnly && !f->isLookup() && dataset_->canModify();
}

bool FieldLink::write(const QString& text, QString* error)
{
    Field* f = field();
    if (!f)
        return false;
    try {
        if (dataset_->state() == DatasetState::Browse)
            dataset_->edit();
        if (f->dataType() == kdb::fldDATE && !text.trimmed().isEmpty() && !kdb::sql::parseDisplayDate(text).isValid())
            return true;  // a date being typed is written once it is whole
        f->setAsString(text);
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (error)
            *error = kui::ExceptionText(e);
        return false;
    }
}

// ---- DataEditor --------------------------------------------------------------------

namespace {

// Tells the editor body when its widget gains or loses the focus.
class FocusWatcher : public QObject {
public:
    FocusWatcher(QWidget* editor, std::function<void(bool)> changed) : QObject(editor), changed_(std::move(changed))
    {
        editor->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            changed_(event->type() == QEvent::FocusIn);
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(bool)> changed_;
};

}  // namespace

DataEditor::DataEditor(QWidget* editor, std::function<void()> show, std::function<void(const QString&)> report)
    : editor_(editor), link_(new FieldLink(editor)),
      focusWatcher_(new FocusWatcher(editor, [this](bool focused) { applyFocus(focused); })), show_(std::move(show)),
      report_(std::move(report))
{
    QObject::connect(link_, &FieldLink::changed, editor, [this] { refresh(); });
}

DataEditor::~DataEditor()
{
    // The widget's children outlive this part of the editor: no more calls.
    QObject::disconnect(link_, nullptr, editor_, nullptr);
    editor_->removeEventFilter(focusWatcher_);
}

void DataEditor::refresh()
{
    if (!updating_)
        quietly(show_);
}

void DataEditor::quietly(const std::function<void()>& change)
{
    const bool was = updating_;
    updating_ = true;
    change();
    updating_ = was;
}

void DataEditor::writeTyped(const QString& text)
{
    QString error;
    bool ok = false;
    quietly([&] { ok = link_->write(text, &error); });
    if (!ok) {
        refresh();
        if (!error.isEmpty())
            report_(error);
    }
}

void DataEditor::applyFocus(bool focused)
{
    if (!focusColour_.isValid())
        return;
    QPalette p = editor_->palette();
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
    editor_->setPalette(p);
}

// ---- DataLineEdit --------------------------------------------------------------

DataLineEdit::DataLineEdit(QWidget* parent)
    : QLineEdit(parent), DataEditor(
                             this, [this] { showField(); }, [this](const QString& m) { emit writeFailed(m); })
{
    connect(this, &QLineEdit::textEdited, this, &DataLineEdit::onEdited);
}

void DataLineEdit::showField()
{
    QString t = link()->text();
    if (t != text())
        setText(t);
    if (kdb::Field* f = link()->field())
        if (f->dataType() == kdb::fldZSTRING && f->size() > 0)
            setMaxLength(f->size());
}

void DataLineEdit::onEdited(const QString& typed)
{
    if (updating())
        return;
    QString t = typed;
    if (upperCase() && t != t.toUpper()) {
        int pos = cursorPosition();
        t = t.toUpper();
        quietly([&] {
            setText(t);
            setCursorPosition(pos);
        });
    }
    writeTyped(t);
}

// ---- DataMemo -------------------------------------------------------------------

DataMemo::DataMemo(QWidget* parent)
    : QPlainTextEdit(parent), DataEditor(
                                  this, [this] { showField(); }, [this](const QString& m) { emit writeFailed(m); })
{
    // The cut of a text too long comes before the text is written.
    SetPlainTextMaxLength(this, 0);
    connect(this, &QPlainTextEdit::textChanged, this, &DataMemo::onChanged);
}

void DataMemo::showField()
{
    kdb::Field* f = link()->field();
    SetPlainTextMaxLength(this, f && f->dataType() == kdb::fldZSTRING ? f->size() : 0);
    QString t = link()->text();
    if (t != toPlainText())
        setPlainText(t);
}

void DataMemo::onChanged()
{
    if (updating() || isReadOnly())
        return;
    writeTyped(toPlainText());
}

void DataMemo::keyPressEvent(QKeyEvent* e)
{
    if (upperCase() && !e->text().isEmpty() && e->text() != e->text().toUpper()) {
        QKeyEvent up(e->type(), e->key(), e->modifiers(), e->text().toUpper(), e->isAutoRepeat(),
            static_cast<ushort>(e->count()));
        QPlainTextEdit::keyPressEvent(&up);
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

// ---- DataComboBox -----------------------------------------------------------------

DataComboBox::DataComboBox(QWidget* parent)
    : QComboBox(parent), DataEditor(
                             this, [this] { showField(); }, [this](const QString& m) { emit writeFailed(m); })
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentTextChanged, this, &DataComboBox::onText);
}

void DataComboBox::setReadOnly(bool on)
{
    readOnly_ = on;
    if (lineEdit())
        lineEdit()->setReadOnly(on);
}

void DataComboBox::showField()
{
    if (kdb::Field* f = link()->field(); f && lineEdit())
        lineEdit()->setMaxLength(f->dataType() == kdb::fldZSTRING && f->size() > 0 ? f->size() : 32767);
    QString t = link()->text();
    if (t != currentText())
        setCurrentText(t);
}

void DataComboBox::onText(const QString& typed)
{
    if (updating())
        return;
    if (readOnly_) {
        refresh();
        return;
    }
    QString t = upperCase() ? typed.toUpper() : typed;
    if (t != typed && lineEdit()) {
        quietly([&] {
            int pos = lineEdit()->cursorPosition();
            setCurrentText(t);
            lineEdit()->setCursorPosition(pos);
        });
    }
    writeTyped(t);
}

// ---- DataLookupComboBox ----------------------------------------------------------

DataLookupComboBox::DataLookupComboBox(QWidget* parent)
    : QComboBox(parent), DataEditor(
                             this, [this] { showField(); }, [this](const QString& m) { emit writeFailed(m); })
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, &DataLookupComboBox::onChosen);
}

void DataLookupComboBox::setListSource(kdb::Dataset* list, const std::string& keyField, const std::string& displayField)
{
    if (list_)
        disconnect(list_, nullptr, this, nullptr);
    list_ = list;
    keyField_ = keyField;
    displayField_ = displayField;
    if (list)
        connect(list, &kdb::Dataset::rowsReset, this, &DataLookupComboBox::reload);
    reload();
}

void DataLookupComboBox::reload()
{
    QVariant key = keyValue();
    quietly([&] {
        clear();
        if (list_ && list_->active()) {
            kdb::Field* k = list_->findField(keyField_);
            kdb::Field* d = list_->findField(displayField_);
            if (k && d) {
                list_->loadMoreRows(1 << 30);
                for (int r = 0; r < list_->loadedRowCount(); ++r)
                    addItem(list_->valueAt(r, d->index()).toString(), list_->valueAt(r, k->index()));
            }
        }
        setCurrentIndex(-1);
    });
    if (link()->field())
        refresh();
    else
        setKeyValue(key);
}

QVariant DataLookupComboBox::keyValue() const
{
    return currentIndex() >= 0 ? itemData(currentIndex()) : QVariant();
}

void DataLookupComboBox::setKeyValue(const QVariant& key)
{
    int found = -1;
    QString want = kdb::sql::trimRight(key.toString());
    for (int i = 0; i < count() && key.isValid() && !key.isNull(); ++i)
        if (kdb::sql::trimRight(itemData(i).toString()) == want) {
            found = i;
            break;
        }
    quietly([&] { setCurrentIndex(found); });
}

void DataLookupComboBox::showField()
{
    if (link()->field())
        setKeyValue(link()->field()->value());
}

void DataLookupComboBox::onChosen(int index)
{
    if (updating() || !link()->field() || index < 0)
        return;
    writeTyped(itemData(index).toString());
}

// ---- DataNavigator ---------------------------------------------------------------

DataNavigator::DataNavigator(QWidget* parent) : QWidget(parent)
{
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

void DataNavigator::bind(Dataset* dataset)
{
    if (dataset_)
        disconnect(dataset_, nullptr, this, nullptr);
    dataset_ = dataset;
    if (dataset) {
        connect(dataset, &Dataset::currentChanged, this, &DataNavigator::update);
        connect(dataset, &Dataset::stateChanged, this, &DataNavigator::update);
    }
    update();
}

void DataNavigator::run(void (Dataset::*move)())
{
    if (!dataset_)
        return;
    try {
        if (beforeMove)
            beforeMove();
        if (dataset_ && dataset_->active())
            (dataset_->*move)();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        emit moveFailed(kui::ExceptionText(e));
    }
    update();
}

void DataNavigator::update()
{
    bool has = dataset_ && dataset_->active() && dataset_->currentRow() >= 0;
    bool browsing = has && dataset_->state() == DatasetState::Browse;
    bool atFirst = !has || dataset_->currentRow() == 0;
    bool atLast = !has || (browsing ? dataset_->atLastRow() : false);
    first_->setEnabled(has && !atFirst);
    prior_->setEnabled(has && !atFirst);
    next_->setEnabled(has && !atLast);
    last_->setEnabled(has && !atLast);
}

}  // namespace kui
