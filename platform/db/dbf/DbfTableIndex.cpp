#include "platform/db/dbf/DbfTable.h"

#include "platform/db/core/Codepage.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- index -----------------------------------------------------------------------

std::vector<TagInfo> DbfTable::tags() const
{
    std::vector<TagInfo> out;
    out.reserve(tags_.size());
    for (const auto& t : tags_)
        out.push_back(t.info);
    return out;
}

std::string DbfTable::keyForSeek(const Tag& tag, const QVariant& key, bool partial) const
{
    switch (tag.info.keyType) {
    case 'D': {
        QDate d = key.typeId() == QMetaType::QDate || key.typeId() == QMetaType::QDateTime
            ? key.toDate()
            : dateFromText(key.toString().trimmed());
        if (key.isNull() || !key.isValid())
            return mdx::encodeBlankDate();
        if (!d.isValid())
            throw EDBEngineError::invalidParam(path_, "tag " + tag.info.name + ": key is not a date");
        return mdx::encodeDate(d.year(), d.month(), d.day());
    }
    case 'N': {
        bool ok = false;
        const double v = key.isNull() ? 0.0 : key.toDouble(&ok);
        if (!key.isNull() && !ok)
            throw EDBEngineError::invalidParam(path_, "tag " + tag.info.name + ": key is not a number");
        auto k = mdx::encodeNumeric(v);
        if (!k)
            throw EDBEngineError::invalidParam(path_, "tag " + tag.info.name + ": key is not a number");
        return *k;
    }
    default: {
        std::string s = key.typeId() == QMetaType::QDate
            ? key.toDate().toString(QStringLiteral("yyyyMMdd")).toStdString()
            : toCodePage(codePage_, key.toString());
        if (s.size() > static_cast<size_t>(tag.keyLen))
            s.resize(static_cast<size_t>(tag.keyLen));
        return partial ? s : mdx::encodeCharacter(s, tag.keyLen);
    }
    }
}

class DbfTable::Cursor : public TagCursor {
public:
    Cursor(DbfTable& t, size_t tag, mdx::MdxCursor c)
        : t_(t), tag_(tag), c_(std::move(c)), generation_(t.indexGeneration_), name_(t.tags_.at(tag).info.name)
    {
    }
    uint32_t first() override
    {
        return run([&] { return c_.first(); });
    }
    uint32_t last() override
    {
        return run([&] { return c_.last(); });
    }
    uint32_t next() override
    {
        if (!on_)
            return 0;
        return run([&] { return c_.next(); }, true);
    }
    uint32_t prior() override
    {
        if (!on_)
            return 0;
        return run([&] { return c_.prior(); }, true);
    }
    uint32_t current() const override { return on_ ? recNo_ : 0; }
    std::string_view currentKey() const override { return on_ ? std::string_view(c_.key()) : std::string_view(); }
    void scanForward(const std::function<bool(uint32_t, std::string_view)>& visit) override
    {
        // A batch of steps per hold of the header: others' changes wait
        // at most one batch, and the index is checked for them once per batch.
        constexpr int kBatch = 4096;
        while (on_) {
            IndexReadHold hold(t_);
            for (int n = 0; n < kBatch; ++n) {
                if (!on_)
                    return;
                if (!visit(recNo_, c_.key()))
                    return;
                run([&] { return c_.next(); }, true);
            }
        }
    }
    uint32_t seek(const QVariant& key, bool partial) override
    {
        const auto& tag = t_.tags_.at(tag_);
        const std::string k = t_.keyForSeek(tag, key, partial);
        const bool prefix = partial && tag.info.keyType == 'C';
        bool match = false;
        run([&] {
            if (!c_.seek(k))
                return false;
            const std::string& got = c_.key();
            match = prefix ? got.compare(0, k.size(), k) == 0 : got == k;
            return true;
        });
        return match ? recNo_ : 0;
    }

private:
    template <class F> uint32_t run(F f, bool fromPosition = false)
    {
        {
            HeaderLock lock(t_, false);
            if (generation_ != t_.indexGeneration_) {
                // The index file was replaced: continue on the new one, from no
                // position (a step from the old position answers 0).
                if (!t_.mdx_ || t_.tagIndex(name_) < 0)
                    throw EDBEngineError::invalidHandle("tag " + name_ + " no longer exists in " + t_.path_);
                tag_ = static_cast<size_t>(t_.tagIndex(name_));
                c_ = t_.mdx_->cursor(name_);
                generation_ = t_.indexGeneration_;
                on_ = false;
                recNo_ = 0;
                if (fromPosition)
                    return 0;
            }
            // A step from the position reads nodes: another program's flushed
            // change was noticed when the header was taken (or by the batch
            // hold).
            on_ = f();
            recNo_ = on_ ? c_.recno() : 0;
            // An entry of a record another program appended: the table learns
            // its new count, so that the record can be read.
            if (recNo_ > t_.count_)
                t_.refreshCount();
            if (recNo_ <= t_.count_)
                return recNo_;
        }
        // An entry of a record after the count the header has even now: the
        // records after the count are taken back (the index is compared
        // with them, and built anew when it differs).
        t_.takeBackAfterCount(false);
        if (recNo_ > t_.count_)
            throw EDBEngineError::fileCorrupt(
                t_.path_, "the index names record " + std::to_string(recNo_) + ", which the table does not hold");
        return recNo_;
    }
    DbfTable& t_;
    size_t tag_;
    mdx::MdxCursor c_;
    uint64_t generation_;
    std::string name_;
    bool on_ = false;
    uint32_t recNo_ = 0;
};

std::unique_ptr<TagCursor> DbfTable::openTag(std::string_view tagName)
{
    const int i = tagIndex(tagName);
    if (i < 0 || !mdx_)
        throw EDBEngineError::invalidParam(path_, "no tag " + std::string(tagName));
    HeaderLock lock(*this, false);
    return std::make_unique<Cursor>(*this, static_cast<size_t>(i), mdx_->cursor(tags_[i].info.name));
}

bool DbfTable::takeHeaderInTurn(bool exclusive)
{
    // An open that may write waits for the header only while holding the
    // turnstile, so that a program waiting for its turn is not overtaken
    // again and again. When nobody holds the turnstile (nobody waits) and
    // the header is free at once, the header is simply taken: whoever comes
    // to wait later finds the turnstile held and queues behind it.
    const bool turn = file_.writable();
    if (turn && !file_.lockedByOthers(kLockTurn, 1) && file_.tryLock(kLockHeader, 1, exclusive))
        return true;
    if (turn && !file_.lockWait(kLockTurn, 1, true, lockTimeoutMs_))
        return false;
    const bool got = file_.lockWait(kLockHeader, 1, exclusive, lockTimeoutMs_);
    if (turn)
        file_.unlock(kLockTurn, 1);
    return got;
}

void DbfTable::takeHeaderShared()
{
    if (!takeHeaderInTurn(false))
        throw EDBEngineError::locked(path_, "table is locked by another user");
}

void DbfTable::beginIndexRead()
{
    if (readHold_ > 0) {
        ++readHold_;
        return;
    }
    if (mode_.exclusive || statementHeld_) {
        readHold_ = 1;
        ++holdCount_;
        return;
    }
    checkNoStatementLeft();
    for (int attempt = 0;; ++attempt) {
        takeHeaderShared();
        readHoldLocked_ = true;
        readHold_ = 1;
        ++holdCount_;
        try {
            // Changes flushed by others since the last read; an update left
            // unfinished by a program that is gone is mended first (without
            // an index, a statement's journal tells of it).
            if (!mdx_ ? !journalOnDisk() : mdx_->refreshHeld()) {
                if (mdx_)
                    mdx_->setLockedByCaller(true, true);
                return;
            }
            // Each new attempt needs another program killed in the middle
            // of a change while this one mended the last.
            if (attempt >= 8)
                throw mdx_ ? EDBEngineError::indexOutOfDate(indexPath(), "update interrupted")
                           : EDBEngineError::locked(path_, "a statement left unfinished is being undone");
        } catch (...) {
            endIndexRead();
            throw;
        }
        endIndexRead();
        if (mdx_)
            recoverUnfinished(false);
        else
            recoverKilledStatement(false);
    }
}

void DbfTable::endIndexRead()
{
    if (readHold_ == 0 || --readHold_ > 0)
        return;
    if (readHoldLocked_ && mdx_)
        mdx_->setLockedByCaller(false);
    if (readHoldLocked_)
        file_.unlock(kLockHeader, 1);
    readHoldLocked_ = false;
}

}  // namespace kdb
