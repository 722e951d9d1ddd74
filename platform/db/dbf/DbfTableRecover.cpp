#include "platform/db/dbf/DbfTable.h"

#include <utility>

#include "platform/db/core/DamageLog.h"

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
    std::string why;
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
    const std::vector<std::string> names = tagNames();

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
    if (sound) {
        done += "index comparé à la table, entrée par entrée : conforme, remis en service";
    } else {
        if (dbt_.isOpen())
            dbt_.sync();
        file_.sync();
        const mdx::RegenerateResult result = writeIndexFromRecords(ipath, tags_);
        done += "index reconstruit à partir de la table (" + why + ")";
        for (size_t i = 0; i < result.duplicatesDropped.size(); ++i)
            if (result.duplicatesDropped[i] != 0)
                done += " ; étiquette unique " + (i < result.tags.size() ? result.tags[i] : std::string()) + " : " +
                    std::to_string(result.duplicatesDropped[i]) +
                    " enregistrement(s) en double laissé(s) hors de l'index";
    }
    const std::string found = mark == mdx::MdxFile::Mark::Pending
        ? "écritures d'un programme arrêté non forcées sur le disque (ou coupure de courant)"
        : "mise à jour interrompue par l'arrêt d'un programme";
    logDamage(
        path_, found + " ; " + done + (copy.empty() ? std::string() : " ; copie des fichiers trouvés dans " + copy));
}

}  // namespace kdb
