// Byte layout of field values and headers, checked against the published
// descriptions of the format (worked examples quoted in the comments).
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QTime>

#include "PxTestUtil.h"
#include "platform/db/paradox/PxFormat.h"

using namespace kdb::paradox;
using pxtest::codeOf;

namespace {

PxField field(uint8_t code, uint8_t size, const char* name = "F")
{
    PxField f;
    f.name = name;
    f.code = code;
    f.size = size;
    f.length = fieldLength(code, size);
    return f;
}

std::vector<uint8_t> enc(const PxField& f, const QVariant& v)
{
    std::vector<uint8_t> out(f.length, 0xEE);
    encodeValue(f, v, out.data());
    return out;
}

QVariant dec(const PxField& f, const std::vector<uint8_t>& bytes)
{
    return decodeValue(f, bytes.data());
}

using Bytes = std::vector<uint8_t>;

}  // namespace

TEST(ParadoxValues, IntegersAreBigEndianWithTheSignBitInverted)
{
    const PxField s = field(ftShort, 2);
    EXPECT_EQ(enc(s, 1), (Bytes{0x80, 0x01}));
    EXPECT_EQ(enc(s, 256), (Bytes{0x81, 0x00}));
    EXPECT_EQ(enc(s, -1), (Bytes{0x7F, 0xFF}));
    EXPECT_EQ(enc(s, -2), (Bytes{0x7F, 0xFE}));
    for (int v : {1, 256, -1, -2, 32767, -32767, 0})
        EXPECT_EQ(dec(s, enc(s, v)).toInt(), v) << v;
    EXPECT_FALSE(dec(s, enc(s, 0)).isNull()) << "zero is a value, not a blank";
    // -32768 would be all zero bytes, the blank value.
    EXPECT_THROW(enc(s, -32768), EDBEngineError);
    EXPECT_THROW(enc(s, 40000), EDBEngineError);

    const PxField l = field(ftLong, 4);
    EXPECT_EQ(enc(l, 1), (Bytes{0x80, 0x00, 0x00, 0x01}));
    EXPECT_EQ(enc(l, -1), (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(dec(l, enc(l, QString("  -123456 "))).toInt(), -123456);
    EXPECT_EQ(dec(l, enc(l, 2147483647)).toInt(), 2147483647);
    EXPECT_THROW(enc(l, QString("douze")), EDBEngineError);
    EXPECT_THROW(enc(l, 2.5), EDBEngineError);
}

TEST(ParadoxValues, DatesCountDaysFromTheFirstOfJanuaryOfYearOne)
{
    // Worked values: 1/1/100 = 36160 and 1996-05-04 = 728783.
    EXPECT_EQ(dayNumberFromDate(QDate(100, 1, 1)), 36160);
    EXPECT_EQ(dayNumberFromDate(QDate(1996, 5, 4)), 728783);
    EXPECT_EQ(dayNumberFromDate(QDate(1, 1, 1)), 1);
    const PxField d = field(ftDate, 4);
    const uint32_t stored = 728783u ^ 0x80000000u;
    EXPECT_EQ(enc(d, QDate(1996, 5, 4)),
        (Bytes{uint8_t(stored >> 24), uint8_t(stored >> 16), uint8_t(stored >> 8), uint8_t(stored)}));
    EXPECT_EQ(dec(d, enc(d, QDate(2024, 2, 29))).toDate(), QDate(2024, 2, 29));
    EXPECT_EQ(dec(d, enc(d, QString("04/05/1996"))).toDate(), QDate(1996, 5, 4)) << "dd/MM/yyyy text";
    EXPECT_THROW(enc(d, QString("pas une date")), EDBEngineError);
}

TEST(ParadoxValues, NumbersCompareBytewiseInValueOrder)
{
    const PxField n = field(ftNumber, 8);
    const std::vector<double> sorted = {-1e300, -12345.5, -1, -1e-9, 0, 1e-9, 0.5, 1, 3.25, 1e12, 1e300};
    std::vector<Bytes> encoded;
    for (double v : sorted) {
        encoded.push_back(enc(n, v));
        EXPECT_DOUBLE_EQ(dec(n, encoded.back()).toDouble(), v);
    }
    EXPECT_TRUE(std::is_sorted(encoded.begin(), encoded.end()));
    EXPECT_EQ(enc(n, 1.0), (Bytes{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
    const PxField money = field(ftMoney, 8);
    EXPECT_DOUBLE_EQ(dec(money, enc(money, QString("19.99"))).toDouble(), 19.99);
    EXPECT_THROW(enc(n, QString("abc")), EDBEngineError);
}

TEST(ParadoxValues, AllZeroBytesAreTheBlankOfEveryType)
{
    for (const PxField& f : {field(ftAlpha, 10), field(ftDate, 4), field(ftShort, 2), field(ftLong, 4),
             field(ftNumber, 8), field(ftMoney, 8), field(ftLogical, 1), field(ftAutoInc, 4), field(ftTime, 4),
             field(ftTimestamp, 8), field(ftBcd, 2)}) {
        const Bytes b = enc(f, QVariant());
        EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](uint8_t c) { return c == 0; })) << int(f.code);
        EXPECT_TRUE(dec(f, b).isNull()) << int(f.code);
        if (f.code != ftAlpha) {
            EXPECT_TRUE(dec(f, enc(f, QString(""))).isNull()) << "empty text is blank for type " << int(f.code);
        }
    }
}

TEST(ParadoxValues, AlphaIsWindows1252PaddedWithNulAndCutToWidth)
{
    const PxField a = field(ftAlpha, 8);
    EXPECT_EQ(enc(a, QString::fromUtf8("Élé")), (Bytes{0xC9, 'l', 0xE9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(dec(a, enc(a, QString::fromUtf8("Élé"))).toString(), QString::fromUtf8("Élé"));
    EXPECT_EQ(dec(a, enc(a, QString("ABCDEFGHIJK"))).toString(), QString("ABCDEFGH"));
    EXPECT_EQ(dec(a, enc(a, QString("ab  "))).toString(), QString("ab")) << "trailing blanks trimmed";
    EXPECT_EQ(dec(a, enc(a, QString::fromUtf8("€"))).toString(), QString::fromUtf8("€"));
    EXPECT_TRUE(dec(a, enc(a, QString(""))).isNull());
    EXPECT_EQ(dec(a, enc(a, QDate(2001, 2, 3))).toString(), QString("20010203"));
}

TEST(ParadoxValues, LogicalTimeAndTimestamp)
{
    const PxField l = field(ftLogical, 1);
    EXPECT_EQ(enc(l, true), (Bytes{0x81}));
    EXPECT_EQ(enc(l, false), (Bytes{0x80}));
    EXPECT_EQ(dec(l, enc(l, QString("T"))).toBool(), true);
    EXPECT_EQ(dec(l, Bytes{0x80}).toBool(), false);
    EXPECT_THROW(enc(l, QString("peut-être")), EDBEngineError);

    const PxField t = field(ftTime, 4);
    EXPECT_EQ(dec(t, enc(t, QTime(13, 45, 7, 250))).toTime(), QTime(13, 45, 7, 250));

    const PxField ts = field(ftTimestamp, 8);
    const QDateTime when(QDate(2003, 7, 14), QTime(8, 30, 0));
    const QVariant back = dec(ts, enc(ts, when));
    EXPECT_EQ(back.toDateTime(), when);
    // days * 86400000 + ms since midnight, day 1 = 0001-01-01.
    PxField num = field(ftNumber, 8);
    const double raw = dec(num, enc(ts, when)).toDouble();
    EXPECT_DOUBLE_EQ(raw, 731410.0 * 86400000.0 + 8.5 * 3600000.0);
    EXPECT_EQ(dayNumberFromDate(QDate(2003, 7, 14)), 731410);
}

TEST(ParadoxValues, BcdDigitsAndSign)
{
    const PxField b = field(ftBcd, 2);
    // 12.34 with 2 decimals: sign bit, bit 6, decimals 2; digits right-aligned.
    Bytes expected(17, 0);
    expected[0] = 0x80 | 0x40 | 2;
    expected[15] = 0x12;
    expected[16] = 0x34;
    EXPECT_EQ(enc(b, 12.34), expected);
    EXPECT_DOUBLE_EQ(dec(b, expected).toDouble(), 12.34);
    const Bytes negative = enc(b, -12.34);
    EXPECT_EQ(negative[0], 0x40 | 2);
    EXPECT_EQ(negative[16], 0x34 ^ 0xFF);
    EXPECT_EQ(negative[1], 0xFF) << "leading zero digits are complemented too";
    EXPECT_DOUBLE_EQ(dec(b, negative).toDouble(), -12.34);
}

TEST(ParadoxValues, MemoGivesItsInRecordLeader)
{
    const PxField m = field(ftMemo, 20);
    Bytes rec(20, 0);
    std::memcpy(rec.data(), "Bonjour", 7);
    rec[10 + 4] = 7;  // length 7, offset 0: everything in the leader
    EXPECT_EQ(dec(m, rec).toString(), QString("Bonjour"));
    EXPECT_THROW(enc(m, QString("texte")), EDBEngineError);
}

TEST(ParadoxHeaderLayout, BuiltHeaderParsesBackAndPlacesNamesWhereReadersLook)
{
    std::vector<PxField> fields = {field(ftAlpha, 20, "USERID"), field(ftDate, 4, "DN"), field(ftShort, 2, "AGE")};
    const auto h = buildHeader("USERS.DB", fields, 2, {}, 0, 0);
    ASSERT_EQ(h.size() % 0x800, 0u);
    EXPECT_EQ(h[hFileType], 2) << "unkeyed table";
    EXPECT_EQ(h[hFileVersion], 9) << "4.x header: no field type needs a later version";
    // The first field name of a v4 table sits at 0x78 + 83 + 6 * numFields.
    const size_t firstName = 0x78 + 83 + 6 * fields.size();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[firstName])), "USERID");
    const PxHeader p = parseHeader(h, h.size());
    EXPECT_EQ(p.recordSize, 26);
    EXPECT_EQ(p.blockSize, 2048u);
    ASSERT_EQ(p.fields.size(), 3u);
    EXPECT_EQ(p.fields[2].name, "AGE");
    EXPECT_EQ(p.fields[1].offset, 20);
    EXPECT_EQ(p.checksum, 0u);

    // An autoincrement field asks for a version 7 header and its longer name slot.
    fields.push_back(field(ftAutoInc, 4, "NUM"));
    const auto h7 = buildHeader("T.DB", fields, 4, {}, 0, 0);
    EXPECT_EQ(h7[hFileVersion], 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h7[0x78 + 2 * 4 + 4 + 4 * 4 + 261])), "USERID");
    const PxHeader p7 = parseHeader(h7, h7.size());
    EXPECT_EQ(p7.fields[3].name, "NUM");
    EXPECT_EQ(p7.fields[3].code, ftAutoInc);
}

TEST(ParadoxHeaderLayout, ForeignOrDamagedHeadersAreRefusedWithTheirReason)
{
    const std::vector<PxField> fields = {field(ftAlpha, 10, "A"), field(ftLong, 4, "B")};
    const auto good = buildHeader("T.DB", fields, 1, {}, 0, 0);
    auto expectCode = [](std::vector<uint8_t> h, int code, uint64_t size = 0) {
        EXPECT_EQ(codeOf([&] { parseHeader(h, size ? size : h.size()); }), code);
    };
    auto h = good;
    h[hFileType] = 1;  // primary index file
    expectCode(h, kdb::DBERR_NOTSUPPORTED);
    h = good;
    h[hRecordSize] = 15;  // fields add up to 14
    expectCode(h, kdb::DBERR_HEADERCORRUPT);
    h = good;
    h[0x78] = 0x42;  // unknown type code
    expectCode(h, kdb::DBERR_HEADERCORRUPT);
    h = good;
    h[hMaxTableSize] = 0;
    expectCode(h, kdb::DBERR_HEADERCORRUPT);
    expectCode(good, kdb::DBERR_HEADERCORRUPT, 100);  // header longer than the file
    h = good;
    std::fill(h.begin() + 0x78 + 4 + 4 + 8 + 79, h.end(), 0);  // names wiped
    expectCode(h, kdb::DBERR_HEADERCORRUPT);
    expectCode(std::vector<uint8_t>(40, 0), kdb::DBERR_HEADERCORRUPT);
}
