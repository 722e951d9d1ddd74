#pragma once
// Field, index and table descriptors exchanged with the engine calls
// (table creation, restructuring, cursor properties). The table checker
// parses the schema text into these records and hands them over unchanged.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kdb {

// Logical field types.
enum : uint16_t {
    fldUNKNOWN = 0,
    fldZSTRING = 1,  // character string, width in units1
    fldDATE = 2,
    fldBLOB = 3,  // sub-type fldstMEMO for a memo
    fldBOOL = 4,
    fldINT16 = 5,
    fldINT32 = 6,
    fldFLOAT = 7,  // numeric: units1 width, units2 decimals
    fldBCD = 8,
    fldTIME = 10,
    fldTIMESTAMP = 11,
};

// Field sub-types.
enum : uint16_t {
    fldstNONE = 0,
    fldstMEMO = 22,
    fldstAUTOINC = 29,
};

// Restructure operation codes, one per field or index record.
enum : uint32_t {
    crNOOP = 0,
    crADD = 1,
    crMODIFY = 3,
    crDROP = 4,
};

// A flag member holds 0 or this "true" value (all bits set).
constexpr uint16_t kTrue = 0xFFFF;

// Longest texts the members hold (without a terminator).
constexpr size_t kMaxNameLen = 31;  // field name, tag name, format
constexpr size_t kMaxPathLen = 260;  // index file name
constexpr size_t kMaxKeyExprLen = 220;  // key expression, key condition
constexpr size_t kMaxKeyFields = 16;

struct FieldDesc {
    uint16_t fieldNum = 0;  // 1-based position, 0 for a field to add
    std::string name;  // at most kMaxNameLen characters
    uint16_t type = 0;  // fldZSTRING, fldDATE, ...
    uint16_t subType = 0;  // fldstMEMO, fldstAUTOINC, ...
    int16_t units1 = 0;  // width of a character field, digits of a numeric one
    int16_t units2 = 0;  // decimals
    uint16_t offset = 0;  // offset in the record (reported by the engine)
    uint16_t length = 0;  // bytes in the record (reported by the engine)
    uint16_t rights = 0;
    uint32_t restructOp = 0;  // first reserved word: the restructure operation
};

struct IndexDesc {
    std::string name;  // index file name, at most kMaxPathLen characters
    uint16_t indexId = 0;  // 1-based position
    std::string tagName;  // at most kMaxNameLen
    std::string format;  // "BTREE"
    uint16_t primary = 0;
    uint16_t unique = 0;
    uint16_t descending = 0;
    uint16_t maintained = 0;
    uint16_t subset = 0;
    uint16_t expression = 0;  // key given by keyExpr rather than keyFields
    uint16_t caseInsensitive = 0;
    uint16_t outOfDate = 0;
    uint16_t fieldsInKey = 0;
    uint16_t keyLen = 0;
    uint16_t keyExpType = 0;  // 513 character keys, 528 date keys
    std::array<uint16_t, kMaxKeyFields> keyFields{};  // 1-based field numbers
    std::string keyExpr;  // at most kMaxKeyExprLen
    std::string keyCond;  // at most kMaxKeyExprLen
    uint16_t blockSize = 0;
    uint16_t restructNum = 0;  // position of the index in the existing table
    uint32_t restructOp = 0;  // first reserved word: the restructure operation
};

// What a creation or a restructuring asks for.
struct TableDesc {
    std::string tableName;  // file name, with or without extension
    std::string tableType;  // "DBASE" or "PARADOX"; see createTable
    bool pack = false;
    std::vector<FieldDesc> fields;  // restructOp of each record says what to do
    std::vector<IndexDesc> indexes;
};

struct CursorProps {
    std::string tableName;  // file name as opened
    std::string tableType;  // "DBASE" or "PARADOX"
    uint16_t fieldCount = 0;
    uint16_t indexCount = 0;
    uint32_t recordSize = 0;
    bool exclusive = false;
    bool readOnly = false;
};

}  // namespace kdb
