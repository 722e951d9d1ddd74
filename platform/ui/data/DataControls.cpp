#include "platform/ui/data/DataControls.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <QValidator>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/Table.h"
#include "platform/os/Abort.h"
#include "platform/ui/Messages.h"

namespace kui {

using kdb::Dataset;
using kdb::DatasetState;
using kdb::Field;

// ---- Plain-text length ------------------------------------------------------------

namespace {

// Watches one editor's document: where the last change put its text; then,
// once the change is complete, the letters the table's code page lacks in
// it made what the table will store, and the cut of what went beyond the
// limit.
class PlainTextLimit : public QObject {
public:
    PlainTextLimit(QWidget* editor, QTextDocument* document) : QObject(editor), doc_(document)
    {
        setObjectName(Name());
        connect(document, &QTextDocument::contentsChange, this, [this](int position, int, int added) {
            changeFrom_ = position;
            changeTo_ = position + added;
        });
    }

    static QString Name() { return QStringLiteral("kui_plainTextLimit"); }

    int maxLength = 0;
    int codePage = 0;  // 0: any character

    // Sets maxLength or codePage, the whole text then held to it.
    void set(int PlainTextLimit::*limit, int value)
    {
        value = std::max(0, value);
        if (this->*limit == value)
            return;
        this->*limit = value;
        enforceAll();
    }

    // The whole text, as after a limit set or changed.
    void enforceAll()
    {
        changeFrom_ = 0;
        changeTo_ = doc_->characterCount() - 1;
        enforce();
    }

    void enforce()
    {
        if (cutting_)
            return;
        cutting_ = true;
        if (codePage > 0)
            holdCodePage();
        if (maxLength > 0)
            cut();
        cutting_ = false;
    }

private:
    // The characters of the last change the code page lacks, one by one
    // (the length stays, line breaks are kept).
    void holdCodePage()
    {
        const int length = doc_->characterCount() - 1;
        const int from = std::clamp(changeFrom_, 0, length);
        const int to = std::clamp(changeTo_, from, length);
        if (from == to)
            return;
        QTextCursor part(doc_);
        part.setPosition(from);
        part.setPosition(to, QTextCursor::KeepAnchor);
        const QString typed = part.selectedText();
        const QString held = kdb::storableText(codePage, typed);
        if (held == typed)
            return;
        QTextCursor change(doc_);
        change.joinPreviousEditBlock();
        for (int i = 0; i < typed.size(); ++i) {
            if (held.at(i) == typed.at(i) || typed.at(i) == QChar::ParagraphSeparator ||
                typed.at(i) == QChar::LineSeparator)
                continue;
            change.setPosition(from + i);
            change.setPosition(from + i + 1, QTextCursor::KeepAnchor);
            change.insertText(QString(held.at(i)));
        }
        change.endEditBlock();
    }

    void cut()
    {
        const int length = doc_->characterCount() - 1;  // less the closing paragraph mark
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
        if (start > 0 && doc_->characterAt(start).isLowSurrogate())
            --start;  // never half a character
        QTextCursor cut(doc_);
        cut.joinPreviousEditBlock();
        cut.setPosition(start);
        cut.setPosition(end, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        cut.endEditBlock();
    }

    QTextDocument* doc_;
    int changeFrom_ = 0;
    int changeTo_ = 0;
    bool cutting_ = false;
};

// The limit an editor has already; null when it has none.
PlainTextLimit* FoundLimit(const QObject* editor)
{
    return dynamic_cast<PlainTextLimit*>(
        editor->findChild<QObject*>(PlainTextLimit::Name(), Qt::FindDirectChildrenOnly));
}

// The limit of a plain or rich text editor, made at the first call. The
// document is not changed while it reports a change: the limit waits for
// the end of the change (the editor's textChanged).
template <class Editor> PlainTextLimit* LimitOf(Editor* editor)
{
    if (PlainTextLimit* limit = FoundLimit(editor))
        return limit;
    auto* limit = new PlainTextLimit(editor, editor->document());
    QObject::connect(editor, &Editor::textChanged, limit, &PlainTextLimit::enforce);
    return limit;
}

// A one-line editor's text as the code page holds it, typed, pasted or set.
class CodePageValidator : public QValidator {
public:
    CodePageValidator(int codePage, QObject* parent) : QValidator(parent), codePage_(codePage) { }
    int codePage() const { return codePage_; }
    State validate(QString& input, int&) const override
    {
        input = kdb::storableText(codePage_, input);
        return Acceptable;
    }

private:
    int codePage_;
};

}  // namespace

int DatasetCodePage(kdb::Dataset* dataset)
{
    auto* table = dynamic_cast<kdb::TableDataset*>(dataset);
    return table && table->table() ? table->table()->codePage() : kdb::kCodePage1252;
}

void SetPlainTextMaxLength(QPlainTextEdit* editor, int maxLength)
{
    LimitOf(editor)->set(&PlainTextLimit::maxLength, maxLength);
}

int PlainTextMaxLength(const QPlainTextEdit* editor)
{
    const PlainTextLimit* limit = FoundLimit(editor);
    return limit ? limit->maxLength : 0;
}

void SetCodePage(QLineEdit* editor, int codePage)
{
    if (auto* v = dynamic_cast<const CodePageValidator*>(editor->validator()); v && v->codePage() == codePage)
        return;
    editor->setValidator(codePage > 0 ? new CodePageValidator(codePage, editor) : nullptr);
    if (codePage > 0) {
        const QString held = kdb::storableText(codePage, editor->text());
        if (held != editor->text())
            editor->setText(held);
    }
}

void SetCodePage(QPlainTextEdit* editor, int codePage)
{
    LimitOf(editor)->set(&PlainTextLimit::codePage, codePage);
}

void SetCodePage(QTextEdit* editor, int codePage)
{
    LimitOf(editor)->set(&PlainTextLimit::codePage, codePage);
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
        if (f->dataType() == kdb::fldZSTRING && f->size() > 0) {
            setMaxLength(f->size());
            SetCodePage(this, DatasetCodePage(link()->dataset()));
        }
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
    if (f && (f->dataType() == kdb::fldZSTRING || f->dataType() == kdb::fldBLOB))
        SetCodePage(this, DatasetCodePage(link()->dataset()));
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
    if (kdb::Field* f = link()->field(); f && lineEdit()) {
        lineEdit()->setMaxLength(f->dataType() == kdb::fldZSTRING && f->size() > 0 ? f->size() : 32767);
        if (f->dataType() == kdb::fldZSTRING)
            SetCodePage(lineEdit(), DatasetCodePage(link()->dataset()));
    }
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
