#include "platform/db/dbf/DbfTable.h"

#include <cerrno>
#include <cstdio>
#include <unordered_set>

#include <sys/stat.h>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/core/FileSystem.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

namespace {
// Removes a file left behind by a rewrite that failed; the failure itself is
// what the caller reports.
void discard(const std::string& path) noexcept
{
    try {
        removeFile(path);
    } catch (const EDBEngineError&) {
    }
}

// The same column layout: the stored bytes mean the same in both.
bool sameLayout(const FieldInfo& a, const FieldInfo& b)
{
    auto kind = [](char t) { return t == 'F' ? 'N' : t; };
    return kind(a.nativeType) == kind(b.nativeType) && a.width == b.width && a.decimals == b.decimals;
}
}  // namespace

// The index file object is replaced (pack, regeneration, restructure): the
// old one is kept until the table closes, so that cursors opened on it stay
// harmless; they move to the new one on their next call.
void DbfTable::retireIndex()
{
    if (mdx_) {
        mdx_->setLockedByCaller(false);
        try {
            mdx_->flush(false);
        } catch (const EDBEngineError&) {
        }
        retired_.push_back(std::move(mdx_));
    }
    ++indexGeneration_;
}

void DbfTable::setRebuildFlag(bool on)
{
    const unsigned char b = on ? 1 : 0;
    file_.writeAt(14, &b, 1);
    file_.sync();
}

// Writes the index file `ipath` holding the given tags, built from the
// records beside the old file and renamed over it when complete.
mdx::RegenerateResult DbfTable::writeIndexFromRecords(const std::string& ipath, const std::vector<Tag>& tags)
{
    std::vector<TagInfo> ti;
    std::vector<std::vector<int>> fl;
    std::vector<int> kl;
    for (const auto& t : tags) {
        ti.push_back(t.info);
        fl.push_back(t.fields);
        kl.push_back(t.keyLen);
    }
    // Deleted records keep their entries until a pack; in a unique tag a
    // key of a live record is its own, and a deleted record holds only a
    // key no record before it holds.
    std::vector<std::unordered_set<std::string>> held(tags.size());
    bool uniqueTags = false;
    for (const auto& t : tags)
        uniqueTags = uniqueTags || t.info.unique;
    if (uniqueTags)
        for (uint32_t r = 1; r <= count_; ++r) {
            const char* rec = recordPtr(r);
            if (rec[0] != '*')
                for (size_t i = 0; i < tags.size(); ++i)
                    if (tags[i].info.unique)
                        held[i].insert(keyOf(static_cast<int>(i), rec));
        }
    uint32_t r = 0;
    auto source = [&](mdx::RecordKeys& rk) {
        if (r >= count_)
            return false;
        ++r;
        const char* rec = recordPtr(r);
        rk.recno = r;
        rk.keys = keysOf(rec);
        if (rec[0] == '*')
            for (size_t i = 0; i < tags.size(); ++i)
                if (tags[i].info.unique && !held[i].insert(*rk.keys[i]).second)
                    rk.keys[i].reset();
        return true;
    };
    mdx::RegenerateResult result;
    // Built beside the old file and renamed over it when complete.
    mdx::MdxFile::rebuild(ipath, baseNameOf(path_), mdxSpecs(ti, fl, kl, codePage_), source, &result)->flush(true);
    return result;
}

// Writes a fresh index file holding the given tags, built from the records,
// and renames it over the table's index.
void DbfTable::rebuildIndexFile(const std::vector<Tag>& tags)
{
    const std::string ipath = indexPath();
    retireIndex();
    tags_ = tags;
    if (tags.empty()) {
        removeFile(ipath);
        const unsigned char zero = 0;
        file_.writeAt(28, &zero, 1);
        return;
    }
    const mdx::RegenerateResult result = writeIndexFromRecords(ipath, tags);
    const unsigned char one = 1;
    file_.writeAt(28, &one, 1);
    mdx_ = mdx::MdxFile::open(ipath, mdx::MdxFile::Mode::ReadWrite);
    // A unique tag keeps the first record of a key and drops the others:
    // say so rather than leave records out of the tag silently. The index
    // is complete all the same (the table opens and reads): the mark of a
    // rebuild under way goes first.
    for (size_t i = 0; i < result.duplicatesDropped.size(); ++i)
        if (result.duplicatesDropped[i] != 0) {
            setRebuildFlag(false);
            throw EDBEngineError::keyViolation(path_, i < result.tags.size() ? result.tags[i] : std::string());
        }
}

void DbfTable::regenerateIndexes()
{
    requireExclusive("Index regeneration");
    refreshCount();
    if (tags_.empty())
        return;
    const auto tags = tags_;
    setRebuildFlag(true);
    rebuildIndexFile(tags);
    setRebuildFlag(false);
}

void DbfTable::setTags(const std::vector<TagInfo>& specs)
{
    requireExclusive("Changing the index");
    std::vector<Tag> compiled;
    compileTags(specs, compiled);
    setRebuildFlag(true);
    rebuildIndexFile(compiled);
    // Field descriptor flags: a field with a tag of its own.
    const size_t descLen = level7_ ? 48 : 32, base = level7_ ? 68 : 32, flagOff = level7_ ? 37 : 31;
    for (size_t i = 0; i < fields_.size(); ++i) {
        unsigned char v = 0;
        for (const auto& t : compiled)
            if (t.fields.size() == 1 && t.fields[0] == static_cast<int>(i))
                v = 1;
        file_.writeAt(base + descLen * i + flagOff, &v, 1);
    }
    setRebuildFlag(false);
}

// Takes over a freshly written table file: locks it exclusively, renames it
// over the table and reads its header.
void DbfTable::takeOver(const std::string& tmp)
{
    File nf = File::open(tmp, File::Mode::ReadWrite);
    if (!nf.tryLock(kLockOpen, 1, true))
        throw EDBEngineError::tableInUse(path_);
    replaceFile(tmp, path_);
    file_ = std::move(nf);
    recordLocks_.clear();
    readHeader(false);
}

void DbfTable::pack()
{
    requireExclusive("Pack");
    refreshCount();
    takeBackBeforeWrite();
    std::string hdr(headerLen_, '\0');
    file_.readExact(0, hdr.data(), hdr.size(), DBERR_HEADERCORRUPT);
    auto* h = reinterpret_cast<unsigned char*>(hdr.data());
    const unsigned char wasFlag = h[14];
    const bool indexed = mdx_ != nullptr;
    h[14] = indexed ? 1 : 0;
    todayBytes(h + 1);
    // New files beside the old, renamed over them when complete: the table,
    // and the memo file holding the memos of the records kept, one after
    // another (the blocks of replaced memos go).
    const std::string tmp = path_ + ".tmp~";
    const bool memo = dbt_.isOpen();
    const std::string dbtPath = memo ? dbt_.path() : std::string();
    const std::string dbtTmp = dbtPath + ".tmp~";
    const DbtFile::Layout layout = dbt_.layout();
    DbtFile newDbt;
    uint32_t live = 0, lost = 0;
    enum { Writing, Marked, MemoInPlace } step = Writing;
    try {
        if (memo)
            newDbt = DbtFile::create(dbtTmp, baseNameOf(path_), dbt_.blockSize(), layout);
        File f = File::open(tmp, File::Mode::Create);
        RecordWriter w(f, hdr.size());
        std::string rec;
        for (uint32_t r = 1; r <= count_; ++r) {
            const char* old = recordPtr(r);
            if (old[0] == '*')
                continue;
            ++live;
            if (!memo) {
                w.add(old, recLen_);
                continue;
            }
            rec.assign(old, recLen_);
            for (const FieldInfo& fi : fields_) {
                if (!inMemoFile(fi))
                    continue;
                char* dst = rec.data() + fi.offset;
                bool bad = false;
                const std::string text = memoText(std::string_view(dst, static_cast<size_t>(fi.width)), &bad);
                lost += bad;
                if (text.empty())
                    std::memset(dst, ' ', static_cast<size_t>(fi.width));
                else
                    putMemoPointer(dst, fi.width, newDbt.append(text));
            }
            w.add(rec.data(), recLen_);
        }
        w.finish();
        put32(h + 4, live);
        f.writeAt(0, hdr.data(), hdr.size());
        f.sync();
        f.close();
        if (memo) {
            newDbt.sync();
            newDbt.close();
            // Pointers to no memo leave the new files empty there: the old
            // files are kept as found, and the log says so.
            if (lost > 0)
                logDamage(path_,
                    "compactage : " + std::to_string(lost) +
                        (lost > 1 ? " renvois vers des mémos invalides vidés" : " renvoi vers un mémo invalide vidé") +
                        " ; copie des fichiers trouvés dans " + keepDamagedFiles(path_, {path_, dbtPath}));
            // Both new files complete: from the mark on, an open that finds
            // it puts them in place (the memo file first).
            const unsigned char mark = kPackCommitted;
            file_.writeAt(14, &mark, 1);
            file_.sync();
            step = Marked;
            replaceFile(dbtTmp, dbtPath);
            step = MemoInPlace;
        }
        takeOver(tmp);
    } catch (const EDBEngineError&) {
        if (step == MemoInPlace)
            throw;  // the next open puts the new table in place
        if (step == Marked) {
            try {
                file_.writeAt(14, &wasFlag, 1);
                file_.sync();
            } catch (const EDBEngineError&) {
            }
        }
        discard(tmp);  // the table, its memo file and its index stay as they were
        if (memo) {
            newDbt.close();
            discard(dbtTmp);
        }
        throw;
    }
    if (memo)
        dbt_ = DbtFile::open(dbtPath, layout, true);
    // The old index goes with the records it numbered.
    const auto tags = tags_;
    if (indexed) {
        rebuildIndexFile(tags);
        setRebuildFlag(false);
    }
}

void DbfTable::finishInterruptedPack()
{
    // Put in place by another program meanwhile: the table is opened anew.
    struct stat st { };
    if (fileSystem().stat(path_, &st) != 0 || static_cast<uint64_t>(st.st_dev) != fileDev_ ||
        static_cast<uint64_t>(st.st_ino) != fileIno_)
        return;
    const std::string tmp = path_ + ".tmp~";
    const std::string dbtPath = companionPath(path_, ".DBT");
    const std::string dbtTmp = dbtPath + ".tmp~";
    // Another program may be at the same renames: one already done is no error.
    auto moveIn = [](const std::string& from, const std::string& to) {
        if (fileSystem().rename(from, to) != 0 && errno != ENOENT)
            throw EDBEngineError::writeFailed(to, errno, "cannot put the packed file in place");
        syncDirectory(to);
    };
    if (fileExists(tmp)) {
        if (fileExists(dbtTmp))
            moveIn(dbtTmp, dbtPath);
        moveIn(tmp, path_);
        logDamage(path_,
            "compactage interrompu par l'arrêt d'un programme, ses nouveaux fichiers complets : achevé (la table et "
            "son fichier des mémos compactés mis en place)");
        return;
    }
    // The mark without the new table beside it: not a pack of this program
    // (it writes the new table before the mark); the files stay as they are.
    if (fileExists(dbtTmp))
        removeFile(dbtTmp);
    checkWritable();
    const unsigned char zero = 0;
    file_.writeAt(14, &zero, 1);
    file_.sync();
    logDamage(path_, "marque de compactage sans nouvelle table à mettre en place : effacée, les fichiers gardés tels quels");
}

uint32_t DbfTable::restructure(const std::vector<FieldSpec>& newFieldsIn, const std::vector<int>& sources,
    const std::vector<TagInfo>& newTags, bool packIt, const std::function<void(uint32_t)>& beforeCut)
{
    requireExclusive("Restructure");
    refreshCount();
    takeBackBeforeWrite();
    std::vector<FieldSpec> newFields = newFieldsIn;
    normaliseSpecs(path_, newFields);
    if (sources.size() != newFields.size())
        throw EDBEngineError::invalidParam(path_, "restructure: one source per field needed");
    const auto infos = infosOf(newFields);
    std::vector<Tag> compiled;
    for (const auto& t : newTags)
        compiled.push_back(compileTag(path_, infos, t));
    bool memo = false;
    for (const auto& f : newFields)
        memo = memo || f.type == 'M';
    // Memo file: the old one is kept (its pointers stay valid); a new one is
    // made when the table gets its first memo column.
    bool oldLayout = dbt_.isOpen() && dbt_.layout() == DbtFile::Layout::Old;
    DbtFile newDbt;
    DbtFile* target = &dbt_;
    const std::string newDbtPath = memo && !dbt_.isOpen() ? companionPath(path_, ".DBT") : std::string();
    const std::string tmp = path_ + ".tmp~";
    uint32_t cut = 0;
    // Until the new table takes over, a failure leaves the table, its memo
    // file and its index as they were, and no new file behind.
    try {
        if (!newDbtPath.empty()) {
            newDbt = DbtFile::create(newDbtPath, baseNameOf(path_));
            target = &newDbt;
            oldLayout = false;
        }
        std::vector<std::string> keyFields;
        for (const auto& t : compiled)
            if (t.fields.size() == 1)
                keyFields.push_back(infos[t.fields[0]].name);
        const std::string hdr0 =
            newHeader(path_, newFields, memo, !compiled.empty(), keyFields, oldLayout, 0, !compiled.empty());
        uint32_t newLen = 1;
        for (const auto& f : newFields)
            newLen += static_cast<uint32_t>(f.width);
        uint32_t written = 0;
        {
            File f = File::open(tmp, File::Mode::Create);
            RecordWriter w(f, hdr0.size());
            std::string rec(newLen, ' ');
            for (uint32_t r = 1; r <= count_; ++r) {
                const char* old = recordPtr(r);
                if (packIt && old[0] == '*')
                    continue;
                const std::string oldRec(old, recLen_);
                rec.assign(newLen, ' ');
                rec[0] = oldRec[0] == '*' ? '*' : ' ';
                for (size_t k = 0; k < newFields.size(); ++k) {
                    const FieldInfo& nf = infos[k];
                    char* dst = rec.data() + nf.offset;
                    const int src = sources[k];
                    const bool newMemo = nf.nativeType == 'M';
                    if (src < 0) {
                        encodeField(nf, QVariant(), dst, newFields[k].int16, kCodePage1252);
                        continue;
                    }
                    const FieldInfo& of = fields_.at(static_cast<size_t>(src));
                    const std::string_view oldBytes(oldRec.data() + of.offset, static_cast<size_t>(of.width));
                    const bool oldMemo = of.nativeType == 'M';
                    // The new file is Windows-1252: the text of another code page
                    // is converted, memos included.
                    const bool convert = codePage_ != kCodePage1252 && (of.nativeType == 'C' || oldMemo);
                    if (!convert && ((newMemo && oldMemo) || sameLayout(of, nf))) {
                        // unchanged column: its bytes as stored
                        std::memcpy(dst, oldBytes.data(), std::min(oldBytes.size(), static_cast<size_t>(nf.width)));
                        continue;
                    }
                    // A value that does not fit the new column (text longer than
                    // it, a number too wide, text into a number) or does not read
                    // leaves the new column empty or cut: counted.
                    const bool had = !trim(oldBytes).empty();
                    const QVariant v = oldMemo ? QVariant(fromCodePage(codePage_, memoText(oldBytes)))
                                               : decodeField(of, oldRec.data());
                    bool lost = had && (v.isNull() || (!oldMemo && !fieldReadable(of, oldBytes)));
                    if (newMemo) {
                        const std::string data = v.isNull() ? std::string() : toCp1252(v.toString());
                        if (!data.empty())
                            putMemoPointer(dst, nf.width, target == &dbt_ ? appendMemo(data) : target->append(data));
                    } else {
                        try {
                            encodeField(nf, v, dst, newFields[k].int16, kCodePage1252);
                            if (nf.nativeType == 'C' && !v.isNull() && v.typeId() != QMetaType::QDate &&
                                toCp1252(v.toString()).size() > static_cast<size_t>(nf.width))
                                lost = true;
                        } catch (const EDBEngineError&) {
                            encodeField(nf, QVariant(), dst, newFields[k].int16, kCodePage1252);
                            lost = lost || !v.isNull();
                        }
                    }
                    if (lost)
                        ++cut;
                }
                w.add(rec.data(), rec.size());
                ++written;
            }
            w.finish();
            std::string hdr = hdr0;
            put32(reinterpret_cast<unsigned char*>(hdr.data()) + 4, written);
            f.writeAt(0, hdr.data(), hdr.size());
            f.sync();
        }
        if (target->isOpen())
            target->sync();
        if (cut > 0 && beforeCut)
            beforeCut(cut);  // the table's files are still the old ones here
        takeOver(tmp);
    } catch (...) {
        discard(tmp);
        if (!newDbtPath.empty()) {
            newDbt.close();
            discard(newDbtPath);
        }
        throw;
    }
    retireIndex();
    tags_.clear();
    const bool hadMemo = dbt_.isOpen();
    if (memo && !hadMemo)
        dbt_ = std::move(newDbt);
    if (!memo && hadMemo) {
        const std::string dbtPath = dbt_.path();
        dbt_.close();
        removeFile(dbtPath);
    }
    std::vector<Tag> recompiled;
    std::vector<TagInfo> specs;
    for (const auto& t : compiled)
        specs.push_back(t.info);
    compileTags(specs, recompiled);
    rebuildIndexFile(recompiled);
    setRebuildFlag(false);
    return cut;
}

}  // namespace kdb
