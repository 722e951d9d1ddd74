#include "platform/db/dbf/DbfTable.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include <sys/stat.h>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/core/SideBySide.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

namespace {
using Keys = std::vector<std::optional<std::string>>;

// Changes made through the opens of this program, per file identity (device,
// inode); kept for the program's life (a few files).
std::mutex& changeCountsMutex()
{
    static std::mutex m;
    return m;
}
// The last change of a file made in this program: its count, and the files
// as that change left them (looked at under the header lock by the open
// that made it, when it knew the files before it; else not known).
struct LastChange {
    uint64_t count = 0;
    bool known = false;
    std::array<int64_t, 3> file{};
    std::array<int64_t, 4> index{};
};
std::map<std::pair<uint64_t, uint64_t>, LastChange>& changeCounts()
{
    static auto* counts = new std::map<std::pair<uint64_t, uint64_t>, LastChange>;  // used until the program ends
    return *counts;
}

// A record write failed after the index took its change: the index goes back
// to the record as the table holds it. Should that fail too, the index stays
// marked "in update" and the next open reports it out of date.
void undoIndexChange(mdx::MdxFile& index, const std::vector<std::string>& tags, const Keys& applied,
    const Keys& previous, uint32_t recNo) noexcept
{
    try {
        index.updateRecord(tags, applied, previous, recNo);
    } catch (const EDBEngineError&) {
    }
}

// A number's text with `decimals` decimals, rounded half away from zero as
// the decimal number it stands for. The numbers of a table and of a
// statement are decimal numbers held in binary: 1092.07 + -485.795 is
// 606.275, held as 606.27499999999998, and is written 606.28. The rounding
// starts from the number's decimal digits to 15 significant ones (all that
// a binary number holds for sure); |d| < 1e15.
std::string decimalText(double d, int decimals)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(d));  // "6.06274999999999e+02"
    const std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 14);
    const int exponent = std::atoi(buf + 17);
    // The digits kept: those before the point, then the decimals.
    const int keep = exponent + 1 + decimals;
    std::string units;  // the number in units of the last decimal
    if (keep <= 0) {
        units = keep == 0 && digits[0] >= '5' ? "1" : "0";
    } else if (keep >= static_cast<int>(digits.size())) {
        units = digits + std::string(static_cast<size_t>(keep) - digits.size(), '0');
    } else {
        units = digits.substr(0, static_cast<size_t>(keep));
        if (digits[static_cast<size_t>(keep)] >= '5') {
            int i = keep - 1;
            for (; i >= 0 && units[static_cast<size_t>(i)] == '9'; --i)
                units[static_cast<size_t>(i)] = '0';
            if (i < 0)
                units.insert(units.begin(), '1');
            else
                ++units[static_cast<size_t>(i)];
        }
    }
    const size_t first = std::min(units.find_first_not_of('0'), units.size() - 1);
    units.erase(0, first);
    const size_t dec = static_cast<size_t>(decimals);
    if (units.size() < dec + 1)
        units.insert(0, dec + 1 - units.size(), '0');
    std::string s = units.substr(0, units.size() - dec);
    if (dec)
        s += '.' + units.substr(units.size() - dec);
    if (d < 0 && units.find_first_not_of('0') != std::string::npos)
        s.insert(0, 1, '-');  // no negative zero
    return s;
}
}  // namespace

// ---- writing ---------------------------------------------------------------------

void DbfTable::checkWritable() const
{
    if (isReadOnly())
        throw EDBEngineError::notWritable(path_, 0);
}

void DbfTable::requireExclusive(const char* what) const
{
    if (!mode_.exclusive)
        throw EDBEngineError::needExclusive(path_, std::string(what) + " needs the table opened exclusively");
    checkWritable();
}

void DbfTable::encodeField(const FieldInfo& f, const QVariant& v, char* dst, bool int16, int codePage) const
{
    const size_t w = static_cast<size_t>(f.width);
    const bool empty = v.isNull() || !v.isValid() ||
        (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty() && f.nativeType != 'C');
    auto bad = [&](const char* why) { throw EDBEngineError::invalidParam(path_, "field " + f.name + ": " + why); };
    switch (f.nativeType) {
    case 'C': {
        std::string s;
        if (!empty) {
            if (v.typeId() == QMetaType::QDate)
                s = v.toDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
            else
                s = toCodePage(codePage, v.toString());
        }
        if (s.size() > w)
            s.resize(w);
        std::memcpy(dst, s.data(), s.size());
        std::memset(dst + s.size(), ' ', w - s.size());
        return;
    }
    case 'D': {
        if (empty) {
            std::memset(dst, ' ', 8);
            return;
        }
        QDate d = v.typeId() == QMetaType::QDate || v.typeId() == QMetaType::QDateTime
            ? v.toDate()
            : dateFromText(v.toString().trimmed());
        if (!d.isValid() || d.year() < 1 || d.year() > 9999)
            bad("not a date");
        const std::string s = d.toString(QStringLiteral("yyyyMMdd")).toStdString();
        std::memcpy(dst, s.data(), 8);
        return;
    }
    case 'N':
    case 'F': {
        if (empty) {
            std::memset(dst, ' ', w);
            return;
        }
        std::string s;
        bool ok = false;
        if (f.decimals == 0 &&
            (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::UInt ||
                v.typeId() == QMetaType::Short)) {
            s = std::to_string(v.toLongLong());
            ok = true;
        } else {
            double d = 0;
            if (v.typeId() == QMetaType::QString) {
                QString t = v.toString().trimmed();
                t.replace(QLatin1Char(','), QLatin1Char('.'));
                d = t.toDouble(&ok);
            } else if (v.typeId() == QMetaType::Bool) {
                d = v.toBool() ? 1 : 0;
                ok = true;
            } else {
                d = v.toDouble(&ok);
            }
            if (!ok || !std::isfinite(d))
                bad("not a number");
            if (std::fabs(d) < 1e15) {
                s = decimalText(d, f.decimals);
            } else if (f.decimals == 0) {
                const double r = std::round(d);
                if (std::fabs(r) > 9.2e18)
                    bad("number too large");
                s = std::to_string(static_cast<long long>(r));
            } else {
                s = QString::number(d, 'f', f.decimals).toStdString();
                if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-')
                    s.erase(0, 1);  // no negative zero
            }
        }
        if (int16) {
            const long long iv = std::stoll(s);
            if (iv < -32768 || iv > 32767)
                bad("value outside the 16-bit integer range");
        }
        if (s.size() > w)
            bad("number too wide for the field");
        std::memset(dst, ' ', w - s.size());
        std::memcpy(dst + (w - s.size()), s.data(), s.size());
        return;
    }
    case 'L': {
        if (empty) {
            *dst = ' ';
            return;
        }
        bool b = false;
        if (v.typeId() == QMetaType::QString) {
            const QString t = v.toString().trimmed().toUpper();
            if (t == QLatin1String("T") || t == QLatin1String("Y") || t == QLatin1String("TRUE") ||
                t == QLatin1String("1") || t == QLatin1String("O") || t == QLatin1String("OUI"))
                b = true;
            else if (t == QLatin1String("F") || t == QLatin1String("N") || t == QLatin1String("FALSE") ||
                t == QLatin1String("0") || t == QLatin1String("NON"))
                b = false;
            else
                bad("not a logical value");
        } else {
            b = v.toBool();
        }
        *dst = b ? 'T' : 'F';
        return;
    }
    case 'I':
    case '+': {
        if (empty) {
            std::memset(dst, 0, 4);
            return;
        }
        bool ok = false;
        const long long iv = v.toLongLong(&ok);
        if (!ok || iv < INT32_MIN || iv > INT32_MAX)
            bad("not a 32-bit integer");
        const uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(iv)) ^ 0x80000000u;
        dst[0] = static_cast<char>(u >> 24);
        dst[1] = static_cast<char>(u >> 16);
        dst[2] = static_cast<char>(u >> 8);
        dst[3] = static_cast<char>(u);
        return;
    }
    case 'O': {
        if (empty) {
            std::memset(dst, 0, 8);
            return;
        }
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            bad("not a number");
        uint64_t u;
        std::memcpy(&u, &d, 8);
        u = (u & 0x8000000000000000ull) ? ~u : (u | 0x8000000000000000ull);
        for (int i = 7; i >= 0; --i, u >>= 8)
            dst[i] = static_cast<char>(u & 0xFF);
        return;
    }
    default:
        if (!empty)
            throw EDBEngineError::notSupported(path_, "field " + f.name + ": writing this type is not supported");
        return;
    }
}

namespace {
bool emptyValue(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return true;
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString().trimmed().isEmpty();
    case QMetaType::QByteArray:
        return v.toByteArray().isEmpty();
    case QMetaType::QDate:
        return !v.toDate().isValid();
    default:
        return false;
    }
}
}  // namespace

// Builds the record bytes; memo texts are appended to the memo file. Against
// the record as stored (`old`), a field given the value its stored bytes read
// as keeps those bytes (see encodeInto).
void DbfTable::encodeRecord(const std::vector<QVariant>& values, std::string& rec, const std::string* old)
{
    if (values.size() > fields_.size())
        throw EDBEngineError::invalidParam(path_, "more values than fields");
    if (old)
        rec = *old;
    else
        rec.assign(recLen_, ' ');
    for (size_t i = 0; i < fields_.size(); ++i)
        encodeInto(i, i < values.size() ? values[i] : QVariant(), rec, old);
}

// Writes one field's value at its place in rec. With the stored record: a
// value equal to what the stored bytes read as leaves them untouched, so a
// date or a number that does not read (given back empty) and the spacing of
// a stored number survive; a memo whose text is unchanged (or whose pointer
// is damaged and no text is given) keeps its pointer.
void DbfTable::encodeInto(size_t i, const QVariant& v, std::string& rec, const std::string* old)
{
    const auto& f = fields_[i];
    char* dst = rec.data() + f.offset;
    if (dbfimpl::inMemoFile(f)) {
        std::string data;
        if (!emptyValue(v))
            data = v.typeId() == QMetaType::QByteArray ? v.toByteArray().toStdString()
                                                       : toCodePage(codePage_, v.toString());
        if (old && memoText(std::string_view(old->data() + f.offset, static_cast<size_t>(f.width))) == data)
            return;
        if (data.empty()) {
            std::memset(dst, ' ', static_cast<size_t>(f.width));
            return;
        }
        if (!dbt_.isOpen())
            throw EDBEngineError::memoCorrupt(path_, "memo file missing");
        if (f.width < 10)
            throw EDBEngineError::notSupported(path_, "field " + f.name + ": memo pointer narrower than 10 bytes");
        putMemoPointer(dst, f.width, appendMemo(data));
        return;
    }
    if (old) {
        const QVariant stored = decodeField(f, old->data());
        if (stored.isNull() ? emptyValue(v) : stored == v)
            return;
    }
    encodeField(f, v, dst, int16_[i]);
}

std::string DbfTable::keyOf(int tagIdx, const char* record) const
{
    const Tag& t = tags_.at(static_cast<size_t>(tagIdx));
    if (t.info.keyType == 'D') {
        const auto& f = fields_[t.fields[0]];
        auto k = mdx::encodeDateText(std::string_view(record + f.offset, 8));
        return k ? *k : mdx::encodeBlankDate();
    }
    if (t.info.keyType == 'N') {
        const auto& f = fields_[t.fields[0]];
        auto k = mdx::encodeNumericText(std::string_view(record + f.offset, static_cast<size_t>(f.width)));
        return k ? *k : *mdx::encodeNumericText("");
    }
    std::string text;
    text.reserve(static_cast<size_t>(t.keyLen));
    for (int fi : t.fields) {
        const auto& f = fields_[fi];
        text.append(record + f.offset, static_cast<size_t>(f.width));
    }
    for (auto& c : text)
        if (c == '\0')
            c = ' ';
    return mdx::encodeCharacter(text, t.keyLen);
}

std::vector<std::optional<std::string>> DbfTable::keysOf(const char* record) const
{
    std::vector<std::optional<std::string>> keys;
    keys.reserve(tags_.size());
    for (size_t i = 0; i < tags_.size(); ++i)
        keys.emplace_back(keyOf(static_cast<int>(i), record));
    return keys;
}

std::vector<std::string> DbfTable::tagNames() const
{
    std::vector<std::string> names;
    for (const auto& t : tags_)
        names.push_back(t.info.name);
    return names;
}

void DbfTable::refreshCount()
{
    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    takeCount(le32(c));
}

void DbfTable::takeCount(uint32_t n)
{
    // The count as this open knows it was held against the file's size
    // already (the file shrinks only with its count): nothing to look at.
    if (n == count_)
        return;
    const uint64_t fsize = file_.size();
    const uint64_t fit = fsize > headerLen_ ? (fsize - headerLen_) / recLen_ : 0;
    if (n > fit)
        n = static_cast<uint32_t>(fit);
    if (n != count_) {
        count_ = n;
        invalidateCache();
    }
}

void DbfTable::takeBackBeforeWrite()
{
    if (file_.size() > headerLen_ + uint64_t(count_) * recLen_ + 1)
        takeBackAfterCount(true);
}

void DbfTable::writeCount(uint32_t count)
{
    unsigned char h[7];
    todayBytes(h);
    put32(h + 3, count);
    file_.writeAt(1, h, 7);
}

uint32_t DbfTable::append(const std::vector<QVariant>& values)
{
    checkWritable();
    HeaderLock lock(*this, true);
    // (a statement's count is fresh and nothing follows it: nobody appends
    // meanwhile)
    if (!statementHeld_) {
        if (!mode_.exclusive)
            refreshCount();  // others may have appended
        takeBackBeforeWrite();
    }
    std::string rec;
    encodeRecord(values, rec, nullptr);
    const uint32_t recNo = count_ + 1;
    if (recNo == 0)
        throw EDBEngineError::writeFailed(path_, 0, "table full");
    const Keys keys = mdx_ ? keysOf(rec.data()) : Keys();
    if (mdx_)
        guardKeys([&] { mdx_->insertRecord(tagNames(), keys, recNo); }, rec.data(), recNo);
    rec.push_back(0x1A);
    // Record first, then the count: a program killed in between leaves the
    // table as it was. A write refused, of the table or of its index, leaves
    // it so too; the index goes back unless its own write failed (it then
    // stays marked "in update" and is made again from the table).
    bool recordWritten = false;
    try {
        file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, rec.data(), rec.size());
        recordWritten = true;
        writeCount(recNo);
        indexWritten();
    } catch (const EDBEngineError&) {
        // The count back, what part of the record was written goes, the end
        // mark comes back. A count that may say otherwise and cannot be put
        // back keeps the record (taken back later, or counted already).
        bool countAsBefore = !recordWritten;
        try {
            if (recordWritten)
                writeCount(count_);
            countAsBefore = true;
        } catch (const EDBEngineError&) {
        }
        try {
            if (countAsBefore) {
                const uint64_t end = headerLen_ + uint64_t(count_) * recLen_;
                const char eof = 0x1A;
                file_.truncate(end + 1);
                file_.writeAt(end, &eof, 1);
            }
        } catch (const EDBEngineError&) {
        }
        if (mdx_) {
            undoIndexChange(*mdx_, tagNames(), keys, Keys(keys.size()), recNo);
            indexWrittenAfterFailure();
        }
        invalidateCache();
        throw;
    }
    count_ = recNo;
    invalidateCache();
    return recNo;
}

// After a change of the index: others must see it complete before the
// header lock goes, so it is written out at once on a shared open (its mark
// left "pending" until a forced flush). On an exclusive open it is written
// by flush() or on close; a program killed before leaves the index marked
// "in update" (DBERR_INDEXOUTOFDATE, then regenerated) and every record
// intact.
void DbfTable::indexWritten()
{
    if (mdx_ && !mode_.exclusive && !statementHeld_)
        mdx_->flush(false);
}

void DbfTable::indexWrittenAfterFailure() noexcept
{
    try {
        indexWritten();
    } catch (const EDBEngineError&) {
    }
}

// Runs an index change; a refusal of a unique tag is reported naming the tag
// and the table. The index is unchanged then.
void DbfTable::guardKeys(const std::function<void()>& change, const char* record, uint32_t recNo)
{
    try {
        try {
            change();
        } catch (const EDBEngineError& e) {
            // A deleted record's key in a unique tag gives way to a live one.
            if (e.code() != DBERR_KEYVIOL || record[0] == '*' || !giveWay(record, recNo))
                throw;
            change();
        }
    } catch (const EDBEngineError& e) {
        if (e.code() != DBERR_KEYVIOL)
            throw;
        std::string tag;
        for (size_t i = 0; i < tags_.size() && tag.empty(); ++i)
            if (tags_[i].info.unique &&
                mdx_->wouldViolate(tags_[i].info.name, keyOf(static_cast<int>(i), record), recNo))
                tag = tags_[i].info.name;
        throw EDBEngineError::keyViolation(path_, tag.empty() ? std::string("?") : tag);
    }
}

// The entries of deleted records that hold the record's keys in unique
// tags are removed; answers whether there were any.
bool DbfTable::giveWay(const char* record, uint32_t recNo)
{
    bool gave = false;
    for (size_t i = 0; i < tags_.size(); ++i) {
        if (!tags_[i].info.unique)
            continue;
        const std::string key = keyOf(static_cast<int>(i), record);
        const auto holder = mdx_->findExact(tags_[i].info.name, key);
        if (!holder || holder->recno == recNo || holder->recno == 0 || holder->recno > count_)
            continue;
        char flag = 0;
        file_.readExact(headerLen_ + uint64_t(holder->recno - 1) * recLen_, &flag, 1, DBERR_FILECORRUPT);
        if (flag == '*' && mdx_->remove(tags_[i].info.name, key, holder->recno))
            gave = true;
    }
    return gave;
}

void DbfTable::lockForWrite(uint32_t recNo, bool& tookRecordLock)
{
    tookRecordLock = false;
    if (mode_.exclusive)
        return;
    if (recordLocks_.count(recNo) != 0)
        return;
    if (!file_.tryLock(kLockRecord + recNo, 1, true))
        throw EDBEngineError::locked(path_, "record " + std::to_string(recNo) + " is locked by another user");
    tookRecordLock = true;
}

void DbfTable::update(uint32_t recNo, const std::vector<QVariant>& values)
{
    RecordWrite write(*this, recNo);
    std::string old;
    readRecordFresh(recNo, old);
    std::string rec;
    encodeRecord(values, rec, &old);
    writeChanged(recNo, old, rec);
}

void DbfTable::updateFields(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values)
{
    for (const auto& [field, v] : values)
        checkField(field);
    RecordWrite write(*this, recNo);
    std::string old;
    readRecordFresh(recNo, old);
    std::string rec = old;
    for (const auto& [field, v] : values)
        encodeInto(static_cast<size_t>(field), v, rec, &old);
    writeChanged(recNo, old, rec);
}

void DbfTable::checkFields(
    uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values, std::set<std::string>& taken)
{
    checkWritable();
    for (const auto& [field, v] : values)
        checkField(field);
    std::string old;
    readRecordFresh(recNo, old);
    std::string rec = old;
    for (const auto& [field, v] : values)
        if (!inMemoFile(fields_[static_cast<size_t>(field)]))  // a memo is any text
            encodeInto(static_cast<size_t>(field), v, rec, &old);
    if (!mdx_ || rec[0] == '*')
        return;
    HeaderLock lock(*this, false);
    for (size_t i = 0; i < tags_.size(); ++i) {
        if (!tags_[i].info.unique)
            continue;
        const std::string key = keyOf(static_cast<int>(i), rec.data());
        if (key == keyOf(static_cast<int>(i), old.data()))
            continue;
        bool refused = !taken.insert(std::to_string(i) + ":" + key).second;
        if (!refused) {
            // held by another live record (a deleted one gives its key up)
            const auto holder = mdx_->findExact(tags_[i].info.name, key);
            if (holder && holder->recno != recNo && holder->recno >= 1) {
                refused = true;
                if (holder->recno <= count_) {
                    char flag = 0;
                    file_.readExact(headerLen_ + uint64_t(holder->recno - 1) * recLen_, &flag, 1, DBERR_FILECORRUPT);
                    refused = flag != '*';
                }
            }
        }
        if (refused)
            throw EDBEngineError::keyViolation(path_, tags_[i].info.name);
    }
}

// The record's new bytes reach the index and the file (under the caller's
// RecordWrite). A failed write puts the old record and its keys back.
void DbfTable::writeChanged(uint32_t recNo, const std::string& old, const std::string& rec)
{
    if (rec == old)
        return;
    // a deleted record's entries too: they stay until the table is packed
    const Keys oldKeys = mdx_ ? keysOf(old.data()) : Keys();
    const Keys newKeys = mdx_ ? keysOf(rec.data()) : Keys();
    // A change of no key leaves the index alone (the header lock found it
    // usable, or mended what a program that is gone left unfinished).
    const bool indexed = oldKeys != newKeys;
    if (indexed)
        guardKeys([&] { mdx_->updateRecord(tagNames(), oldKeys, newKeys, recNo); }, rec.data(), recNo);
    const uint64_t at = headerLen_ + uint64_t(recNo - 1) * recLen_;
    try {
        file_.writeAt(at, rec.data(), rec.size());
        indexWritten();
    } catch (const EDBEngineError&) {
        // Part of the record may be written: the old one goes back.
        try {
            file_.writeAt(at, old.data(), old.size());
        } catch (const EDBEngineError&) {
        }
        if (indexed) {
            undoIndexChange(*mdx_, tagNames(), newKeys, oldKeys, recNo);
            indexWrittenAfterFailure();
        }
        invalidateCache();
        throw;
    }
    invalidateCache();
}

// A deleted record keeps its index entries until the table is packed (the
// readers of a tag skip it): marking it changes the flag alone. A record
// brought back gets its entries again where a unique tag gave its key to a
// live record meanwhile (refused with DBERR_KEYVIOL when that one holds it).
void DbfTable::setRecordDeleted(uint32_t recNo, bool deleted)
{
    RecordWrite write(*this, recNo);
    std::string rec;
    readRecordFresh(recNo, rec);
    if ((rec[0] == '*') == deleted)
        return;
    rec[0] = deleted ? '*' : ' ';
    if (mdx_ && !deleted) {
        const Keys keys = keysOf(rec.data());
        guardKeys([&] { mdx_->insertRecord(tagNames(), keys, recNo); }, rec.data(), recNo);
    }
    const char flag = rec[0];
    try {
        file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, &flag, 1);
        indexWritten();
    } catch (const EDBEngineError&) {
        try {
            const char was = deleted ? ' ' : '*';
            file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, &was, 1);
        } catch (const EDBEngineError&) {
        }
        // entries a record brought back got stay: a deleted record may have them
        indexWrittenAfterFailure();
        invalidateCache();
        throw;
    }
    invalidateCache();
}

std::string DbfTable::storedRecord(uint32_t recNo)
{
    std::string rec;
    readRecordFresh(recNo, rec);
    return rec;
}

// The record's bytes and keys as storedRecord() answered them, its deletion
// flag included (a statement's change undone).
void DbfTable::restoreRecord(uint32_t recNo, const std::string& stored)
{
    if (stored.size() != recLen_)
        throw EDBEngineError::invalidParam(path_, "record " + std::to_string(recNo) + ": wrong size to put back");
    RecordWrite write(*this, recNo);
    std::string now;
    readRecordFresh(recNo, now);
    writeChanged(recNo, now, stored);
}

void DbfTable::deleteRecord(uint32_t recNo)
{
    setRecordDeleted(recNo, true);
}
void DbfTable::undeleteRecord(uint32_t recNo)
{
    setRecordDeleted(recNo, false);
}

// Forced to the disk in an order that a power cut cannot turn into a stale
// index. The index carries its mark on the disk since the first change after
// the last forced flush (mdx/MdxFile.h: set and forced before the table
// changed); here the memo file and the table are forced and, at the same
// time, the index's nodes (while the mark is on the disk, whichever of them
// reached it first makes no difference), then its header that clears the
// mark is written. A cut before leaves the mark: the next open finds the
// index unfinished and compares it with the table. On a shared open the
// header stays locked meanwhile: every change
// of every program is made under it, so that forcing the files forces the
// changes of the others too, and clearing the mark cannot overtake a change
// under way (a batch of reads holds the header shared: no change either).
void DbfTable::flush()
{
    if (isReadOnly())
        return;
    // No index change waits to be forced, of this open or of another one
    // (the mark on the disk is clear): the table's own files are forced, and
    // neither the header lock nor the index is needed for that.
    if (mdx_ && !mode_.exclusive && readHold_ == 0 && mdx_->forcedOnDisk()) {
        if (dbt_.isOpen())
            dbt_.sync();
        file_.sync();
        return;
    }
    std::optional<HeaderLock> lock;
    if (mdx_ && !mode_.exclusive && readHold_ == 0)
        lock.emplace(*this, true);
    const auto forceTable = [&] {
        if (dbt_.isOpen())
            dbt_.sync();
        file_.sync();
    };
    if (mdx_)
        runSideBySide(forceTable, [&] { mdx_->forceNodes(); });
    else
        forceTable();
    // A statement's changes are on the disk: its journal goes before the
    // index's mark is cleared.
    dropJournal();
    if (mdx_)
        mdx_->flush(true);
}

// Changes of this open not forced to the disk: forced now (a table left
// with the index's mark on the disk and nobody at it opens out of date).
void DbfTable::forceOwnChanges() noexcept
{
    try {
        if (mdx_ && mdx_->unforced())
            flush();
    } catch (const EDBEngineError&) {
    }
}

uint64_t DbfTable::changeCount(uint64_t dev, uint64_t ino)
{
    std::lock_guard<std::mutex> g(changeCountsMutex());
    const auto it = changeCounts().find({dev, ino});
    return it == changeCounts().end() ? 0 : it->second.count;
}

void DbfTable::noteOwnChange() noexcept
{
    uint64_t before = 0;
    {
        std::lock_guard<std::mutex> g(changeCountsMutex());
        LastChange& last = changeCounts()[{fileDev_, fileIno_}];
        before = last.count++;
        last.known = false;
    }
    // Nothing changed through another open since this one last knew the
    // files: it knows them as its own change leaves them. Otherwise it
    // stays behind and is opened anew when it is taken back from idle.
    if (before != knownChanges_)
        return;
    knownChanges_ = before + 1;
    struct stat fs { };
    if (fileSystem().fstat(file_.fd(), &fs) == 0)
        knownFile_ = {static_cast<int64_t>(fs.st_size), static_cast<int64_t>(fs.st_mtim.tv_sec),
            static_cast<int64_t>(fs.st_mtim.tv_nsec)};
    else
        knownFile_ = {-1, -1, -1};
    // The index is looked at again only when this open wrote to it since
    // it last did (otherwise what it knew holds, or is older: a change of
    // another program makes the table reopen it when taken back from idle).
    if (mdx_ && mdx_->writeCount() != knownIndexWrites_) {
        // The file this open has (whatever another one at its path: taken
        // back from idle, the table then finds it is not the file it knew).
        knownIndexWrites_ = mdx_->writeCount();
        struct stat is { };
        if (mdx_->statOpenFile(&is) == 0)
            knownIndex_ = {static_cast<int64_t>(is.st_ino), static_cast<int64_t>(is.st_size),
                static_cast<int64_t>(is.st_mtim.tv_sec), static_cast<int64_t>(is.st_mtim.tv_nsec)};
        else
            knownIndex_ = {-1, -1, -1, -1};
    }
    // The files as this change left them, for the other opens of the file
    // in this program (see unpark).
    std::lock_guard<std::mutex> g(changeCountsMutex());
    LastChange& last = changeCounts()[{fileDev_, fileIno_}];
    if (last.count == knownChanges_ && knownFile_[0] >= 0 && (!mdx_ || knownIndex_[0] >= 0)) {
        last.known = true;
        last.file = knownFile_;
        last.index = mdx_ ? knownIndex_ : std::array<int64_t, 4>{-1, -1, -1, -1};
    }
}

bool DbfTable::lookAtIndex(const std::string& path, std::array<int64_t, 4>& out)
{
    struct stat st { };
    if (fileSystem().stat(path, &st) != 0)
        return false;
    out = {static_cast<int64_t>(st.st_ino), static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
        static_cast<int64_t>(st.st_mtim.tv_nsec)};
    return true;
}

bool DbfTable::park(bool keepOpen)
{
    if (parked_ || mode_.exclusive || readHold_ > 0 || tableLocked_ || !recordLocks_.empty() || dbt_.isOpen() ||
        statementDepth_ > 0 || statementLeft_)
        return false;
    try {
        if (mdx_ && mdx_->unforced())
            flush();
        if (!keepOpen)
            file_.unlock(kLockOpen, 1);
    } catch (const EDBEngineError&) {
        return false;
    }
    parked_ = true;
    openKept_ = keepOpen;
    return true;
}

bool DbfTable::releaseOpen()
{
    if (!parked_)
        return false;
    if (openKept_) {
        try {
            file_.unlock(kLockOpen, 1);
        } catch (const EDBEngineError&) {
            return false;
        }
        openKept_ = false;
    }
    return true;
}

bool DbfTable::unpark()
{
    if (!parked_)
        return false;
    if (openKept_) {
        // The shared open was held all along: no pack, restructuring,
        // regeneration or restore came in between, and the files at the
        // paths are the ones this open has. Other programs may have added
        // records meanwhile, as with any open table: the count is read
        // again (the index tells its own changes at its next read).
        parked_ = openKept_ = false;
        try {
            // Read through the map of the file when there is one (the same
            // bytes, without a call to the system).
            if (map_)
                takeCount(le32(reinterpret_cast<const unsigned char*>(map_) + 4));
            else
                refreshCount();
            invalidateCache();
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }
    // The shared open first, without waiting: an exclusive open of another
    // program wins, and the caller's normal open reports it.
    if (!file_.tryLock(kLockOpen, 1, false))
        return false;
    parked_ = false;
    try {
        // Changed through another open of this program since: taken over
        // when the files are as that change left them and the index is the
        // file this open has (its change counter, checked under the header
        // lock at the first read, tells what changed in it); else open anew.
        LastChange last;
        {
            std::lock_guard<std::mutex> g(changeCountsMutex());
            const auto it = changeCounts().find({fileDev_, fileIno_});
            if (it != changeCounts().end())
                last = it->second;
        }
        const bool ownChange = last.count != knownChanges_;
        if (ownChange && (!last.known || (mdx_ && last.index[0] != knownIndex_[0])))
            return false;
        // Still the file at our path (a pack or a restructure renames a new one there)?
        struct stat st { };
        if (fileSystem().stat(path_, &st) != 0 || static_cast<uint64_t>(st.st_dev) != fileDev_ ||
            static_cast<uint64_t>(st.st_ino) != fileIno_)
            return false;
        const std::array<int64_t, 3> file = {static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
            static_cast<int64_t>(st.st_mtim.tv_nsec)};
        if (ownChange) {
            if (file != last.file)
                return false;  // changed by another program too
            knownFile_ = file;
            knownIndex_ = last.index;
            knownIndexWrites_ = UINT64_MAX;
        }
        if (file != knownFile_ || ownChange) {  // changed by another program (or open): its header again
            const uint8_t flag = mdxFlag_;
            readHeader(true);
            // An index dropped or added meanwhile, records after the count
            // or a pack to finish: open anew (the open sees to them).
            if ((mdxFlag_ != 0) != (flag != 0) || bytesAfterCount_ || packPending_)
                return false;
        }
        // The index must be the file we knew, unchanged (a change by
        // another program means a file written without us: open anew);
        // the next read checks it again under the header lock.
        if (mdx_) {
            struct stat ist { };
            if (fileSystem().stat(mdx_->path(), &ist) != 0)
                return false;
            const std::array<int64_t, 4> now = {static_cast<int64_t>(ist.st_ino), static_cast<int64_t>(ist.st_size),
                static_cast<int64_t>(ist.st_mtim.tv_sec), static_cast<int64_t>(ist.st_mtim.tv_nsec)};
            if (now != knownIndex_)
                return false;
            // Under the shared open taken above no rewrite of this system
            // puts another file at the index's path: its first check does not
            // look at the path again.
            mdx_->setPathSeen(static_cast<uint64_t>(ist.st_dev), static_cast<uint64_t>(ist.st_ino));
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void DbfTable::refresh()
{
    refreshCount();
    invalidateCache();
    if (mdx_) {
        HeaderLock lock(*this, false);
        mdx_->refresh();
    }
}

// ---- locks -----------------------------------------------------------------------

bool DbfTable::lockRecord(uint32_t recNo)
{
    checkRecNo(recNo);
    invalidateCache();
    if (recordLocks_.count(recNo) != 0)
        return true;
    if (!mode_.exclusive && !file_.tryLock(kLockRecord + recNo, 1, file_.writable()))
        return false;
    recordLocks_.insert(recNo);
    return true;
}

void DbfTable::unlockRecord(uint32_t recNo)
{
    if (recordLocks_.erase(recNo) == 0)
        return;
    if (!mode_.exclusive)
        file_.unlock(kLockRecord + recNo, 1);
}

bool DbfTable::lockTable()
{
    if (tableLocked_ || mode_.exclusive)
        return tableLocked_ = true;
    if (!file_.tryLock(kLockTable, 1, file_.writable()))
        return false;
    tableLocked_ = true;
    refreshCount();
    return true;
}

void DbfTable::unlockTable()
{
    if (!tableLocked_)
        return;
    tableLocked_ = false;
    if (!mode_.exclusive)
        file_.unlock(kLockTable, 1);
}

}  // namespace kdb
