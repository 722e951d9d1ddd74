#include "platform/db/paradox/PxFormat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>

#include <QDate>
#include <QDateTime>
#include <QTime>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/DbError.h"

namespace kdb::paradox {

namespace {

[[noreturn]] void corrupt(const std::string& what)
{
    throw EDBEngineError::headerCorrupt(std::string(), "damaged or foreign table header: " + what);
}

[[noreturn]] void badValue(const PxField& f, const std::string& what)
{
    throw EDBEngineError::invalidParam(std::string(), "field " + f.name + ": " + what);
}

constexpr size_t kMaxFieldName = 64;
constexpr int64_t kMsPerDay = 86400000;

uint64_t getBE(const uint8_t* p, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

void putBE(uint8_t* p, size_t n, uint64_t v)
{
    for (size_t i = n; i-- > 0;) {
        p[i] = static_cast<uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

bool allZero(const uint8_t* p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// Names in field order, NUL-terminated, starting at pos. Answers the
// position after the last terminator, or nothing when they do not parse.
std::optional<size_t> parseNames(
    const std::vector<uint8_t>& d, size_t pos, size_t end, size_t n, std::vector<std::string>& names)
{
    names.clear();
    for (size_t i = 0; i < n; ++i) {
        std::string name;
        while (true) {
            if (pos >= end)
                return std::nullopt;
            const uint8_t c = d[pos++];
            if (c == 0)
                break;
            if (c < 0x20 || name.size() >= kMaxFieldName)
                return std::nullopt;
            name.push_back(static_cast<char>(c));
        }
        if (name.empty())
            return std::nullopt;
        names.push_back(std::move(name));
    }
    return pos;
}

bool fieldNumbersRight(const std::vector<uint8_t>& d, size_t pos, size_t end, size_t n)
{
    if (pos + 2 * n > end)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (getU16(&d[pos + 2 * i]) != i + 1)
            return false;
    return true;
}

std::optional<int64_t> toInteger(const QVariant& v)
{
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.2e18)
            return std::nullopt;
        return static_cast<int64_t>(d);
    }
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        const qlonglong r = s.toLongLong(&ok);
        if (ok)
            return r;
        const double d = s.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return toInteger(QVariant(d));
    }
    default: {
        const qlonglong r = v.toLongLong(&ok);
        if (ok)
            return r;
        return std::nullopt;
    }
    }
}

std::optional<double> toDouble(const QVariant& v)
{
    bool ok = false;
    double d = 0;
    if (v.typeId() == QMetaType::QString)
        d = v.toString().trimmed().toDouble(&ok);
    else if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    else
        d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<QDate> toDate(const QVariant& v)
{
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().isValid() ? std::optional<QDate>(v.toDate()) : std::nullopt;
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().date();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        for (const char* fmt : {"dd/MM/yyyy", "yyyy-MM-dd", "yyyyMMdd", "M/d/yyyy"}) {
            const QDate d = QDate::fromString(s, QString::fromLatin1(fmt));
            if (d.isValid())
                return d;
        }
    }
    return std::nullopt;
}

std::optional<QTime> toTime(const QVariant& v)
{
    if (v.typeId() == QMetaType::QTime)
        return v.toTime().isValid() ? std::optional<QTime>(v.toTime()) : std::nullopt;
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().time();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        for (const char* fmt : {"hh:mm:ss.zzz", "hh:mm:ss", "hh:mm", "h:mm"}) {
            const QTime t = QTime::fromString(s, QString::fromLatin1(fmt));
            if (t.isValid())
                return t;
        }
    }
    return std::nullopt;
}

void encodeInt(const PxField& f, const QVariant& v, uint8_t* p, size_t n)
{
    const auto i = toInteger(v);
    if (!i)
        badValue(f, "not an integer");
    const int64_t limit = n == 2 ? 32767 : 2147483647;
    if (*i < -limit || *i > limit)
        badValue(f, "integer out of range");
    const uint64_t signBit = uint64_t{1} << (8 * n - 1);
    const uint64_t mask = n == 2 ? 0xFFFF : 0xFFFFFFFF;
    putBE(p, n, (static_cast<uint64_t>(*i) & mask) ^ signBit);
}

void encodeDouble(uint8_t* p, double d)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &d, 8);
    if (bits & (uint64_t{1} << 63))
        bits = ~bits;
    else
        bits |= uint64_t{1} << 63;
    putBE(p, 8, bits);
}

double decodeDouble(const uint8_t* p)
{
    uint64_t bits = getBE(p, 8);
    if (bits & (uint64_t{1} << 63))
        bits &= ~(uint64_t{1} << 63);
    else
        bits = ~bits;
    double d = 0;
    std::memcpy(&d, &bits, 8);
    return d;
}

QVariant decodeBcd(const uint8_t* p)
{
    const bool negative = (p[0] & 0x80) == 0;
    const int decimals = p[0] & 0x3F;
    if (decimals > 32)
        return {};
    std::string digits;
    for (int i = 0; i < 32; ++i) {
        uint8_t nib = (i % 2 == 0) ? (p[1 + i / 2] >> 4) : (p[1 + i / 2] & 0x0F);
        if (negative)
            nib ^= 0x0F;
        if (nib > 9)
            return {};
        digits.push_back(static_cast<char>('0' + nib));
    }
    std::string text = (negative ? "-" : "") + digits.substr(0, 32 - decimals);
    if (decimals > 0)
        text += "." + digits.substr(32 - decimals);
    return QString::fromLatin1(text.c_str()).toDouble();
}

void encodeBcd(const PxField& f, const QVariant& v, uint8_t* p)
{
    const auto d = toDouble(v);
    if (!d)
        badValue(f, "not a number");
    const int decimals = std::min<int>(f.size, 32);
    const bool negative = *d < 0;
    QString text = QString::number(std::fabs(*d), 'f', decimals);
    text.remove(QLatin1Char('.'));
    if (text.size() > 32)
        badValue(f, "number too large");
    text = text.rightJustified(32, QLatin1Char('0'));
    p[0] = static_cast<uint8_t>((negative ? 0x00 : 0x80) | 0x40 | decimals);
    for (int i = 0; i < 32; ++i) {
        uint8_t nib = static_cast<uint8_t>(text[i].unicode() - '0');
        if (negative)
            nib ^= 0x0F;
        if (i % 2 == 0)
            p[1 + i / 2] = static_cast<uint8_t>(nib << 4);
        else
            p[1 + i / 2] |= nib;
    }
}

}  // namespace

uint16_t getU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t getU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24);
}
void putU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t fieldLength(uint8_t code, uint8_t size)
{
    switch (code) {
    case ftAlpha:
    case ftBytes:
        return size;  // 0 is refused by the caller
    case ftDate:
    case ftLong:
    case ftTime:
    case ftAutoInc:
        return size == 4 ? 4 : 0;
    case ftShort:
        return size == 2 ? 2 : 0;
    case ftMoney:
    case ftNumber:
    case ftTimestamp:
        return size == 8 ? 8 : 0;
    case ftLogical:
        return size == 1 ? 1 : 0;
    case ftBcd:
        return size <= 32 ? 17 : 0;
    case ftMemo:
    case ftBlob:
    case ftFmtMemo:
    case ftOle:
    case ftGraphic:
        return size >= 10 ? size : 0;
    default:
        return 0;
    }
}

PxHeader parseHeader(const std::vector<uint8_t>& d, uint64_t fileSize)
{
    if (d.size() < 0x58 || fileSize < 0x58)
        corrupt("the file is too short");
    PxHeader h;
    h.recordSize = getU16(&d[hRecordSize]);
    h.headerSize = getU16(&d[hHeaderSize]);
    h.fileType = d[hFileType];
    if (h.fileType != 0 && h.fileType != 2) {
        if (h.fileType <= 8)
            throw EDBEngineError::notSupported(std::string(), "the file is an index file, not a table");
        corrupt("unknown file type");
    }
    const uint8_t maxTableSize = d[hMaxTableSize];
    if (maxTableSize < 1 || maxTableSize > 32)
        corrupt("bad block size");
    h.blockSize = maxTableSize * 1024u;
    if (h.headerSize < 0x58 || h.headerSize > fileSize || h.headerSize > d.size())
        corrupt("bad header length");
    h.numRecords = getU32(&d[hNumRecords]);
    h.fileBlocks = getU16(&d[hFileBlocks]);
    h.firstBlock = getU16(&d[hFirstBlock]);
    h.lastBlock = getU16(&d[hLastBlock]);
    h.keyFields = getU16(&d[hKeyFields]);
    h.version = d[hFileVersion];
    if (h.version < 3 || h.version > 12)
        corrupt("unknown file version");
    h.v4 = h.version >= 5;
    h.autoInc = static_cast<int32_t>(getU32(&d[hAutoInc]));
    h.firstFree = getU16(&d[hFirstFree]);
    const size_t start = h.v4 ? size_t{hFixedEnd} : size_t{0x58};
    const size_t end = h.headerSize;
    if (h.v4 && end < hFixedEnd)
        corrupt("header too short for its version");
    h.checksum = h.v4 ? getU32(&d[hEncryption2]) : getU32(&d[hEncryption1]);

    const size_t n = getU16(&d[hNumFields]);
    if (n == 0 || n > 1024)
        corrupt("bad field count");
    if (start + 2 * n > end)
        corrupt("field list beyond the header");
    size_t offset = 0;
    h.fields.resize(n);
    for (size_t i = 0; i < n; ++i) {
        PxField& f = h.fields[i];
        f.code = d[start + 2 * i];
        f.size = d[start + 2 * i + 1];
        f.length = fieldLength(f.code, f.size);
        if (f.length == 0)
            corrupt("field " + std::to_string(i + 1) + " has an unknown type or size");
        f.offset = static_cast<uint16_t>(offset);
        offset += f.length;
    }
    if (offset != h.recordSize || h.recordSize == 0)
        corrupt("record size does not match the fields");
    if (h.recordSize > h.blockSize - kBlockHeader)
        corrupt("record larger than a block");
    if (h.keyFields > n)
        corrupt("more key fields than fields");

    // The table name slot has no stored length: try the known sizes and keep
    // the one after which the field names and field numbers read right.
    const std::array<size_t, 3> newer = {261, 271, 79};
    const std::array<size_t, 3> older = {79, 261, 271};
    const auto& candidates = h.version >= 12 ? newer : older;
    const size_t namesBase = start + 2 * n + 4 + 4 * n;
    const size_t cryptSize = h.checksum != 0 ? kCryptInfoSize : 0;
    std::optional<std::pair<size_t, std::vector<std::string>>> fallback;
    std::optional<std::pair<size_t, std::vector<std::string>>> chosen;
    for (size_t len : candidates) {
        std::vector<std::string> names;
        const auto after = parseNames(d, namesBase + len, end, n, names);
        if (!after)
            continue;
        if (fieldNumbersRight(d, *after + cryptSize, end, n)) {
            chosen.emplace(*after, std::move(names));
            break;
        }
        if (!fallback)
            fallback.emplace(*after, std::move(names));
    }
    if (!chosen)
        chosen = std::move(fallback);
    if (!chosen)
        corrupt("unreadable field names");
    for (size_t i = 0; i < n; ++i)
        h.fields[i].name = chosen->second[i];
    if (h.checksum != 0) {
        if (chosen->first + kCryptInfoSize > end)
            throw EDBEngineError::notSupported(
                std::string(), "the table is protected by a scheme this engine does not know");
        h.cryptInfoOffset = chosen->first;
    }
    h.raw.assign(d.begin(), d.begin() + h.headerSize);
    return h;
}

std::vector<uint8_t> buildHeader(const std::string& tableName, const std::vector<PxField>& fields, int blockSizeKiB,
    const std::vector<uint8_t>& cryptInfo, uint32_t checksum, int extraPasswords)
{
    const size_t n = fields.size();
    bool newer = false;
    size_t recordSize = 0;
    size_t namesSize = 0;
    for (const PxField& f : fields) {
        switch (f.code) {
        case ftLong:
        case ftLogical:
        case ftTime:
        case ftTimestamp:
        case ftAutoInc:
        case ftBcd:
        case ftBytes:
            newer = true;
            break;
        default:
            break;
        }
        recordSize += f.length;
        namesSize += f.name.size() + 1;
    }
    const uint8_t version = newer ? 12 : 9;
    const size_t nameSlot = newer ? 261 : 79;
    static const char kSortName[] = "ascii";
    const size_t used =
        hFixedEnd + 2 * n + 4 + 4 * n + nameSlot + namesSize + cryptInfo.size() + 2 * n + sizeof(kSortName);
    const size_t headerSize = (used + 0x7FF) / 0x800 * 0x800;
    if (headerSize > 0xF800)
        throw EDBEngineError::invalidParam(std::string(), "too many fields for one table");

    std::vector<uint8_t> h(headerSize, 0);
    putU16(&h[hRecordSize], static_cast<uint16_t>(recordSize));
    putU16(&h[hHeaderSize], static_cast<uint16_t>(headerSize));
    h[hFileType] = 2;
    h[hMaxTableSize] = static_cast<uint8_t>(blockSizeKiB);
    putU16(&h[hNumFields], static_cast<uint16_t>(n));
    putU32(&h[hEncryption1], 0xFF00FF00u);
    h[hFileVersion] = version;
    h[hAuxPasswords] = static_cast<uint8_t>(extraPasswords);
    putU16(&h[hRealHeaderSize], static_cast<uint16_t>(used));
    putU16(&h[hFileVerID3], static_cast<uint16_t>(0x0100 | version));
    putU16(&h[hFileVerID4], static_cast<uint16_t>(0x0100 | version));
    putU32(&h[hEncryption2], checksum);
    putU16(&h[hHiFieldId], static_cast<uint16_t>(n + 1));
    putU16(&h[hSometimesNumFields], static_cast<uint16_t>(n));
    putU16(&h[hCodePage], 0x04E4);

    size_t pos = hFixedEnd;
    for (const PxField& f : fields) {
        h[pos++] = f.code;
        h[pos++] = f.size;
    }
    pos += 4 + 4 * n;  // memory pointers, meaningless on disk: zero
    std::memcpy(&h[pos], tableName.data(), std::min(tableName.size(), nameSlot - 1));
    pos += nameSlot;
    for (const PxField& f : fields) {
        std::memcpy(&h[pos], f.name.data(), f.name.size());
        pos += f.name.size() + 1;
    }
    if (!cryptInfo.empty()) {
        std::memcpy(&h[pos], cryptInfo.data(), cryptInfo.size());
        pos += cryptInfo.size();
    }
    for (size_t i = 0; i < n; ++i, pos += 2)
        putU16(&h[pos], static_cast<uint16_t>(i + 1));
    std::memcpy(&h[pos], kSortName, sizeof(kSortName));
    return h;
}

BlockHead getBlockHead(const uint8_t* block)
{
    return {getU16(block), getU16(block + 2), static_cast<int16_t>(getU16(block + 4))};
}

void putBlockHead(uint8_t* block, const BlockHead& h)
{
    putU16(block, h.next);
    putU16(block + 2, h.prev);
    putU16(block + 4, static_cast<uint16_t>(h.addDataSize));
}

QDate dateFromDayNumber(int32_t n)
{
    static const qint64 base = QDate(1, 1, 1).toJulianDay();
    return QDate::fromJulianDay(base + n - 1);
}

int32_t dayNumberFromDate(const QDate& d)
{
    static const qint64 base = QDate(1, 1, 1).toJulianDay();
    return static_cast<int32_t>(d.toJulianDay() - base + 1);
}

bool isBlank(const PxField& f, const uint8_t* p)
{
    return allZero(p, f.length);
}

QVariant decodeValue(const PxField& f, const uint8_t* p)
{
    if (allZero(p, f.length))
        return {};
    switch (f.code) {
    case ftAlpha: {
        size_t len = 0;
        while (len < f.length && p[len] != 0)
            ++len;
        while (len > 0 && p[len - 1] == ' ')
            --len;
        if (len == 0)
            return {};
        return fromCp1252(std::string_view(reinterpret_cast<const char*>(p), len));
    }
    case ftDate: {
        const auto n = static_cast<int32_t>(static_cast<uint32_t>(getBE(p, 4)) ^ 0x80000000u);
        const QDate d = n > 0 ? dateFromDayNumber(n) : QDate();
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case ftShort:
        return static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(getBE(p, 2)) ^ 0x8000u));
    case ftLong:
    case ftAutoInc:
        return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(getBE(p, 4)) ^ 0x80000000u));
    case ftTime: {
        const auto ms = static_cast<int32_t>(static_cast<uint32_t>(getBE(p, 4)) ^ 0x80000000u);
        if (ms < 0 || ms >= kMsPerDay)
            return {};
        return QTime::fromMSecsSinceStartOfDay(ms);
    }
    case ftMoney:
    case ftNumber:
        return decodeDouble(p);
    case ftTimestamp: {
        const double v = decodeDouble(p);
        if (!std::isfinite(v) || v < kMsPerDay || v > 4.0e17)
            return {};
        const auto total = static_cast<int64_t>(v);
        const int64_t day = total / kMsPerDay;
        const QDate d = dateFromDayNumber(static_cast<int32_t>(day));
        if (!d.isValid())
            return {};
        return QDateTime(d, QTime::fromMSecsSinceStartOfDay(static_cast<int>(total % kMsPerDay)));
    }
    case ftLogical:
        return (p[0] & 0x7F) != 0;
    case ftBcd:
        return decodeBcd(p);
    case ftBytes:
        return QByteArray(reinterpret_cast<const char*>(p), f.length);
    case ftMemo:
    case ftFmtMemo:
    case ftBlob:
    case ftOle:
    case ftGraphic: {
        // Only the leader kept inside the record is read.
        const size_t leader = f.length - 10u;
        const size_t stored = getU32(p + leader + 4);
        size_t len = std::min(leader, stored == 0 ? leader : stored);
        if (f.code == ftMemo || f.code == ftFmtMemo) {
            size_t nul = 0;
            while (nul < len && p[nul] != 0)
                ++nul;
            len = nul;
            if (len == 0)
                return {};
            return fromCp1252(std::string_view(reinterpret_cast<const char*>(p), len));
        }
        return QByteArray(reinterpret_cast<const char*>(p), static_cast<qsizetype>(len));
    }
    default:
        return {};
    }
}

void encodeValue(const PxField& f, const QVariant& v, uint8_t* p)
{
    std::memset(p, 0, f.length);
    if (v.isNull() || !v.isValid())
        return;
    if (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty() && f.code != ftAlpha)
        return;  // an empty text is the blank value of every other type
    switch (f.code) {
    case ftAlpha: {
        const QString text =
            v.typeId() == QMetaType::QDate ? v.toDate().toString(QStringLiteral("yyyyMMdd")) : v.toString();
        const std::string bytes = toCp1252(text);
        std::memcpy(p, bytes.data(), std::min<size_t>(bytes.size(), f.length));
        return;
    }
    case ftDate: {
        const auto d = toDate(v);
        if (!d || d->year() < 1)
            badValue(f, "not a date");
        putBE(p, 4, static_cast<uint32_t>(dayNumberFromDate(*d)) ^ 0x80000000u);
        return;
    }
    case ftShort:
        encodeInt(f, v, p, 2);
        return;
    case ftLong:
    case ftAutoInc:
        encodeInt(f, v, p, 4);
        return;
    case ftTime: {
        const auto t = toTime(v);
        if (!t)
            badValue(f, "not a time");
        putBE(p, 4, static_cast<uint32_t>(t->msecsSinceStartOfDay()) ^ 0x80000000u);
        return;
    }
    case ftMoney:
    case ftNumber: {
        const auto d = toDouble(v);
        if (!d)
            badValue(f, "not a number");
        encodeDouble(p, *d);
        return;
    }
    case ftTimestamp: {
        QDateTime dt;
        if (v.typeId() == QMetaType::QDateTime)
            dt = v.toDateTime();
        else if (const auto d = toDate(v))
            dt = QDateTime(*d, QTime(0, 0));
        if (!dt.isValid() || dt.date().year() < 1)
            badValue(f, "not a date and time");
        const double ms =
            static_cast<double>(dayNumberFromDate(dt.date())) * kMsPerDay + dt.time().msecsSinceStartOfDay();
        encodeDouble(p, ms);
        return;
    }
    case ftLogical: {
        bool b = false;
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed().toUpper();
            if (s == QLatin1String("T") || s == QLatin1String("TRUE") || s == QLatin1String("Y") ||
                s == QLatin1String("1"))
                b = true;
            else if (s == QLatin1String("F") || s == QLatin1String("FALSE") || s == QLatin1String("N") ||
                s == QLatin1String("0"))
                b = false;
            else
                badValue(f, "not a logical value");
        } else {
            const auto i = toInteger(v);
            if (!i)
                badValue(f, "not a logical value");
            b = *i != 0;
        }
        p[0] = b ? 0x81 : 0x80;
        return;
    }
    case ftBcd:
        encodeBcd(f, v, p);
        return;
    case ftBytes: {
        const QByteArray b = v.toByteArray();
        std::memcpy(p, b.constData(), std::min<size_t>(static_cast<size_t>(b.size()), f.length));
        return;
    }
    default:
        throw EDBEngineError::notSupported(
            std::string(), "field " + f.name + ": memo and binary values cannot be written");
    }
}

}  // namespace kdb::paradox
