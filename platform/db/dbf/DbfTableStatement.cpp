#include "platform/db/dbf/DbfTable.h"

#include "platform/db/core/DamageLog.h"
#include "platform/db/dbf/StatementJournal.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- statements that change records ----------------------------------------------
//
// A statement holds the header exclusively from its reading of the rows to
// the flush of its changes (and the undoing of them when one fails): no
// other program changes the table or reads it meanwhile, so it finds its rows
// and changes them at one moment, and the others see all of it or none.
// Within that hold the calls it makes take no lock of their own, and the
// index is written out for the others only when it ends.
//
// A statement of several records keeps them first in a journal beside the
// table: the index is marked "in update" and forced, then the journal is
// written and forced, then the records change; once they are forced the
// journal goes (and the directory entry with it), and only then does the
// flush clear the index's mark. A program killed anywhere in between leaves
// the mark (or, without an index, the journal alone), which the next
// program at the table finds under the header it holds exclusively: the
// journal's records are put back before anything else is read or written,
// and the index is compared with them as after any unfinished change. A
// journal cut short was being written: nothing had changed yet.

namespace {
EDBEngineError cannotUndo(const std::string& path)
{
    return EDBEngineError::fileCorrupt(
        path, "a statement killed half way cannot be undone from here (the table cannot be written)");
}

std::string countText(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + (n > 1 ? many : one);
}
}  // namespace

std::string DbfTable::journalPath() const
{
    return journal::pathFor(path_);
}

bool DbfTable::journalOnDisk() const
{
    return fileExists(journalPath());
}

void DbfTable::checkNoStatementLeft() const
{
    if (statementLeft_)
        throw EDBEngineError::writeFailed(
            path_, 0, "a statement could not be undone here: the table must be opened again");
}

void DbfTable::beginStatement()
{
    if (statementDepth_ > 0) {
        ++statementDepth_;
        return;
    }
    checkWritable();
    checkNoStatementLeft();
    if (readHold_ > 0)
        throw EDBEngineError::locked(path_, "table is being read in a batch");
    if (!mode_.exclusive) {
        // the changes of others waited for; one left unfinished mended first
        statementLock_ = std::make_unique<HeaderLock>(*this, true);
        refreshCount();  // others may have appended
    }
    takeBackBeforeWrite();  // records after the count are never written over
    statementDepth_ = 1;
    statementHeld_ = true;
}

void DbfTable::endStatement() noexcept
{
    if (statementDepth_ == 0 || --statementDepth_ > 0)
        return;
    if (journalKept_) {
        // Its changes were not flushed: the records go back as the journal
        // holds them (their keys with them), then the journal goes.
        try {
            // (none, or not whole: the statement failed before its first
            // write)
            if (File j = File::tryOpen(journalPath(), File::Mode::ReadOnly); j.isOpen()) {
                std::string bytes(static_cast<size_t>(j.size()), '\0');
                if (!bytes.empty())
                    j.readExact(0, bytes.data(), bytes.size(), DBERR_READERR);
                j.close();
                if (const auto kept = journal::decode(bytes))
                    for (const journal::Image& im : kept->images)
                        restoreRecord(im.recNo, im.bytes);
            }
            flush();
        } catch (const std::exception&) {
            // The disk refuses: the journal stays for the next open of the
            // table (the index's mark with it), and this one answers no more.
            statementLeft_ = true;
        }
    }
    if (!statementLeft_)
        indexWrittenAfterFailure();  // the index as the others must see it
    statementHeld_ = false;
    statementLock_.reset();
}

void DbfTable::keepForRecovery(const std::vector<uint32_t>& recNos)
{
    // One record is written whole or not at all (its keys are mended from
    // it after a kill).
    if (recNos.size() < 2)
        return;
    checkWritable();
    if (!statementHeld_)
        throw EDBEngineError::invalidParam(path_, "records kept outside a statement");
    if (recNos.size() > UINT32_MAX)
        throw EDBEngineError::invalidParam(path_, "too many records in one statement");
    if (mdx_)
        mdx_->markChanging();
    journalKept_ = true;  // from here on, a failure leaves a file to remove
    journal::Writer w(journalPath(), headerLen_, recLen_, count_, static_cast<uint32_t>(recNos.size()));
    std::string rec;
    for (uint32_t r : recNos) {
        checkRecNo(r);
        readRecordFresh(r, rec);
        w.add(r, rec);
    }
    w.finish();
}

void DbfTable::dropJournal()
{
    if (!journalKept_)
        return;
    const std::string jpath = journalPath();
    removeFile(jpath);
    syncDirectory(jpath);
    journalKept_ = false;
}

std::string DbfTable::undoKilledStatement(bool apply)
{
    const std::string jpath = journalPath();
    File j = File::tryOpen(jpath, File::Mode::ReadOnly);
    if (!j.isOpen())
        return {};
    if (!file_.writable())
        throw cannotUndo(path_);
    refreshCount();
    // At most every record of the table, once: a longer file is no journal
    // of this table (and is not read whole).
    const uint64_t most = 24 + uint64_t(count_) * (4 + uint64_t(recLen_));
    const uint64_t size = j.size();
    std::optional<journal::Journal> kept;
    if (size <= most) {
        std::string bytes(static_cast<size_t>(size), '\0');
        if (!bytes.empty())
            j.readExact(0, bytes.data(), bytes.size(), DBERR_READERR);
        kept = journal::decode(bytes);
    }
    j.close();
    std::string done;
    if (!kept && size <= most) {
        // Cut short: its program was killed while writing it, before any
        // change. Nothing to put back.
        removeFile(jpath);
        syncDirectory(jpath);
        return {};
    }
    if (!kept)
        done = "fichier " + jpath.substr(jpath.find_last_of('/') + 1) + " trop long pour un journal de la table retiré";
    else if (kept->headerLength != headerLen_ || kept->recordLength != recLen_)
        done = "journal d'une instruction écrit pour une autre forme de la table retiré sans être appliqué";
    else if (!apply)
        done = "journal d'une instruction que l'index dit terminée retiré sans être appliqué";
    std::string copy;
    try {
        copy = keepDamagedFiles(path_, {jpath});
    } catch (const EDBEngineError&) {
        copy.clear();  // the repair goes on
    }
    if (done.empty()) {
        size_t put = 0;
        for (const journal::Image& im : kept->images) {
            if (im.recNo == 0 || im.recNo > count_)
                continue;
            file_.writeAt(headerLen_ + uint64_t(im.recNo - 1) * recLen_, im.bytes.data(), im.bytes.size());
            ++put;
        }
        file_.sync();
        invalidateCache();
        done = "instruction interrompue par l'arrêt d'un programme : " +
            countText(put, " enregistrement remis comme avant elle", " enregistrements remis comme avant elle");
    }
    removeFile(jpath);
    syncDirectory(jpath);
    return done + (copy.empty() ? std::string() : " ; copie du journal dans " + copy);
}

void DbfTable::recoverKilledStatement(bool headerHeld)
{
    // The header exclusively: a statement still at work finishes first.
    const RepairHold hold(*this, headerHeld, cannotUndo(path_));
    // With an index in service (not found "in update") the statement ended:
    // such a journal is not applied.
    const std::string done = undoKilledStatement(!mdx_);
    if (!done.empty())
        logDamage(path_, done);
}

}  // namespace kdb
