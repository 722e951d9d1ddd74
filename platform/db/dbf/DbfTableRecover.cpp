#include "platform/db/dbf/DbfTable.h"

#include <utility>

#include "platform/db/core/DamageLog.h"
#include "platform/db/core/FileSystem.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- an update left unfinished ---------------------------------------------------
//
// A program killed in the middle of a change leaves the index marked "in
// update" (the nodes it had written, perhaps half of them) and perhaps a
// record written after the table's count; one killed after its change but
// before the change was forced to the disk leaves it marked "pending", which
// only an open that finds nobody else at the table takes as unfinished (a
// power cut leaves it so too). Every change runs under the header lock, and
// a killed program's locks go with it: whoever holds the header and finds
// such a mark knows that its writer is gone. It then mends the table for
// everyone, without asking anybody to leave: a record after the count is
// removed (the append that wrote it never ended, nobody was told it was
// written), the index is walked and compared with the table entry by entry
// and, when it matches, forced and unmarked, else built anew from the
// records (beside the old file, renamed over it: the other programs
// follow). The files it changes are kept as
// found in Damaged/ and what was done goes into the repair log, which the
// maintenance commands show.

// Whether a record has entries in the tags (a deleted one has none).
// A live record has an entry in every tag; a deleted one keeps its entries
// until a pack, or has none (a file written before deleted records kept
// theirs, or a unique key taken since by a live record).
static bool inTags(const char* record)
{
    return record[0] != '*';
}

bool DbfTable::indexLeftUnfinished(bool alone) const
{
    switch (mdx::MdxFile::markOf(indexPath())) {
    case mdx::MdxFile::Mark::InUpdate:
    case mdx::MdxFile::Mark::Replaced:
        return true;
    case mdx::MdxFile::Mark::Pending:
        return alone;
    default:
        return false;
    }
}

namespace {
// Compares every tag of the index with the records; answers what differs,
// in the words of the repair log the maintenance shows ("" when everything
// matches).
std::string compareWithRecords(mdx::MdxFile& index, const std::vector<std::string>& names, uint32_t count,
    const std::function<const char*(uint32_t)>& record, const std::function<std::string(size_t, const char*)>& keyOf)
{
    for (size_t i = 0; i < names.size(); ++i) {
        std::vector<bool> seen(size_t(count) + 1, false);
        mdx::MdxCursor c = index.cursor(names[i]);
        for (bool on = c.first(); on; on = c.next()) {
            const uint32_t r = c.recno();
            if (r == 0 || r > count)
                return "étiquette " + names[i] + " : entrée de l'enregistrement " + std::to_string(r) +
                    " au-delà de la fin de la table";
            if (seen[r])
                return "étiquette " + names[i] + " : enregistrement " + std::to_string(r) + " indexé deux fois";
            seen[r] = true;
            const char* rec = record(r);
            if (c.key() != keyOf(i, rec))
                return "étiquette " + names[i] + " : clé de l'enregistrement " + std::to_string(r) +
                    " différente de la table";
        }
        for (uint32_t r = 1; r <= count; ++r)
            if (!seen[r] && inTags(record(r)))
                return "étiquette " + names[i] + " : enregistrement " + std::to_string(r) + " absent de l'index";
    }
    return {};
}
}  // namespace

// Compares the index with the records, entry by entry (the tags compiled in
// tags_, the header held exclusively); forced and unmarked when it matches,
// else built anew from the records beside the old file and renamed over it.
// Answers what was done, in the words of the repair log.
std::string DbfTable::matchIndexToRecords(const std::string& ipath)
{
    const std::vector<std::string> names = tagNames();
    std::string why;
    bool sound = false;
    try {
        auto index = mdx::MdxFile::openMarked(ipath);
        index->verify();
        const auto stored = index->tags();
        for (size_t i = 0; i < tags_.size(); ++i)
            if (keyTypeOf(tags_[i].info.keyType) != stored.at(i).type || stored[i].keyLength != tags_[i].keyLen ||
                (stored[i].type == mdx::KeyType::Character && stored[i].codePage != codePage_))
                throw EDBEngineError::indexOutOfDate(
                    ipath, "étiquette " + tags_[i].info.name + " : ne correspond plus à la table");
        why = compareWithRecords(
            *index, names, count_, [&](uint32_t r) { return recordPtr(r); },
            [&](size_t t, const char* rec) { return keyOf(static_cast<int>(t), rec); });
        if (why.empty()) {
            if (dbt_.isOpen())
                dbt_.sync();
            file_.sync();
            index->clearMark();
            sound = true;
        }
    } catch (const EDBEngineError& e) {
        // the engine's detail is the developer's English: the log says it
        // in the words of the others
        why = e.code() == DBERR_INDEXOUTOFDATE && std::string_view(e.detail()).starts_with("étiquette ")
            ? e.detail()
            : std::string("structure de l'index incohérente");
    }
    if (sound)
        return "index comparé à la table, entrée par entrée : conforme, remis en service";
    if (dbt_.isOpen())
        dbt_.sync();
    file_.sync();
    const mdx::RegenerateResult result = writeIndexFromRecords(ipath, tags_);
    std::string done = "index reconstruit à partir de la table (" + why + ")";
    for (size_t i = 0; i < result.duplicatesDropped.size(); ++i)
        if (result.duplicatesDropped[i] != 0)
            done += " ; étiquette unique " + (i < result.tags.size() ? result.tags[i] : std::string()) + " : " +
                std::to_string(result.duplicatesDropped[i]) + " enregistrement(s) en double laissé(s) hors de l'index";
    return done;
}

void DbfTable::recoverUnfinished(bool headerHeld)
{
    const std::string ipath = indexPath();
    // The header exclusively: a writer still at work finishes first.
    const RepairHold hold(*this, headerHeld,
        EDBEngineError::indexOutOfDate(ipath, "update interrupted (the table cannot be written from here)"));

    const bool alone = mode_.exclusive || !file_.lockedByOthers(kLockOpen, 1);
    const mdx::MdxFile::Mark mark = mdx::MdxFile::markOf(ipath);
    if (!indexLeftUnfinished(alone))
        return;  // mended meanwhile by another program
    if (!file_.writable())
        throw EDBEngineError::indexOutOfDate(ipath, "update interrupted (the table cannot be written from here)");

    // A record after the count: the append that wrote it was killed before
    // it counted it.
    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    const uint32_t counted = le32(c);
    const uint64_t end = headerLen_ + uint64_t(counted) * recLen_;
    const uint64_t size = file_.size();
    const bool leftover = size > end + 1;

    // The files the repair changes, kept as they were found.
    std::string copy;
    try {
        copy = leftover ? keepDamagedFiles(path_, {path_, ipath}) : keepDamagedFiles(path_, {ipath});
    } catch (const EDBEngineError&) {
        copy.clear();  // the repair goes on: the index is made from the table
    }
    std::string done;
    if (leftover) {
        const uint64_t extra = (size - end) / recLen_;
        const char eof = 0x1A;
        file_.writeAt(end, &eof, 1);
        file_.truncate(end + 1);
        if (extra > 0)
            done += std::to_string(extra) +
                (extra > 1 ? " enregistrements inachevés après la fin de la table retirés ; "
                           : " enregistrement inachevé après la fin de la table retiré ; ");
    }
    count_ = static_cast<uint32_t>(
        std::min<uint64_t>(counted, file_.size() > headerLen_ ? (file_.size() - headerLen_) / recLen_ : 0));
    invalidateCache();
    dropMap();
    // A statement killed half way: its records as they were before it, then
    // the index compared with them.
    if (const std::string undone = undoKilledStatement(); !undone.empty())
        done += undone + " ; ";

    // The tags as the index file describes them, compiled on this table.
    std::vector<Tag> compiled;
    try {
        compileTags(tagInfosOf(ipath), compiled);
    } catch (const EDBEngineError& e) {
        logDamage(path_,
            std::string("mise à jour de l'index interrompue ; ses étiquettes ne se lisent plus : il doit être "
                        "reconstruit par Outils / Réindexation") +
                (copy.empty() ? std::string() : " ; copie des fichiers dans " + copy));
        throw EDBEngineError::indexOutOfDate(
            ipath, std::string("update interrupted, tags unreadable (") + e.what() + ")");
    }
    std::swap(tags_, compiled);
    struct Restore {
        std::vector<Tag>& a;
        std::vector<Tag>& b;
        ~Restore() { std::swap(a, b); }
    } restore{tags_, compiled};
    done += matchIndexToRecords(ipath);
    const std::string found = mark == mdx::MdxFile::Mark::Pending
        ? "écritures d'un programme arrêté non forcées sur le disque (ou coupure de courant)"
        : "mise à jour interrompue par l'arrêt d'un programme";
    logDamage(
        path_, found + " ; " + done + (copy.empty() ? std::string() : " ; copie des fichiers trouvés dans " + copy));
}

// ---- records after the count ---------------------------------------------------
//
// A file that holds records after the ones its header counts: another
// program's append killed between its record and its count (without an
// index of ours to say so), or a count another program left behind. Nothing
// is written over them: before any write, and when an open or a look-up
// through the index meets them, the records after the count are taken back,
// as many as read as records from the first on (a deletion flag and values
// that read); what follows (the rest of a record cut short, bytes that are
// no record) is removed. The files are kept as found first and a line goes
// into the repair log. End-of-file and NUL bytes shorter than a record are
// no damage: they go without a word.

bool DbfTable::recordReads(const char* rec) const
{
    if (rec[0] != ' ' && rec[0] != '*')
        return false;
    for (const FieldInfo& f : fields_) {
        const std::string_view raw(rec + f.offset, static_cast<size_t>(f.width));
        if (inMemoFile(f)) {
            if (trim(raw).find_first_not_of("0123456789") != std::string_view::npos)
                return false;
        } else if (!fieldReadable(f, raw)) {
            return false;
        }
    }
    return true;
}

uint32_t DbfTable::readableAfter(uint64_t from, uint64_t whole)
{
    constexpr uint64_t kChunk = 1u << 20;
    const uint64_t per = std::max<uint64_t>(1, kChunk / recLen_);
    std::string buf;
    uint64_t taken = 0;
    while (taken < whole && taken < UINT32_MAX) {
        const uint64_t n = std::min(per, whole - taken);
        buf.resize(static_cast<size_t>(n * recLen_));
        file_.readExact(from + taken * recLen_, buf.data(), buf.size(), DBERR_READERR);
        for (uint64_t i = 0; i < n; ++i) {
            if (!recordReads(buf.data() + i * recLen_))
                return static_cast<uint32_t>(taken);
            ++taken;
        }
    }
    return static_cast<uint32_t>(std::min<uint64_t>(taken, UINT32_MAX));
}

DbfTable::AfterCount DbfTable::lookAfterCount(uint32_t counted)
{
    AfterCount a;
    const uint64_t end = headerLen_ + uint64_t(counted) * recLen_;
    const uint64_t size = file_.size();
    if (size <= end) {
        a.rest = 0;
        return a;
    }
    a.readable = readableAfter(end, (size - end) / recLen_);
    const uint64_t newEnd = end + uint64_t(a.readable) * recLen_;
    a.rest = size - newEnd;
    a.noise = a.rest < recLen_;
    if (a.noise && a.rest > 1) {
        std::string tail(static_cast<size_t>(a.rest), '\0');
        file_.readExact(newEnd, tail.data(), tail.size(), DBERR_READERR);
        a.noise = tail.find_first_not_of(std::string("\x1A\0", 2)) == std::string::npos;
    }
    return a;
}

void DbfTable::takeBackAfterCount(bool headerHeld)
{
    if (!file_.writable())
        return;  // read as counted; nothing can be changed from here
    // The header exclusively: an append of another program at work ends
    // first. The table lock is taken shared first, as for every change.
    bool took = false, converted = false, tableHeld = false;
    if (!mode_.exclusive && !headerHeld && !tableLocked_) {
        if (!file_.lockWait(kLockTable, 1, false, lockTimeoutMs_))
            throw EDBEngineError::locked(path_, "table is locked by another user");
        tableHeld = true;
    }
    struct ReleaseTable {
        File& f;
        bool on;
        ~ReleaseTable()
        {
            if (on)
                f.unlock(kLockTable, 1);
        }
    } releaseTable{file_, tableHeld};
    if (!mode_.exclusive && !headerHeld) {
        if (readHoldLocked_) {
            // a batch of reads holds it shared: the hold becomes exclusive
            // for the repair, then shared again
            if (!file_.lockWait(kLockHeader, 1, true, lockTimeoutMs_))
                throw EDBEngineError::locked(path_, "table is locked by another user");
            converted = true;
        } else {
            if (!takeHeaderInTurn(true))
                throw EDBEngineError::locked(path_, "table is locked by another user");
            took = true;
        }
    }
    struct Release {
        DbfTable& t;
        bool took, converted;
        ~Release()
        {
            if (took)
                t.file_.unlock(kLockHeader, 1);
            if (converted)
                t.file_.lockWait(kLockHeader, 1, false, lockTimeoutMs_);  // ours throughout: at once
        }
    } release{*this, took, converted};

    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    const uint32_t counted = le32(c);
    bytesAfterCount_ = false;
    const AfterCount after = lookAfterCount(counted);
    const uint32_t taken = after.readable;
    const uint64_t rest = after.rest;
    const bool noise = after.noise;
    const uint64_t newEnd = headerLen_ + (uint64_t(counted) + taken) * recLen_;
    if (taken == 0 && rest <= 1) {
        refreshCount();
        return;
    }
    const std::string ipath = indexPath();
    std::string copy;
    if (taken > 0 || !noise) {
        // Kept as found before anything changes (nothing changes without it).
        std::vector<std::string> files{path_};
        if (mdx_ && taken > 0)
            files.push_back(ipath);
        copy = keepDamagedFiles(path_, files);
    }
    std::string done;
    if (taken > 0) {
        writeCount(counted + taken);
        done += std::to_string(taken) +
            (taken > 1 ? " enregistrements après la fin annoncée de la table (compte de l'en-tête en retard) repris"
                       : " enregistrement après la fin annoncée de la table (compte de l'en-tête en retard) repris");
    }
    if (rest > 1) {
        const char eof = 0x1A;
        file_.writeAt(newEnd, &eof, 1);
        file_.truncate(newEnd + 1);
        if (!noise)
            done += std::string(done.empty() ? "" : " ; ") + std::to_string(rest) +
                " octets après les enregistrements, qui ne se lisent pas comme des enregistrements, retirés";
    }
    if (dbt_.isOpen())
        dbt_.sync();
    file_.sync();
    count_ = counted + taken;
    invalidateCache();
    dropMap();
    if (done.empty())
        return;  // an end mark of a few bytes
    if (mdx_ && taken > 0) {
        done += " ; " + matchIndexToRecords(ipath);
        mdx_->refresh();
    }
    logDamage(path_, done + (copy.empty() ? std::string() : " ; copie des fichiers trouvés dans " + copy));
}

}  // namespace kdb
