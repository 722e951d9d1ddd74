#include "platform/db/dataset/Dataset.h"

#include <QStringList>

#include <algorithm>

#include "platform/db/dataset/DatasetText.h"
#include "platform/db/sql/RawBytes.h"
#include "platform/os/Abort.h"

namespace kdb {

using detail::isNumberType;
using detail::textOf;

namespace {

constexpr int kBatch = 64;  // rows read at a time when the cursor runs past the rows read

std::string upper(const std::string& s)
{
    return QString::fromStdString(s).toUpper().toStdString();
}

}  // namespace

// ---- Dataset -------------------------------------------------------------------

Dataset::Dataset(QObject* parent) : QObject(parent)
{
}
Dataset::~Dataset() = default;

QVariant Dataset::toColumnValue(const QVariant& v, const FieldInfo& c)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (c.type) {
    case fldZSTRING: {
        QString s = sql::trimRight(textOf(v));
        if (c.width > 0 && s.size() > c.width)
            s = s.left(c.width);
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case fldBLOB: {
        QString s = textOf(v);
        return s.isEmpty() ? QVariant() : QVariant(s);
    }
    case fldDATE: {
        if (v.typeId() == QMetaType::QDate)
            return v.toDate().isValid() ? v : QVariant();
        QDate d = sql::parseDisplayDate(v.toString());
        if (!d.isValid())
            d = sql::parseSqlDate(v.toString());
        if (!d.isValid())
            throw EDatabaseError("'" + v.toString().toStdString() + "' n'est pas une date valide");
        return d;
    }
    case fldINT16:
    case fldINT32: {
        bool ok = false;
        double d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            throw EDatabaseError("'" + v.toString().toStdString() + "' n'est pas un nombre entier valide");
        return static_cast<int>(d);
    }
    case fldFLOAT:
    case fldBCD: {
        bool ok = false;
        double d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            throw EDatabaseError("'" + v.toString().toStdString() + "' n'est pas un nombre valide");
        if (c.decimals == 0 && d == static_cast<double>(static_cast<int>(d)))
            return static_cast<int>(d);
        return d;
    }
    case fldBOOL:
        return v.toBool();
    default:
        return v;
    }
}

void Dataset::setState(DatasetState s)
{
    if (state_ == s)
        return;
    state_ = s;
    if (!disabled_)
        emit stateChanged();
}

void Dataset::notifyReset()
{
    if (disabled_) {
        pendingReset_ = true;
        return;
    }
    emit rowsReset();
    emit currentChanged();
}

void Dataset::notifyCurrent()
{
    if (disabled_) {
        pendingReset_ = true;
        return;
    }
    emit currentChanged();
}

void Dataset::disableControls()
{
    ++disabled_;
}

void Dataset::enableControls()
{
    if (disabled_ > 0 && --disabled_ == 0 && pendingReset_) {
        pendingReset_ = false;
        emit stateChanged();
        emit rowsReset();
        emit currentChanged();
    }
}

void Dataset::buildFields()
{
    fields_.clear();
    std::vector<FieldInfo> cols = baseColumns();
    baseFieldCount_ = static_cast<int>(cols.size());
    for (size_t i = 0; i < cols.size(); ++i)
        fields_.push_back(std::make_unique<Field>(this, static_cast<int>(i), cols[i]));
    for (const LookupDef& l : lookups_) {
        FieldInfo c;
        c.name = l.name;
        c.width = l.width;
        auto f = std::make_unique<Field>(this, static_cast<int>(fields_.size()), c);
        f->lookup_ = true;
        f->keyField_ = l.keyField;
        f->lookupKeyField_ = l.lookupKeyField;
        f->lookupResultField_ = l.resultField;
        f->lookupDataset_ = l.source;
        f->readOnly = true;
        fields_.push_back(std::move(f));
    }
    for (const DisplayDef& d : displays_) {
        Field* f = findField(d.name);
        if (!f)
            continue;
        if (!d.label.isEmpty())
            f->displayLabel = d.label;
        if (d.alignment)
            f->alignment = d.alignment;
        if (d.width)
            f->displayWidth = d.width;
        f->visible = d.visible;
    }
}

void Dataset::open()
{
    if (active())
        return;
    try {
        doOpen();
    } catch (...) {
        fields_.clear();
        rows_.clear();
        cur_ = -1;
        exhausted_ = true;
        bof_ = eof_ = true;
        throw;
    }
    buildFields();
    filterParsed_ = false;
    parseFilter();
    resetRows();
    state_ = DatasetState::Browse;
    bof_ = true;
    eof_ = !loadUpTo(0);
    cur_ = eof_ ? -1 : 0;
    if (!disabled_)
        emit stateChanged();
    notifyReset();
    if (afterOpen)
        afterOpen(*this);
    scrolled();
}

void Dataset::close()
{
    if (!active())
        return;
    releaseRowLock();
    doClose();
    state_ = DatasetState::Inactive;
    rows_.clear();
    buffer_.clear();
    modified_ = false;
    cur_ = -1;
    exhausted_ = true;
    bof_ = eof_ = true;
    fields_.clear();
    if (!disabled_)
        emit stateChanged();
    notifyReset();
}

void Dataset::refresh()
{
    if (!active())
        return;
    checkBrowseMode();
    uint32_t h = currentHandle();
    int row = cur_;
    // the rows before the current one that were read, read again (bounded)
    const int before = std::min(row, 4 * kBatch);
    rereadBase();
    const int sought = windowOn(h);
    if (sought > 0) {
        cur_ = 0;
    } else if (sought == 0 && !rows_.empty()) {
        cur_ = 0;  // the row is gone: the one that follows it
    } else if (sought == 0 && loadBefore(1, false) > 0) {
        cur_ = static_cast<int>(rows_.size()) - 1;  // it was the last one
    } else {
        resetRows();
        repositionOn(h, row);
    }
    if (cur_ >= 0 && !headLoaded_ && before > 0)
        loadBefore(before, false);
    bof_ = cur_ <= 0 && headLoaded_;
    eof_ = cur_ < 0;
    notifyReset();
}

void Dataset::resetRows()
{
    rows_.clear();
    exhausted_ = false;
    headLoaded_ = true;
    rewindBase();
}

int Dataset::windowOn(uint32_t handle)
{
    if (!handle || !seekBase(handle))
        return -1;
    rows_.clear();
    exhausted_ = false;
    headLoaded_ = false;
    cur_ = -1;
    loadUpTo(0);
    return !rows_.empty() && rows_.front() == handle ? 1 : 0;
}

int Dataset::loadBefore(int count, bool notify)
{
    int added = 0;
    std::vector<uint32_t> batch, taken;
    while (!headLoaded_ && (count < 0 || added < count)) {
        batch.clear();
        const int want = count < 0 ? 4 * kBatch : std::max(1, std::min(kBatch, count - added));
        const bool more = fetchBaseBackward(batch, want);
        for (uint32_t h : batch)
            if (accepts(h)) {
                taken.push_back(h);
                ++added;
            }
        if (!more)
            headLoaded_ = true;
    }
    if (added == 0)
        return 0;
    std::reverse(taken.begin(), taken.end());
    rows_.insert(rows_.begin(), taken.begin(), taken.end());
    if (cur_ >= 0)
        cur_ += added;
    if (insertPos_ >= 0)
        insertPos_ += added;
    if (beforeInsert_ >= 0)
        beforeInsert_ += added;
    if (notify)
        notifyReset();
    return added;
}

void Dataset::loadRowsBefore(int count)
{
    if (active() && count > 0)
        loadBefore(count);
}

bool Dataset::seekBase(uint32_t)
{
    return false;
}

bool Dataset::fetchBaseBackward(std::vector<uint32_t>&, int)
{
    return false;
}

bool Dataset::loadUpTo(int row)
{
    std::vector<uint32_t> batch;
    while (static_cast<int>(rows_.size()) <= row && !exhausted_) {
        batch.clear();
        bool more = fetchBase(batch, std::max(kBatch, row + 1 - static_cast<int>(rows_.size())));
        for (uint32_t h : batch)
            if (accepts(h))
                rows_.push_back(h);
        if (!more)
            exhausted_ = true;
    }
    return row >= 0 && static_cast<int>(rows_.size()) > row;
}

void Dataset::loadAll()
{
    while (!exhausted_)
        loadUpTo(static_cast<int>(rows_.size()) + 4 * kBatch);
}

void Dataset::loadMoreRows(int count)
{
    if (active())
        loadUpTo(static_cast<int>(rows_.size()) + count - 1);
}

int Dataset::loadedRowCount() const
{
    return static_cast<int>(rows_.size()) + (state_ == DatasetState::Insert ? 1 : 0);
}

void Dataset::parseFilter()
{
    filterField_ = -1;
    filterValue_ = QVariant();
    filterParsed_ = true;
    QString t = filterText_.trimmed();
    if (t.isEmpty() || fields_.empty())
        return;
    int eq = t.indexOf('=');
    if (eq <= 0)
        throw EDatabaseError("Filtre incorrect : " + t.toStdString());
    QString name = t.left(eq).trimmed();
    QString val = t.mid(eq + 1).trimmed();
    if (val.size() < 2 || !val.startsWith('\'') || !val.endsWith('\''))
        throw EDatabaseError("Filtre incorrect : " + t.toStdString());
    val = val.mid(1, val.size() - 2).replace("''", "'");
    Field* f = findField(name.toStdString());
    if (!f || f->isLookup())
        throw EDatabaseError("Champ '" + name.toStdString() + "' introuvable");
    filterField_ = f->index();
    if (f->dataType() == fldDATE) {
        QDate d = sql::parseDisplayDate(val);
        if (!d.isValid() && !val.trimmed().isEmpty())
            throw EDatabaseError("Invalid filter: '" + val.toStdString() + "' n'est pas une date valide");
        filterValue_ = d.isValid() ? QVariant(d) : QVariant();
    } else {
        filterValue_ = sql::trimRight(val);
    }
}

bool Dataset::accepts(uint32_t handle)
{
    if (!filtered_)
        return true;
    if (filterField_ >= 0 && !baseRowsMeetFilter()) {
        QVariant v = baseValue(handle, filterField_);
        const FieldInfo& c = fields_[static_cast<size_t>(filterField_)]->info_;
        if (c.type == fldDATE) {
            if (filterValue_.isNull() != (!v.isValid() || v.isNull()))
                return false;
            if (!filterValue_.isNull() && v.toDate() != filterValue_.toDate())
                return false;
        } else if (isNumberType(c.type)) {
            bool ok = false;
            double want = filterValue_.toString().toDouble(&ok);
            if (!ok || v.isNull() || v.toDouble() != want)
                return false;
        } else if (sql::trimRight(textOf(v)) != filterValue_.toString()) {
            return false;
        }
    }
    if (onFilterRecord) {
        // the handler reads the candidate through the fields
        std::vector<uint32_t> saved;
        int savedCur = cur_;
        DatasetState savedState = state_;
        std::vector<QVariant> savedBuf;
        saved.swap(rows_);
        rows_.push_back(handle);
        cur_ = 0;
        state_ = DatasetState::Browse;
        savedBuf.swap(buffer_);
        bool ok = true;
        try {
            ok = onFilterRecord(*this);
        } catch (...) {
            rows_.swap(saved);
            cur_ = savedCur;
            state_ = savedState;
            buffer_.swap(savedBuf);
            throw;
        }
        rows_.swap(saved);
        cur_ = savedCur;
        state_ = savedState;
        buffer_.swap(savedBuf);
        return ok;
    }
    return true;
}

void Dataset::setFilter(const QString& text)
{
    if (text == filterText_)
        return;
    filterText_ = text;
    if (!active())
        return;
    parseFilter();
    if (filtered_) {
        checkBrowseMode();
        resetRows();
        notifyReset();
        first();
    }
}

void Dataset::setFiltered(bool on)
{
    if (on == filtered_)
        return;
    filtered_ = on;
    if (!active())
        return;
    checkBrowseMode();
    resetRows();
    notifyReset();
    first();
}

uint32_t Dataset::currentHandle() const
{
    return cur_ >= 0 && cur_ < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(cur_)] : 0;
}

uint32_t Dataset::physicalRecNo() const
{
    return static_cast<uint32_t>(recNo());
}

void Dataset::scrolled()
{
    notifyCurrent();
    if (afterScroll)
        afterScroll(*this);
}

void Dataset::first()
{
    if (!active())
        return;
    checkBrowseMode();
    if (!headLoaded_) {
        resetRows();
        notifyReset();
    }
    bof_ = true;
    eof_ = !loadUpTo(0);
    cur_ = eof_ ? -1 : 0;
    scrolled();
}

void Dataset::last()
{
    if (!active())
        return;
    checkBrowseMode();
    loadAll();
    eof_ = true;
    bof_ = rows_.empty();
    cur_ = static_cast<int>(rows_.size()) - 1;
    scrolled();
}

int Dataset::moveBy(int distance)
{
    if (!active() || distance == 0)
        return 0;
    checkBrowseMode();
    if (cur_ < 0) {
        eof_ = bof_ = true;
        return 0;
    }
    int target = cur_ + distance;
    int moved;
    if (distance > 0) {
        if (!loadUpTo(target)) {
            target = static_cast<int>(rows_.size()) - 1;
            eof_ = true;
        } else {
            eof_ = false;
        }
        bof_ = false;
    } else {
        if (target < 0 && !headLoaded_) {
            const int added = loadBefore(-target + kBatch);
            target += added;  // cur_ moved up as well
        }
        if (target < 0) {
            target = 0;
            bof_ = true;
        } else {
            bof_ = false;
        }
        eof_ = false;
    }
    moved = target - cur_;
    cur_ = target;
    if (moved != 0)
        scrolled();
    return moved;
}

void Dataset::next()
{
    moveBy(1);
}
void Dataset::prior()
{
    moveBy(-1);
}

bool Dataset::eof() const
{
    return !active() || eof_;
}
bool Dataset::bof() const
{
    return !active() || bof_;
}

bool Dataset::isEmpty()
{
    if (!active())
        return true;
    if (state_ == DatasetState::Insert)
        return false;
    return !loadUpTo(0);
}

bool Dataset::atFirstRow()
{
    if (!active() || cur_ < 0 || state_ != DatasetState::Browse)
        return false;
    if (cur_ == 0 && !headLoaded_)
        loadBefore(kBatch);
    return cur_ == 0;
}

bool Dataset::atLastRow()
{
    if (!active() || cur_ < 0 || state_ != DatasetState::Browse)
        return false;
    return !loadUpTo(cur_ + 1);
}

int Dataset::recordCount()
{
    if (!active())
        return 0;
    loadBefore(-1);
    loadAll();
    return static_cast<int>(rows_.size());
}

int Dataset::approximateRecordCount()
{
    if (!active())
        return 0;
    if (!filtered_ && state_ == DatasetState::Browse) {
        const int n = quickCount();
        if (n >= 0)
            return n;
    }
    return recordCount();
}

int Dataset::recNo() const
{
    if (state_ == DatasetState::Insert)
        return 0;
    if (cur_ >= 0 && !headLoaded_)
        const_cast<Dataset*>(this)->loadBefore(-1);
    return cur_ >= 0 ? cur_ + 1 : 0;
}

void Dataset::setRecNo(int recNo)
{
    moveToRow(recNo - 1);
}

void Dataset::moveToRow(int row)
{
    if (!active())
        return;
    // The record being edited is not left: staying on it posts nothing.
    if (state_ == DatasetState::Insert && row == insertPos_)
        return;
    if (state_ == DatasetState::Edit && row == cur_)
        return;
    checkBrowseMode();
    if (row < 0 || !loadUpTo(row))
        return;
    if (row == cur_)
        return;
    cur_ = row;
    bof_ = eof_ = false;
    scrolled();
}

int Dataset::currentRow() const
{
    if (state_ == DatasetState::Insert)
        return insertPos_;
    return cur_;
}

bool Dataset::matches(int field, uint32_t handle, const QVariant& value, LocateOptions o)
{
    QVariant v = baseValue(handle, field);
    const FieldInfo& c = fields_[static_cast<size_t>(field)]->info_;
    if (c.type == fldDATE) {
        QDate want = value.typeId() == QMetaType::QDate ? value.toDate() : sql::parseDisplayDate(value.toString());
        return v.isValid() && !v.isNull() && v.toDate() == want;
    }
    if (isNumberType(c.type)) {
        bool ok = false;
        double want = value.toString().trimmed().toDouble(&ok);
        return ok && v.isValid() && !v.isNull() && v.toDouble() == want;
    }
    QString have = sql::trimRight(textOf(v));
    QString want = o.partialKey ? textOf(value) : sql::trimRight(textOf(value));
    Qt::CaseSensitivity cs = o.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return o.partialKey ? have.startsWith(want, cs) : have.compare(want, cs) == 0;
}

int Dataset::findRow(int field, const QVariant& value, LocateOptions o)
{
    loadBefore(-1);
    // A text column of a table's records, case kept: the stored bytes are
    // compared with those of the text sought (the same text is the same
    // bytes, trailing blanks aside), without making a value of each row. A
    // text with a letter the table cannot store is compared on values.
    Table* table = baseTable();
    std::string sought;
    const bool stored = table && !o.caseInsensitive && field < baseFieldCount_ && table->rawKind(field) == 'C' &&
        sql::toRawText(o.partialKey ? textOf(value) : sql::trimRight(textOf(value)), sought);
    for (int row = 0; loadUpTo(row); ++row) {
        const uint32_t handle = rows_[static_cast<size_t>(row)];
        if (!stored) {
            if (matches(field, handle, value, o))
                return row;
            continue;
        }
        const std::string_view have = sql::rawTrimRight(table->rawField(handle, field));
        if (o.partialKey ? have.starts_with(sought) : have == sought)
            return row;
    }
    return -1;
}

bool Dataset::locate(const std::string& fieldName, const QVariant& value, LocateOptions options)
{
    if (!active())
        return false;
    checkBrowseMode();
    Field& f = fieldByName(fieldName);
    if (f.isLookup())
        throw EDatabaseError("Le champ '" + fieldName + "' ne peut pas servir à une recherche");
    const int row = findRow(f.index(), value, options);
    if (row < 0)
        return false;
    cur_ = row;
    bof_ = eof_ = false;
    scrolled();
    return true;
}

bool Dataset::gotoRecord(uint32_t physicalRecNo)
{
    if (!active() || physicalRecNo == 0)
        return false;
    checkBrowseMode();
    auto on = [&](int row) {
        cur_ = row;
        bof_ = row == 0 && headLoaded_;
        eof_ = false;
        scrolled();
        return true;
    };
    const auto it = std::find(rows_.begin(), rows_.end(), physicalRecNo);
    if (it != rows_.end())
        return on(static_cast<int>(it - rows_.begin()));
    const uint32_t was = currentHandle();
    const int wasRow = cur_;
    const int sought = windowOn(physicalRecNo);
    if (sought > 0) {
        // a batch before it too, so that a view shows the row with some before it
        cur_ = 0;
        loadBefore(kBatch, false);
        notifyReset();
        return on(cur_);
    }
    if (sought == 0) {
        // no such row (deleted, filtered out): back on the row the cursor was on
        if (windowOn(was) > 0) {
            cur_ = 0;
        } else {
            resetRows();
            repositionOn(was, wasRow);
        }
        notifyReset();
        return false;
    }
    // no seeking here: the rest of the rows are read
    for (int row = static_cast<int>(rows_.size()); loadUpTo(row); ++row)
        if (rows_[static_cast<size_t>(row)] == physicalRecNo)
            return on(row);
    return false;
}

QVariant Dataset::lookup(const std::string& keyField, const QVariant& key, const std::string& resultField)
{
    if (!active())
        return {};
    Field& k = fieldByName(keyField);
    Field& r = fieldByName(resultField);
    if (key.isNull() || !key.isValid())
        return {};
    const int row = findRow(k.index(), key, {});
    return row < 0 ? QVariant() : fieldValue(r.index(), rows_[static_cast<size_t>(row)], nullptr);
}

Field* Dataset::findField(const std::string& name)
{
    QString n = QString::fromStdString(name).trimmed();
    for (auto& f : fields_)
        if (QString::fromStdString(f->fieldName()).compare(n, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

Field& Dataset::fieldByName(const std::string& name)
{
    Field* f = findField(name);
    if (!f)
        throw EDatabaseError("Champ '" + name + "' introuvable");
    return *f;
}

void Dataset::addLookupField(const std::string& name, const std::string& keyField, Dataset* source,
    const std::string& lookupKeyField, const std::string& resultField, int width)
{
    if (active())
        throw EDatabaseError("Impossible d'ajouter un champ à une table ouverte");
    lookups_.push_back({upper(name), keyField, lookupKeyField, resultField, source, width});
}

void Dataset::setFieldDisplay(
    const std::string& name, const QString& label, Qt::Alignment alignment, int width, bool visible)
{
    displays_.push_back({name, label, alignment, width, visible});
    if (Field* f = findField(name)) {
        if (!label.isEmpty())
            f->displayLabel = label;
        if (alignment)
            f->alignment = alignment;
        if (width)
            f->displayWidth = width;
        f->visible = visible;
    }
}

QVariant Dataset::fieldValue(int field, uint32_t handle, const std::vector<QVariant>* buffer)
{
    const Field& f = *fields_.at(static_cast<size_t>(field));
    if (f.lookup_) {
        if (!f.lookupDataset_)
            return {};
        Field* key = findField(f.keyField_);
        if (!key || key->isLookup())
            return {};
        QVariant k = buffer ? (*buffer)[static_cast<size_t>(key->index())]
                            : (handle ? baseValue(handle, key->index()) : QVariant());
        return f.lookupDataset_->lookup(f.lookupKeyField_, k, f.lookupResultField_);
    }
    if (buffer)
        return (*buffer)[static_cast<size_t>(field)];
    return handle ? baseValue(handle, field) : QVariant();
}

QVariant Dataset::currentValue(int field) const
{
    auto* self = const_cast<Dataset*>(this);
    if (!active() || field < 0 || field >= fieldCount())
        return {};
    if (state_ == DatasetState::Edit || state_ == DatasetState::Insert)
        return self->fieldValue(field, 0, &buffer_);
    return self->fieldValue(field, currentHandle(), nullptr);
}

QVariant Dataset::valueAt(int row, int field)
{
    if (!active() || field < 0 || field >= fieldCount())
        return {};
    if (state_ == DatasetState::Insert) {
        if (row == insertPos_)
            return fieldValue(field, 0, &buffer_);
        if (row > insertPos_)
            --row;
    } else if (state_ == DatasetState::Edit && row == cur_) {
        return fieldValue(field, 0, &buffer_);
    }
    if (!loadUpTo(row))
        return {};
    return fieldValue(field, rows_[static_cast<size_t>(row)], nullptr);
}

}  // namespace kdb
