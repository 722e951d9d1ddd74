// The B-tree of each tag: descent, stepping, insertion and removal with
// splits and merges, adding and dropping tags, and the full check.
#include "MdxStore.h"

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "platform/db/core/DbError.h"

namespace kdb::mdx::detail {

// ---------------------------------------------------------------- navigation

// The first index of [lo, hi) where `before` no longer holds (it holds on a
// leading run of the range): the binary searches of a descent.
template <typename Before> uint32_t firstNotBefore(uint32_t lo, uint32_t hi, Before before)
{
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        if (before(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void Store::checkDepth(const TagState& t, size_t depth) const
{
    if (depth > size_t(kMaxDepth))
        throwCorrupt(path_, "tree of tag " + t.spec.name + " too deep");
}

const uint8_t* Store::readNode(const TagState& t, uint32_t page, size_t depth)
{
    checkDepth(t, depth);
    const uint8_t* b = readBlock(page);
    checkNode(t, b, page);
    return b;
}

bool Store::maxEntry(const TagState& t, uint32_t page, std::string& key, uint32_t& recno)
{
    for (size_t depth = 0;; ++depth) {
        const uint8_t* b = readNode(t, page, depth);
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            if (n == 0)
                return false;
            key.assign(keyAt(t, b, n - 1));
            recno = ptrAt(t, b, n - 1);
            return true;
        }
        page = ptrAt(t, b, n);
    }
}

void Store::descend(const TagState& t, const Target& target, std::vector<Level>& path)
{
    path.clear();
    uint32_t page = root(t);
    std::string mk;
    uint32_t mr = 0;
    for (;;) {
        const uint8_t* b = readNode(t, page, path.size());
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            const uint32_t at = firstNotBefore(
                0, n, [&](uint32_t i) { return compareEntry(t, keyAt(t, b, i), ptrAt(t, b, i), target) < 0; });
            path.push_back({page, static_cast<int>(at)});
            return;
        }
        // First key not before the target's key.
        const uint32_t lo =
            firstNotBefore(0, n, [&](uint32_t i) { return compareKey(t, keyAt(t, b, i), target.key) < 0; });
        uint32_t idx = lo;
        if (lo < n && target.recno != 0 && compareKey(t, keyAt(t, b, lo), target.key) == 0) {
            // Equal keys: the record number decides among the children.
            const uint32_t end =
                firstNotBefore(lo, n, [&](uint32_t i) { return compareKey(t, keyAt(t, b, i), target.key) <= 0; });
            if (target.recno == kAfterAll) {
                idx = end;
            } else {
                idx = firstNotBefore(lo, end, [&](uint32_t i) {
                    return !maxEntry(t, ptrAt(t, b, i), mk, mr) || compareEntry(t, mk, mr, target) < 0;
                });
            }
        }
        path.push_back({page, static_cast<int>(idx)});
        page = ptrAt(t, b, idx);
    }
}

void Store::descendEdge(const TagState& t, std::vector<Level>& path, bool rightmost)
{
    uint32_t page;
    if (path.empty()) {
        page = root(t);
    } else {
        const uint8_t* b = readBlock(path.back().page);
        page = ptrAt(t, b, static_cast<uint32_t>(path.back().idx));
    }
    for (;;) {
        const uint8_t* b = readNode(t, page, path.size());
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            path.push_back({page, rightmost ? static_cast<int>(n) - 1 : 0});
            return;
        }
        path.push_back({page, rightmost ? static_cast<int>(n) : 0});
        page = ptrAt(t, b, rightmost ? n : 0);
    }
}

namespace {
constexpr int kMaxEmptyLeaves = 4096;
}

bool Store::leaveLeaf(const TagState& t, std::vector<Level>& path, bool backward, int skipped)
{
    path.pop_back();
    for (; !path.empty(); path.pop_back()) {
        Level& up = path.back();
        if (backward ? up.idx > 0 : uint32_t(up.idx) < nkeys(readBlock(up.page))) {
            up.idx += backward ? -1 : 1;
            descendEdge(t, path, backward);
            if (skipped + 1 > kMaxEmptyLeaves)
                throwCorrupt(path_, "too many empty blocks in tag " + t.spec.name);
            return true;
        }
    }
    return false;
}

bool Store::settleForward(const TagState& t, std::vector<Level>& path)
{
    for (int skipped = 0; !path.empty(); ++skipped) {
        const uint8_t* b = readBlock(path.back().page);
        if (path.back().idx >= 0 && uint32_t(path.back().idx) < nkeys(b))
            return true;
        if (!leaveLeaf(t, path, false, skipped))
            return false;
    }
    return false;
}

bool Store::stepForward(const TagState& t, std::vector<Level>& path)
{
    if (path.empty())
        return false;
    ++path.back().idx;
    return settleForward(t, path);
}

bool Store::stepBackward(const TagState& t, std::vector<Level>& path)
{
    if (path.empty())
        return false;
    --path.back().idx;
    for (int skipped = 0;; ++skipped) {
        const uint8_t* b = readBlock(path.back().page);
        const int n = static_cast<int>(nkeys(b));
        if (path.back().idx >= 0 && n > 0) {
            if (path.back().idx >= n)
                path.back().idx = n - 1;
            return true;
        }
        if (!leaveLeaf(t, path, true, skipped))
            return false;
    }
}

bool Store::gotoFirst(const TagState& t, std::vector<Level>& path)
{
    path.clear();
    descendEdge(t, path, false);
    return settleForward(t, path);
}

bool Store::gotoLast(const TagState& t, std::vector<Level>& path)
{
    path.clear();
    descendEdge(t, path, true);
    if (path.back().idx >= 0)
        return true;
    path.back().idx = 0;  // empty leaf: step back from it
    return stepBackward(t, path);
}

std::string_view Store::entryKey(const TagState& t, const std::vector<Level>& path)
{
    return keyAt(t, readBlock(path.back().page), static_cast<uint32_t>(path.back().idx));
}

uint32_t Store::entryRecno(const TagState& t, const std::vector<Level>& path)
{
    return ptrAt(t, readBlock(path.back().page), static_cast<uint32_t>(path.back().idx));
}

// ---------------------------------------------------------------- changes

void Store::touchTag(TagState& t)
{
    uint8_t* h = writeBlock(t.headerPage);
    ++h[TH_SERIAL];
}

namespace {

struct Interior {
    std::vector<std::string> keys;
    std::vector<uint32_t> children;
};

Interior decodeInterior(const TagState& t, const uint8_t* b)
{
    Interior in;
    const uint32_t n = nkeys(b);
    in.keys.reserve(n + 1);
    in.children.reserve(n + 2);
    for (uint32_t i = 0; i < n; ++i) {
        in.keys.emplace_back(keyAt(t, b, i));
        in.children.push_back(ptrAt(t, b, i));
    }
    in.children.push_back(ptrAt(t, b, n));
    return in;
}

void encodeInterior(
    const TagState& t, uint8_t* w, uint32_t blockBytes, const std::string* keys, const uint32_t* children, size_t nKeys)
{
    if (8 + nKeys * size_t(t.itemLen) + 4 > blockBytes)
        throwCorrupt(std::string(), "block too full in tag " + t.spec.name);
    std::memset(w, 0, blockBytes);
    wr32(w, static_cast<uint32_t>(nKeys));
    for (size_t i = 0; i < nKeys; ++i) {
        uint8_t* e = w + 8 + i * size_t(t.itemLen);
        wr32(e, children[i]);
        std::memcpy(e + 4, keys[i].data(), size_t(t.keyLen));
    }
    wr32(w + 8 + nKeys * size_t(t.itemLen), children[nKeys]);
}

}  // namespace

bool Store::insertEntry(TagState& t, std::string_view key, uint32_t recno)
{
    std::vector<Level> path;
    const Target target{key, recno};
    descend(t, target, path);
    const Level leaf = path.back();
    const uint8_t* b = readBlock(leaf.page);
    const uint32_t n = nkeys(b);
    const uint32_t idx = static_cast<uint32_t>(leaf.idx);
    if (idx < n && compareEntry(t, keyAt(t, b, idx), ptrAt(t, b, idx), target) == 0)
        return false;

    beginChange();
    const size_t il = size_t(t.itemLen);
    std::vector<uint8_t> item(il, 0);
    wr32(item.data(), recno);
    std::memcpy(item.data() + 4, key.data(), size_t(t.keyLen));

    if (n < uint32_t(t.capLeaf)) {
        uint8_t* w = writeBlock(leaf.page);
        std::memmove(w + 8 + (idx + 1) * il, w + 8 + idx * il, (n - idx) * il);
        std::memcpy(w + 8 + idx * il, item.data(), il);
        wr32(w, n + 1);
    } else {
        bool rightmost = true, leftmost = true;
        for (size_t l = 0; l + 1 < path.size(); ++l) {
            const uint32_t pn = nkeys(readBlock(path[l].page));
            if (uint32_t(path[l].idx) != pn)
                rightmost = false;
            if (path[l].idx != 0)
                leftmost = false;
        }
        const uint32_t total = n + 1;
        std::vector<uint8_t> all(total * il);
        std::memcpy(all.data(), b + 8, idx * il);
        std::memcpy(all.data() + idx * il, item.data(), il);
        std::memcpy(all.data() + (idx + 1) * il, b + 8 + idx * il, (n - idx) * il);
        uint32_t m = total / 2;
        if (rightmost && idx == n)
            m = n;
        else if (leftmost && idx == 0)
            m = 1;
        const uint32_t left = allocBlock(t);
        uint8_t* wl = writeBlock(left);
        std::memset(wl, 0, blockBytes_);
        wr32(wl, m);
        std::memcpy(wl + 8, all.data(), m * il);
        uint8_t* wr = writeBlock(leaf.page);
        std::memset(wr, 0, blockBytes_);
        wr32(wr, total - m);
        std::memcpy(wr + 8, all.data() + m * il, (total - m) * il);
        const std::string sep(reinterpret_cast<const char*>(all.data() + (m - 1) * il + 4), size_t(t.keyLen));
        insertIntoParent(t, path, path.size() - 1, sep, left, rightmost);
        refreshEdges(t);
    }
    uint8_t* h = writeBlock(t.headerPage);
    h[TH_HASKEYS] = 1;
    touchTag(t);
    if (t.countKnown)
        ++t.count;
    return true;
}

void Store::insertIntoParent(
    TagState& t, std::vector<Level>& path, size_t level, const std::string& sepKey, uint32_t leftPage, bool appendHint)
{
    if (level == 0) {
        const uint32_t newRoot = allocBlock(t);
        const std::string keys[1] = {sepKey};
        const uint32_t children[2] = {leftPage, path[0].page};
        encodeInterior(t, writeBlock(newRoot), blockBytes_, keys, children, 1);
        wr32(writeBlock(t.headerPage) + TH_ROOT, newRoot);
        return;
    }
    Level& parent = path[level - 1];
    Interior in = decodeInterior(t, readBlock(parent.page));
    const size_t at = static_cast<size_t>(parent.idx);
    in.keys.insert(in.keys.begin() + static_cast<long>(at), sepKey);
    in.children.insert(in.children.begin() + static_cast<long>(at), leftPage);
    const size_t total = in.keys.size();
    if (total <= size_t(t.capInterior)) {
        encodeInterior(t, writeBlock(parent.page), blockBytes_, in.keys.data(), in.children.data(), total);
        return;
    }
    // Split: the left part (new block) keeps keys [0, m) and children [0, m];
    // key m goes up; the right part stays in place.
    const size_t m = appendHint ? total - 2 : total / 2;
    const uint32_t left = allocBlock(t);
    encodeInterior(t, writeBlock(left), blockBytes_, in.keys.data(), in.children.data(), m);
    encodeInterior(
        t, writeBlock(parent.page), blockBytes_, in.keys.data() + m + 1, in.children.data() + m + 1, total - m - 1);
    insertIntoParent(t, path, level - 1, in.keys[m], left, appendHint);
}

bool Store::removeEntry(TagState& t, std::string_view key, uint32_t recno)
{
    std::vector<Level> path;
    const Target target{key, recno};
    descend(t, target, path);
    const Level leaf = path.back();
    const uint8_t* b = readBlock(leaf.page);
    const uint32_t n = nkeys(b);
    const uint32_t idx = static_cast<uint32_t>(leaf.idx);
    if (idx >= n || compareEntry(t, keyAt(t, b, idx), ptrAt(t, b, idx), target) != 0)
        return false;

    beginChange();
    const size_t il = size_t(t.itemLen);
    uint8_t* w = writeBlock(leaf.page);
    std::memmove(w + 8 + idx * il, w + 8 + (idx + 1) * il, (n - idx - 1) * il);
    std::memset(w + 8 + (n - 1) * il, 0, blockBytes_ - (8 + (n - 1) * il));
    wr32(w, n - 1);
    bool structural = false;
    if (n - 1 == 0 && path.size() > 1) {
        freeBlock(t, leaf.page);
        removeChild(t, path, path.size() - 2);
        structural = true;
    } else if (idx == n - 1 && n - 1 > 0 && path.size() > 1) {
        const std::string newMax(keyAt(t, w, n - 2));
        updateSeparator(t, path, path.size() - 1, newMax);
    }
    if (structural) {
        // A root left with a single child gives way to it.
        for (int guard = 0; guard <= kMaxDepth; ++guard) {
            const uint32_t r = root(t);
            const uint8_t* rb = readBlock(r);
            if (isLeaf(t, rb) || nkeys(rb) != 0)
                break;
            const uint32_t only = ptrAt(t, rb, 0);
            freeBlock(t, r);
            wr32(writeBlock(t.headerPage) + TH_ROOT, only);
        }
        refreshEdges(t);
    }
    const uint8_t* rb = readBlock(root(t));
    uint8_t* h = writeBlock(t.headerPage);
    h[TH_HASKEYS] = (isLeaf(t, rb) && nkeys(rb) == 0) ? 0 : 1;
    touchTag(t);
    if (t.countKnown && t.count > 0)
        --t.count;
    return true;
}

void Store::removeChild(TagState& t, std::vector<Level>& path, size_t level)
{
    Level& node = path[level];
    Interior in = decodeInterior(t, readBlock(node.page));
    const size_t i = static_cast<size_t>(node.idx);
    if (in.children.size() == 1) {
        if (level == 0) {  // the root lost its last child: it becomes an empty leaf
            std::memset(writeBlock(node.page), 0, blockBytes_);
            return;
        }
        freeBlock(t, node.page);
        removeChild(t, path, level - 1);
        return;
    }
    const size_t n = in.keys.size();
    if (i < n) {
        in.keys.erase(in.keys.begin() + static_cast<long>(i));
        in.children.erase(in.children.begin() + static_cast<long>(i));
        encodeInterior(t, writeBlock(node.page), blockBytes_, in.keys.data(), in.children.data(), n - 1);
    } else {
        const std::string newMax = in.keys[n - 1];
        in.keys.pop_back();
        in.children.pop_back();
        encodeInterior(t, writeBlock(node.page), blockBytes_, in.keys.data(), in.children.data(), n - 1);
        updateSeparator(t, path, level, newMax);
    }
}

void Store::updateSeparator(TagState& t, std::vector<Level>& path, size_t level, const std::string& newMax)
{
    while (level > 0) {
        const Level& parent = path[level - 1];
        const uint8_t* pb = readBlock(parent.page);
        if (uint32_t(parent.idx) < nkeys(pb)) {
            uint8_t* w = writeBlock(parent.page);
            std::memcpy(w + 8 + size_t(parent.idx) * t.itemLen + 4, newMax.data(), size_t(t.keyLen));
            return;
        }
        --level;
    }
}

void Store::refreshEdges(TagState& t)
{
    std::vector<Level> path;
    descendEdge(t, path, false);
    const uint32_t first = path.back().page;
    path.clear();
    descendEdge(t, path, true);
    const uint32_t last = path.back().page;
    const uint8_t* h = readBlock(t.headerPage);
    if (rd32(h + TH_FIRSTLEAF) != first || rd32(h + TH_LASTLEAF) != last) {
        uint8_t* w = writeBlock(t.headerPage);
        wr32(w + TH_FIRSTLEAF, first);
        wr32(w + TH_LASTLEAF, last);
    }
}

void Store::collectPages(const TagState& t, std::vector<uint32_t>& pages)
{
    // Depth-first walk; a page met twice means a loop or a shared block.
    std::unordered_set<uint32_t> seen;
    struct Frame {
        uint32_t page;
        int depth;
    };
    std::vector<Frame> stack{{root(t), 0}};
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        checkDepth(t, size_t(f.depth));
        if (!seen.insert(f.page).second)
            throwCorrupt(path_, "block " + std::to_string(f.page) + " reached twice in tag " + t.spec.name);
        pages.push_back(f.page);
        const uint8_t* b = readBlock(f.page);
        checkNode(t, b, f.page);
        if (isLeaf(t, b))
            continue;
        const uint32_t n = nkeys(b);
        for (uint32_t i = 0; i <= n; ++i)
            stack.push_back({ptrAt(t, b, i), f.depth + 1});
    }
}

uint64_t Store::countEntries(TagState& t)
{
    if (t.countKnown)
        return t.count;
    std::vector<uint32_t> pages;
    collectPages(t, pages);
    uint64_t total = 0;
    for (uint32_t p : pages) {
        const uint8_t* b = readBlock(p);
        if (isLeaf(t, b))
            total += nkeys(b);
    }
    t.count = total;
    t.countKnown = true;
    return total;
}

void Store::addTag(const TagSpec& raw)
{
    const TagSpec spec = normaliseSpec(raw, path_);
    if (tags_.size() >= size_t(kMaxTags))
        throw EDBEngineError::tooManyTags(path_);
    if (tagIndex(spec.name) >= 0)
        throw EDBEngineError::duplicateTag(path_, spec.name);
    beginChange();
    TagState t = makeTagState(spec, blockBytes_);
    const uint32_t headerPage = allocBlock(t);
    const uint32_t rootPage = allocBlock(t);
    fillTagHeader(writeBlock(headerPage), blockBytes_, t, rootPage, 2 * blockPages_, rootPage, rootPage, false);
    const int n = static_cast<int>(tags_.size());
    fillTagEntry(hdr_ + H_TAGTABLE + H_TAGENTRY * n, t, headerPage);
    wr16(hdr_ + H_TAGSINUSE, static_cast<uint16_t>(n + 1));
    rebuildThreads(hdr_, n + 1);
    loadTags();
}

void Store::dropTag(std::string_view name)
{
    const int index = tagIndex(name);
    if (index < 0)
        throw EDBEngineError::noSuchIndex(path_, name);
    TagState& t = tags_[static_cast<size_t>(index)];
    std::vector<uint32_t> pages;
    collectPages(t, pages);
    beginChange();
    for (uint32_t p : pages)
        freeBlock(t, p);
    const uint32_t headerPage = t.headerPage;
    t.headerPage = 0;
    freeBlock(t, headerPage);
    const int n = static_cast<int>(tags_.size());
    uint8_t* table = hdr_ + H_TAGTABLE;
    std::memmove(
        table + H_TAGENTRY * index, table + H_TAGENTRY * (index + 1), size_t(H_TAGENTRY) * size_t(n - index - 1));
    std::memset(table + H_TAGENTRY * (n - 1), 0, H_TAGENTRY);
    wr16(hdr_ + H_TAGSINUSE, static_cast<uint16_t>(n - 1));
    rebuildThreads(hdr_, n - 1);
    loadTags();
}

// ---------------------------------------------------------------- verification

void Store::verify()
{
    checkUsable();
    std::unordered_set<uint32_t> used;
    for (TagState& t : tags_) {
        if (!used.insert(t.headerPage).second)
            throwCorrupt(path_, "header of tag " + t.spec.name + " shared");
        std::string prevKey;
        uint32_t prevRecno = 0;
        bool havePrev = false;
        uint64_t entries = 0, nodes = 0;
        int leafDepth = -1;
        uint32_t firstLeaf = 0, lastLeaf = 0;
        // Recursive walk; returns through prevKey the largest entry seen.
        std::function<void(uint32_t, int, bool)> walk = [&](uint32_t page, int depth, bool isRoot) {
            checkDepth(t, size_t(depth));
            if (!used.insert(page).second)
                throwCorrupt(path_, "block " + std::to_string(page) + " reached twice");
            ++nodes;
            const uint8_t* b = readBlock(page);
            checkNode(t, b, page);
            const uint32_t n = nkeys(b);
            if (isLeaf(t, b)) {
                if (leafDepth < 0)
                    leafDepth = depth;
                else if (leafDepth != depth)
                    throwCorrupt(path_, "leaves at different depths in tag " + t.spec.name);
                if (n == 0 && !isRoot)
                    throwCorrupt(path_, "empty block in tag " + t.spec.name);
                if (firstLeaf == 0)
                    firstLeaf = page;
                lastLeaf = page;
                for (uint32_t i = 0; i < n; ++i) {
                    const std::string_view k = keyAt(t, b, i);
                    const uint32_t r = ptrAt(t, b, i);
                    if (r == 0)
                        throwCorrupt(path_, "record number 0 in tag " + t.spec.name);
                    if (havePrev) {
                        const int c = compareEntry(t, k, r, Target{prevKey, prevRecno});
                        if (c <= 0 || (t.unique && compareKey(t, k, prevKey) == 0))
                            throwCorrupt(path_, "keys out of order in tag " + t.spec.name);
                    }
                    prevKey.assign(k);
                    prevRecno = r;
                    havePrev = true;
                    ++entries;
                }
                // Bytes after the last entry must be zero (leaf test of readers).
                const size_t end = 8 + size_t(n) * t.itemLen;
                if (end + 4 <= blockBytes_ && rd32(b + end) != 0)
                    throwCorrupt(path_, "non-zero block end in tag " + t.spec.name);
                return;
            }
            const Interior in = decodeInterior(t, b);
            for (size_t i = 0; i < in.children.size(); ++i) {
                walk(in.children[i], depth + 1, false);
                if (i < in.keys.size() && (!havePrev || compareKey(t, in.keys[i], prevKey) != 0))
                    throwCorrupt(path_, "bad separator in tag " + t.spec.name);
            }
        };
        walk(root(t), 0, true);
        const uint8_t* h = readBlock(t.headerPage);
        if (rd32(h + TH_SIZE) != (nodes + 1) * blockPages_)
            throwCorrupt(path_, "bad size of tag " + t.spec.name);
        if (rd32(h + TH_FIRSTLEAF) != firstLeaf || rd32(h + TH_LASTLEAF) != lastLeaf)
            throwCorrupt(path_, "bad first or last leaf of tag " + t.spec.name);
        if ((h[TH_HASKEYS] != 0) != (entries > 0))
            throwCorrupt(path_, "bad has-keys flag of tag " + t.spec.name);
        if (t.countKnown && t.count != entries)
            throwCorrupt(path_, "bad entry count of tag " + t.spec.name);
        t.count = entries;
        t.countKnown = true;
    }
    uint32_t page = rd32(hdr_ + H_FREEHEAD);
    uint32_t freeBlocks = 0;
    while (page != 0) {
        if (!validPage(page) || !used.insert(page).second)
            throwCorrupt(path_, "bad free block list");
        ++freeBlocks;
        page = rd32(readBlock(page) + 4);
    }
    if (freeBlocks != rd32(hdr_ + H_FREECOUNT))
        throwCorrupt(path_, "bad free block count");
}

}  // namespace kdb::mdx::detail
