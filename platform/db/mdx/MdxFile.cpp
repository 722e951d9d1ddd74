#include "MdxFile.h"

#include <cstring>

#include "MdxStore.h"
#include "platform/db/core/DbError.h"

namespace kdb::mdx {

using detail::kAfterAll;
using detail::Level;
using detail::Store;
using detail::TagState;
using detail::Target;

namespace {

// The key bytes of a tag: Character keys padded with blanks, Date and
// Numeric keys of their fixed size.  `prefixAllowed` keeps a short Character
// key as it is (prefix seek).
std::string fitKey(const TagState& t, std::string_view key, bool prefixAllowed = false)
{
    if (key.size() > size_t(t.keyLen))
        throw EDBEngineError::invalidKey(std::string(),
            "key too long for tag " + t.spec.name + " (" + std::to_string(key.size()) + " bytes, " +
                std::to_string(t.keyLen) + " at most)");
    if (t.type == KeyType::Character)
        return prefixAllowed ? std::string(key) : encodeCharacter(key, t.keyLen);
    if (key.size() != size_t(t.keyLen))
        throw EDBEngineError::invalidKey(std::string(), "key of the wrong length for tag " + t.spec.name);
    return std::string(key);
}

void checkRecno(uint32_t recno)
{
    if (recno == 0)
        throw EDBEngineError::invalidKey(std::string(), "record number 0");
}

[[noreturn]] void throwKeyViolation(const TagState& t, const std::string& path)
{
    throw EDBEngineError::keyViolation(path, t.spec.name);
}

// Runs a change; a failure once blocks began to change leaves the file marked
// for regeneration (a refusal before that changes nothing).
template <class F> auto mutate(Store& st, F&& f)
{
    const uint64_t before = st.generation();
    try {
        return f();
    } catch (...) {
        if (st.generation() != before)
            st.markBroken();
        throw;
    }
}

}  // namespace

// ====================================================================== cursor

struct MdxCursor::State {
    Store* st = nullptr;
    std::string tag;
    std::vector<Level> path;
    std::string key;
    uint32_t recno = 0;
    enum class Pos { None, On, AfterEnd, BeforeStart } pos = Pos::None;
    uint64_t gen = 0;
    size_t tagAt = SIZE_MAX;  // where the tag was found last in the file's list

    // The tag by its name (upper case already); looked for in the list only
    // when it is no longer where it was (a step reads it once per entry).
    const TagState& tagState()
    {
        const std::vector<TagState>& all = st->tags();
        if (tagAt < all.size() && all[tagAt].spec.name == tag)
            return all[tagAt];
        const TagState& t = st->tagRef(tag);
        tagAt = static_cast<size_t>(&t - all.data());
        return t;
    }

    bool take(const TagState& t, bool ok, bool forwardOnFail)
    {
        gen = st->generation();
        if (!ok) {
            pos = forwardOnFail ? Pos::AfterEnd : Pos::BeforeStart;
            path.clear();
            return false;
        }
        key.assign(st->entryKey(t, path));
        recno = st->entryRecno(t, path);
        pos = Pos::On;
        return true;
    }

    // Ends a step from `old`: the entry reached must lie past it in the
    // walking direction, or the file holds its keys out of order.
    bool takeStep(const TagState& t, bool ok, const Target& old, bool forward)
    {
        if (ok) {
            const int c = st->compareEntry(t, st->entryKey(t, path), st->entryRecno(t, path), old);
            if (forward ? c <= 0 : c >= 0)
                detail::throwCorrupt(st->path(), "keys out of order in tag " + t.spec.name);
        }
        return take(t, ok, forward);
    }

    // From the place a descent found, back onto the last entry before it.
    bool stepBeforePlace(const TagState& t)
    {
        return st->settleForward(t, path) ? st->stepBackward(t, path) : st->gotoLast(t, path);
    }

    // Onto the first or the last entry of the tag.
    bool toEdge(bool lastOne)
    {
        st->syncWithDisk();
        const TagState& t = tagState();
        return take(t, lastOne ? st->gotoLast(t, path) : st->gotoFirst(t, path), !lastOne);
    }

    // One entry on in the walking direction.  A cursor that stands nowhere,
    // or before the end it walks from, goes to that end's entry; one past the
    // far end stays there.
    bool step(bool forward)
    {
        if (pos == Pos::None || pos == (forward ? Pos::BeforeStart : Pos::AfterEnd))
            return toEdge(!forward);
        if (pos != Pos::On)
            return false;
        const TagState& t = tagState();
        const Target old{key, recno};
        bool ok;
        if (gen == st->generation()) {
            ok = forward ? st->stepForward(t, path) : st->stepBackward(t, path);
        } else {
            // The file changed: find the place again from the current entry.
            st->descend(t, old, path);
            if (!forward) {
                ok = stepBeforePlace(t);
            } else {
                ok = st->settleForward(t, path);
                if (ok && st->compareEntry(t, st->entryKey(t, path), st->entryRecno(t, path), old) == 0)
                    ok = st->stepForward(t, path);
            }
        }
        return takeStep(t, ok, old, forward);
    }
};

MdxCursor::MdxCursor(std::unique_ptr<State> state) : s_(std::move(state))
{
}
MdxCursor::MdxCursor(MdxCursor&&) noexcept = default;
MdxCursor& MdxCursor::operator=(MdxCursor&&) noexcept = default;
MdxCursor::~MdxCursor() = default;

bool MdxCursor::first()
{
    return s_->toEdge(false);
}
bool MdxCursor::last()
{
    return s_->toEdge(true);
}
bool MdxCursor::next()
{
    return s_->step(true);
}
bool MdxCursor::prior()
{
    return s_->step(false);
}

bool MdxCursor::seek(std::string_view key)
{
    s_->st->syncWithDisk();
    const TagState& t = s_->tagState();
    const std::string k = fitKey(t, key, true);
    s_->st->descend(t, Target{k, 0}, s_->path);
    return s_->take(t, s_->st->settleForward(t, s_->path), true);
}

bool MdxCursor::seek(std::string_view key, uint32_t recno)
{
    s_->st->syncWithDisk();
    const TagState& t = s_->tagState();
    const std::string k = fitKey(t, key);
    s_->st->descend(t, Target{k, recno}, s_->path);
    return s_->take(t, s_->st->settleForward(t, s_->path), true);
}

bool MdxCursor::seekExact(std::string_view key)
{
    const TagState& t = s_->tagState();
    const std::string k = fitKey(t, key);
    if (!seek(k))
        return false;
    return s_->st->compareKey(t, s_->key, k) == 0;
}

bool MdxCursor::seekPrefix(std::string_view prefix)
{
    const TagState& t = s_->tagState();
    const std::string k = fitKey(t, prefix, true);
    if (!seek(k))
        return false;
    return s_->key.compare(0, k.size(), k) == 0;
}

bool MdxCursor::seekLast(std::string_view key)
{
    s_->st->syncWithDisk();
    const TagState& t = s_->tagState();
    const std::string k = fitKey(t, key, true);
    s_->st->descend(t, Target{k, kAfterAll}, s_->path);
    return s_->take(t, s_->stepBeforePlace(t), false);
}

bool MdxCursor::valid() const
{
    return s_->pos == State::Pos::On;
}
const std::string& MdxCursor::key() const
{
    return s_->key;
}
uint32_t MdxCursor::recno() const
{
    return s_->recno;
}
Entry MdxCursor::entry() const
{
    return Entry{s_->key, s_->recno};
}
const std::string& MdxCursor::tagName() const
{
    return s_->tag;
}

// ====================================================================== file

MdxFile::MdxFile(std::unique_ptr<detail::Store> store) : st_(std::move(store))
{
}

MdxFile::~MdxFile()
{
    try {
        st_->flush(st_->unforced());
    } catch (...) {
        // The mark stays in the file: the next open asks for regeneration.
    }
}

namespace {

std::vector<TagSpec> checkedSpecs(const std::vector<TagSpec>& tags, const std::string& path)
{
    if (tags.size() > size_t(kMaxTags))
        throw EDBEngineError::tooManyTags(path);
    std::vector<TagSpec> out;
    for (const TagSpec& raw : tags) {
        TagSpec s = detail::normaliseSpec(raw, path);
        for (const TagSpec& o : out)
            if (o.name == s.name)
                throw EDBEngineError::duplicateTag(path, s.name);
        out.push_back(std::move(s));
    }
    return out;
}

std::string checkedDataName(const std::string& name)
{
    std::string base = name;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        base = base.substr(0, dot);
    if (base.size() > 16)
        base.resize(16);
    return base;
}

// Gathers the keys of every record per tag.
void collect(const std::vector<TagState>& tags, const RecordSource& source, std::vector<detail::Run>& runs)
{
    runs.assign(tags.size(), {});
    for (size_t i = 0; i < tags.size(); ++i)
        runs[i].keyLen = tags[i].keyLen;
    RecordKeys rec;
    for (;;) {
        rec.recno = 0;
        rec.keys.clear();
        if (!source(rec))
            break;
        checkRecno(rec.recno);
        if (rec.keys.size() != tags.size())
            throw EDBEngineError::invalidKey(std::string(), "as many keys as tags expected");
        for (size_t i = 0; i < tags.size(); ++i) {
            if (!rec.keys[i])
                continue;
            const std::string k = fitKey(tags[i], *rec.keys[i]);
            runs[i].keys.insert(runs[i].keys.end(), k.begin(), k.end());
            runs[i].recnos.push_back(rec.recno);
        }
    }
}

RegenerateResult sortAll(
    const std::vector<TagState>& tags, std::vector<detail::Run>& runs, const std::vector<bool>& which)
{
    RegenerateResult r;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (!which[i])
            continue;
        uint64_t dropped = 0;
        Store::sortRun(tags[i], runs[i], dropped);
        r.tags.push_back(tags[i].spec.name);
        r.entries.push_back(runs[i].size());
        r.duplicatesDropped.push_back(dropped);
    }
    return r;
}

}  // namespace

std::unique_ptr<MdxFile> MdxFile::create(
    const std::string& path, const std::string& dataFileName, const std::vector<TagSpec>& tags)
{
    const std::vector<TagSpec> specs = checkedSpecs(tags, path);
    std::vector<detail::Run> runs(specs.size());
    for (size_t i = 0; i < specs.size(); ++i)
        runs[i].keyLen = specs[i].keyLength;
    Store::buildFile(path, checkedDataName(dataFileName), nullptr, specs, runs, 1);
    return open(path);
}

std::unique_ptr<MdxFile> MdxFile::open(const std::string& path, Mode mode, bool alone)
{
    return std::unique_ptr<MdxFile>(new MdxFile(Store::openPath(path, mode, false, alone)));
}

std::vector<TagSpec> MdxFile::readTagSpecs(const std::string& path)
{
    auto st = Store::openPath(path, Mode::ReadOnly, true, false, true);
    std::vector<TagSpec> out;
    for (const TagState& t : st->tags())
        out.push_back(t.spec);
    return out;
}

std::unique_ptr<MdxFile> MdxFile::rebuild(const std::string& path, const std::string& dataFileName,
    const std::vector<TagSpec>& tags, const RecordSource& source, RegenerateResult* result)
{
    const std::vector<TagSpec> specs = checkedSpecs(tags, path);
    std::vector<TagState> states;
    for (const TagSpec& s : specs)
        states.push_back(Store::makeTagState(s, detail::kDefaultBlockPages * detail::kPageBytes));
    std::vector<detail::Run> runs;
    collect(states, source, runs);
    RegenerateResult r = sortAll(states, runs, std::vector<bool>(states.size(), true));
    Store::buildFile(path, checkedDataName(dataFileName), nullptr, specs, runs, 1);
    if (result)
        *result = std::move(r);
    return open(path);
}

const std::string& MdxFile::path() const
{
    return st_->path();
}
std::string MdxFile::dataFileName() const
{
    return st_->dataName();
}
bool MdxFile::readOnly() const
{
    return st_->readOnly();
}

std::vector<TagSpec> MdxFile::tags() const
{
    st_->syncWithDisk();
    std::vector<TagSpec> out;
    for (const TagState& t : st_->tags())
        out.push_back(t.spec);
    return out;
}

std::vector<std::string> MdxFile::tagNames() const
{
    st_->syncWithDisk();
    std::vector<std::string> out;
    for (const TagState& t : st_->tags())
        out.push_back(t.spec.name);
    return out;
}

int MdxFile::tagCount() const
{
    st_->syncWithDisk();
    return static_cast<int>(st_->tags().size());
}

bool MdxFile::hasTag(std::string_view name) const
{
    st_->syncWithDisk();
    return st_->tagIndex(name) >= 0;
}

TagSpec MdxFile::tag(std::string_view name) const
{
    st_->syncWithDisk();
    return st_->tagRef(name).spec;
}

void MdxFile::addTag(const TagSpec& spec)
{
    st_->syncWithDisk();
    detail::normaliseSpec(spec, path());  // refuse a bad description before any change
    mutate(*st_, [&] { st_->addTag(spec); });
}

void MdxFile::dropTag(std::string_view name)
{
    st_->syncWithDisk();
    st_->tagRef(name);
    mutate(*st_, [&] { st_->dropTag(name); });
}

namespace {

bool violates(Store& st, const TagState& t, const std::string& key, uint32_t exceptRecno)
{
    if (!t.unique)
        return false;
    std::vector<Level> path;
    st.descend(t, Target{key, 0}, path);
    bool ok = st.settleForward(t, path);
    uint32_t previous = 0;
    while (ok && st.compareKey(t, st.entryKey(t, path), key) == 0) {
        const uint32_t recno = st.entryRecno(t, path);
        if (recno != exceptRecno)
            return true;
        if (recno <= previous)
            detail::throwCorrupt(st.path(), "keys out of order in tag " + t.spec.name);
        previous = recno;
        ok = st.stepForward(t, path);
    }
    return false;
}

}  // namespace

bool MdxFile::wouldViolate(std::string_view tag, std::string_view key, uint32_t exceptRecno)
{
    st_->syncWithDisk();
    const TagState& t = st_->tagRef(tag);
    return violates(*st_, t, fitKey(t, key), exceptRecno);
}

void MdxFile::insert(std::string_view tag, std::string_view key, uint32_t recno)
{
    st_->syncWithDisk();
    checkRecno(recno);
    TagState& t = st_->tagRef(tag);
    const std::string k = fitKey(t, key);
    if (violates(*st_, t, k, recno))
        throwKeyViolation(t, st_->path());
    mutate(*st_, [&] { st_->insertEntry(t, k, recno); });
}

bool MdxFile::remove(std::string_view tag, std::string_view key, uint32_t recno)
{
    st_->syncWithDisk();
    TagState& t = st_->tagRef(tag);
    const std::string k = fitKey(t, key);
    return mutate(*st_, [&] { return st_->removeEntry(t, k, recno); });
}

void MdxFile::insertRecord(
    const std::vector<std::string>& tags, const std::vector<std::optional<std::string>>& keys, uint32_t recno)
{
    const std::vector<std::optional<std::string>> none(tags.size());
    updateRecord(tags, none, keys, recno);
}

void MdxFile::updateRecord(const std::vector<std::string>& tags, const std::vector<std::optional<std::string>>& oldKeys,
    const std::vector<std::optional<std::string>>& newKeys, uint32_t recno)
{
    st_->syncWithDisk();
    checkRecno(recno);
    if (oldKeys.size() != tags.size() || newKeys.size() != tags.size())
        throw EDBEngineError::invalidKey(std::string(), "as many keys as tags expected");
    struct Change {
        TagState* tag;
        std::optional<std::string> oldKey, newKey;
    };
    std::vector<Change> changes;
    for (size_t i = 0; i < tags.size(); ++i) {
        TagState& t = st_->tagRef(tags[i]);
        Change c{&t, std::nullopt, std::nullopt};
        if (oldKeys[i])
            c.oldKey = fitKey(t, *oldKeys[i]);
        if (newKeys[i])
            c.newKey = fitKey(t, *newKeys[i]);
        if (c.oldKey && c.newKey && *c.oldKey == *c.newKey)
            continue;
        changes.push_back(std::move(c));
    }
    // Every unique check before the first change.
    for (const Change& c : changes)
        if (c.newKey && violates(*st_, *c.tag, *c.newKey, recno))
            throwKeyViolation(*c.tag, st_->path());
    mutate(*st_, [&] {
        for (const Change& c : changes) {
            if (c.oldKey)
                st_->removeEntry(*c.tag, *c.oldKey, recno);
            if (c.newKey)
                st_->insertEntry(*c.tag, *c.newKey, recno);
        }
    });
}

MdxCursor MdxFile::cursor(std::string_view tag)
{
    st_->syncWithDisk();
    auto s = std::make_unique<MdxCursor::State>();
    s->st = st_.get();
    s->tag = st_->tagRef(tag).spec.name;
    return MdxCursor(std::move(s));
}

std::optional<Entry> MdxFile::findExact(std::string_view tag, std::string_view key)
{
    MdxCursor c = cursor(tag);
    if (!c.seekExact(key))
        return std::nullopt;
    return c.entry();
}

std::optional<Entry> MdxFile::findFirstNotBefore(std::string_view tag, std::string_view key)
{
    MdxCursor c = cursor(tag);
    if (!c.seek(key))
        return std::nullopt;
    return c.entry();
}

bool MdxFile::contains(std::string_view tag, std::string_view key, uint32_t recno)
{
    MdxCursor c = cursor(tag);
    const TagState& t = st_->tagRef(tag);
    const std::string k = fitKey(t, key);
    return c.seek(k, recno) && c.recno() == recno && st_->compareKey(t, c.key(), k) == 0;
}

uint64_t MdxFile::count(std::string_view tag)
{
    st_->syncWithDisk();
    return st_->countEntries(st_->tagRef(tag));
}

RegenerateResult MdxFile::regenerateTag(std::string_view tag, const EntrySource& source)
{
    st_->syncWithDisk();
    const std::vector<TagState> tags = st_->tags();
    const int which = st_->tagIndex(tag);
    if (which < 0)
        throw EDBEngineError::noSuchIndex(path(), tag);
    if (st_->readOnly())
        throw EDBEngineError::readOnly(path());
    std::vector<detail::Run> runs(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) {
        runs[i].keyLen = tags[i].keyLen;
        if (int(i) == which) {
            std::string key;
            uint32_t recno = 0;
            while (source(key, recno)) {
                checkRecno(recno);
                const std::string k = fitKey(tags[i], key);
                runs[i].keys.insert(runs[i].keys.end(), k.begin(), k.end());
                runs[i].recnos.push_back(recno);
                key.clear();
                recno = 0;
            }
        } else {
            // The other tags keep their entries, copied in order.
            MdxCursor c = cursor(tags[i].spec.name);
            for (bool ok = c.first(); ok; ok = c.next()) {
                runs[i].keys.insert(runs[i].keys.end(), c.key().begin(), c.key().end());
                runs[i].recnos.push_back(c.recno());
            }
        }
    }
    std::vector<bool> sel(tags.size(), false);
    sel[size_t(which)] = true;
    RegenerateResult r = sortAll(tags, runs, sel);
    std::vector<TagSpec> specs;
    for (const TagState& t : tags)
        specs.push_back(t.spec);
    Store::buildFile(path(), st_->dataName(), st_->header() + detail::H_CREATED, specs, runs, st_->counter() + 1);
    st_->reopen();
    return r;
}

RegenerateResult MdxFile::regenerateAll(const RecordSource& source)
{
    // Works also on a file whose last change failed: only the tag list is needed.
    if (st_->readOnly())
        throw EDBEngineError::readOnly(path());
    const std::vector<TagState> tags = st_->tags();
    std::vector<detail::Run> runs;
    collect(tags, source, runs);
    RegenerateResult r = sortAll(tags, runs, std::vector<bool>(tags.size(), true));
    std::vector<TagSpec> specs;
    for (const TagState& t : tags)
        specs.push_back(t.spec);
    Store::buildFile(path(), st_->dataName(), st_->header() + detail::H_CREATED, specs, runs, st_->counter() + 1);
    st_->reopen();
    return r;
}

void MdxFile::flush(bool sync)
{
    st_->flush(sync);
}

void MdxFile::forceNodes()
{
    st_->forceNodes();
}

bool MdxFile::unforced() const
{
    return st_->unforced();
}

void MdxFile::markChanging()
{
    st_->beginChange();
}

void MdxFile::refresh()
{
    st_->syncWithDisk(true);
}

void MdxFile::setLockedByCaller(bool held, bool justChecked)
{
    st_->setHeld(held, justChecked);
}

void MdxFile::setPathSeen(uint64_t device, uint64_t inode)
{
    st_->setPathSeen(device, inode);
}

uint64_t MdxFile::writeCount() const
{
    return st_->writes();
}

bool MdxFile::forcedOnDisk()
{
    return st_->forcedOnDisk();
}

int MdxFile::statOpenFile(struct stat* st) const
{
    return st_->statOpenFile(st);
}

void MdxFile::verify()
{
    st_->syncWithDisk();
    st_->verify();
}

MdxFile::Mark MdxFile::markOf(const std::string& path)
{
    switch (Store::markAt(path)) {
    case detail::MARK_CLEAN:
        return Mark::Clean;
    case detail::MARK_PENDING:
        return Mark::Pending;
    case detail::MARK_REPLACED:
        return Mark::Replaced;
    case -1:
        return Mark::None;
    default:
        return Mark::InUpdate;
    }
}

bool MdxFile::refreshHeld()
{
    return st_->syncHeld();
}

std::unique_ptr<MdxFile> MdxFile::openMarked(const std::string& path)
{
    auto st = Store::openPath(path, Mode::ReadWrite, true);
    st->setOpenedMarked();
    return std::unique_ptr<MdxFile>(new MdxFile(std::move(st)));
}

void MdxFile::clearMark()
{
    st_->clearMark();
}

}  // namespace kdb::mdx
