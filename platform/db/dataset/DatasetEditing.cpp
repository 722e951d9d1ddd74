// Editing a dataset: the edit, insert and append states, post, cancel and
// delete, with the row lock a table dataset takes while a record is edited.
#include "platform/db/dataset/Dataset.h"

#include "platform/os/Abort.h"

namespace kdb {

void Dataset::setCurrentValue(int field, const QVariant& v)
{
    if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
        throw EDatabaseError("La fiche n'est pas en cours de saisie");
    buffer_.at(static_cast<size_t>(field)) = v;
    modified_ = true;
    if (!disabled_)
        emit fieldChanged(field);
    notifyCurrent();
}

void Dataset::requireBrowse(const char* what)
{
    if (!active())
        throw EDatabaseError(std::string("Opération impossible (") + what + ") : la table n'est pas ouverte");
    if (!canModify())
        throw EDatabaseError("Modification impossible : la table est en lecture seule");
}

void Dataset::edit()
{
    if (state_ == DatasetState::Edit || state_ == DatasetState::Insert)
        return;
    requireBrowse("modification");
    if (cur_ < 0) {  // an empty dataset edits a new record
        append();
        return;
    }
    const uint32_t handle = currentHandle();
    if (!lockRow(handle))
        throw EDBEngineError::locked(displayName(), "record being changed by another program");
    if (rowGone(handle)) {
        unlockRow(handle);
        throw EDBEngineError::recordDeleted(displayName(), "record " + std::to_string(handle) + " deleted");
    }
    lockedRow_ = handle;
    // read under the lock: the edits start from the record as it is now
    buffer_.assign(static_cast<size_t>(baseFieldCount_), QVariant());
    for (int i = 0; i < baseFieldCount_; ++i)
        buffer_[static_cast<size_t>(i)] = baseValue(handle, i);
    original_ = buffer_;
    modified_ = false;
    setState(DatasetState::Edit);
    notifyCurrent();
}

void Dataset::insert()
{
    requireBrowse("ajout");
    checkBrowseMode();
    beforeInsert_ = cur_;
    insertPos_ = cur_ < 0 ? 0 : cur_;
    buffer_.assign(static_cast<size_t>(baseFieldCount_), QVariant());
    modified_ = false;
    setState(DatasetState::Insert);
    notifyReset();
    newRecord();
}

void Dataset::append()
{
    requireBrowse("ajout");
    checkBrowseMode();
    loadAll();
    beforeInsert_ = cur_;
    insertPos_ = static_cast<int>(rows_.size());
    buffer_.assign(static_cast<size_t>(baseFieldCount_), QVariant());
    modified_ = false;
    setState(DatasetState::Insert);
    notifyReset();
    newRecord();
}

// Values set by the new-record event are defaults: an inserted record that
// holds nothing else is dropped, not posted, when the cursor moves.
void Dataset::newRecord()
{
    if (onNewRecord)
        onNewRecord(*this);
    modified_ = false;
}

void Dataset::repositionOn(uint32_t handle, int fallbackRow)
{
    int found = -1;
    if (handle) {
        for (int row = 0; loadUpTo(row); ++row)
            if (rows_[static_cast<size_t>(row)] == handle) {
                found = row;
                break;
            }
    }
    if (found < 0) {
        int row = std::max(0, fallbackRow);
        if (!loadUpTo(row))
            row = static_cast<int>(rows_.size()) - 1;
        found = row;
    }
    cur_ = found;
    bof_ = cur_ <= 0;
    eof_ = cur_ < 0;
}

void Dataset::post()
{
    emit updateRecord();
    if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
        return;
    if (state_ == DatasetState::Edit && rowGone(currentHandle()))  // nothing is written into a deleted record
        throw EDBEngineError::recordDeleted(displayName(), "record " + std::to_string(currentHandle()) + " deleted");
    if (beforePost)
        beforePost(*this);  // EAbort leaves the edits as they are
    bool inserting = state_ == DatasetState::Insert;
    uint32_t handle = writeRecord(inserting ? 0 : currentHandle(), buffer_);
    releaseRowLock();
    int fallback = inserting ? insertPos_ : cur_;
    bool inPlace = !inserting && keepsPlace(original_, buffer_);
    buffer_.clear();
    original_.clear();
    modified_ = false;
    insertPos_ = -1;
    state_ = DatasetState::Browse;
    if (!inPlace || !accepts(handle)) {  // the record moved (or left the filter): read the rows again
        resetRows();
        repositionOn(handle, fallback);
    }
    if (!disabled_)
        emit stateChanged();
    notifyReset();
    if (afterPost)
        afterPost(*this);
}

void Dataset::cancel()
{
    if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
        return;
    bool inserting = state_ == DatasetState::Insert;
    releaseRowLock();
    buffer_.clear();
    original_.clear();
    modified_ = false;
    insertPos_ = -1;
    state_ = DatasetState::Browse;
    if (inserting) {
        cur_ = beforeInsert_;
        if (cur_ >= static_cast<int>(rows_.size()))
            cur_ = static_cast<int>(rows_.size()) - 1;
        bof_ = cur_ <= 0;
        eof_ = cur_ < 0;
    }
    if (!disabled_)
        emit stateChanged();
    notifyReset();
    if (afterCancel)
        afterCancel(*this);
}

void Dataset::checkBrowseMode()
{
    emit updateRecord();
    if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
        return;
    if (modified_)
        post();
    else
        cancel();
}

void Dataset::remove()
{
    if (state_ == DatasetState::Insert) {
        cancel();
        return;
    }
    if (state_ == DatasetState::Edit)
        cancel();
    requireBrowse("suppression");
    if (cur_ < 0)
        throw EDatabaseError("Opération impossible : la table est vide");
    if (beforeDelete)
        beforeDelete(*this);
    uint32_t h = currentHandle();
    int row = cur_;
    deleteRecord(h);
    rows_.erase(rows_.begin() + row);
    loadUpTo(row);
    cur_ = std::min(row, static_cast<int>(rows_.size()) - 1);
    bof_ = cur_ <= 0;
    eof_ = cur_ < 0;
    notifyReset();
    if (afterDelete)
        afterDelete(*this);
    scrolled();
}

uint32_t Dataset::writeRecord(uint32_t, const std::vector<QVariant>&)
{
    throw EDatabaseError("Modification impossible : la table est en lecture seule");
}

bool Dataset::lockRow(uint32_t)
{
    return true;
}

void Dataset::unlockRow(uint32_t)
{
}

bool Dataset::rowGone(uint32_t)
{
    return false;
}

bool Dataset::currentRowGone()
{
    return active() && cur_ >= 0 && state_ != DatasetState::Insert && rowGone(currentHandle());
}

void Dataset::releaseRowLock()
{
    if (!lockedRow_)
        return;
    const uint32_t row = lockedRow_;
    lockedRow_ = 0;
    unlockRow(row);
}

void Dataset::deleteRecord(uint32_t)
{
    throw EDatabaseError("Modification impossible : la table est en lecture seule");
}

bool Dataset::keepsPlace(const std::vector<QVariant>&, const std::vector<QVariant>&) const
{
    return false;
}

}  // namespace kdb
