#pragma once
// The .DB file layout: header parsing and building, block headers, and the
// encoding of field values inside records. No file access here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <QVariant>

namespace kdb::paradox {

// Field type codes as stored in the header.
enum : uint8_t {
    ftAlpha = 0x01,
    ftDate = 0x02,
    ftShort = 0x03,
    ftLong = 0x04,
    ftMoney = 0x05,
    ftNumber = 0x06,
    ftLogical = 0x09,
    ftMemo = 0x0C,
    ftBlob = 0x0D,
    ftFmtMemo = 0x0E,
    ftOle = 0x0F,
    ftGraphic = 0x10,
    ftTime = 0x14,
    ftTimestamp = 0x15,
    ftAutoInc = 0x16,
    ftBcd = 0x17,
    ftBytes = 0x18,
};

// Header offsets used by the engine.
enum : size_t {
    hRecordSize = 0x00,
    hHeaderSize = 0x02,
    hFileType = 0x04,
    hMaxTableSize = 0x05,
    hNumRecords = 0x06,
    hNextBlock = 0x0A,
    hFileBlocks = 0x0C,
    hFirstBlock = 0x0E,
    hLastBlock = 0x10,
    hNumFields = 0x21,
    hKeyFields = 0x23,
    hEncryption1 = 0x25,
    hChangeCount1 = 0x2D,
    hFileVersion = 0x39,
    hMaxBlocks = 0x3A,
    hAuxPasswords = 0x3D,
    hAutoInc = 0x49,
    hFirstFree = 0x4D,
    hRealHeaderSize = 0x51,
    hFileVerID3 = 0x58,
    hFileVerID4 = 0x5A,
    hEncryption2 = 0x5C,
    hHiFieldId = 0x64,
    hSometimesNumFields = 0x68,
    hCodePage = 0x6A,
    hFixedEnd = 0x78,  // end of the fixed part of a v4+ data header
};

constexpr size_t kBlockHeader = 6;
constexpr size_t kCryptInfoSize = 256;

struct PxField {
    std::string name;  // as stored (Windows-1252 bytes)
    uint8_t code = 0;  // type code
    uint8_t size = 0;  // size byte of the header (BCD: decimals)
    uint16_t length = 0;  // bytes in the record
    uint16_t offset = 0;  // offset in the record
};

struct PxHeader {
    std::vector<uint8_t> raw;  // the whole header as read (headerSize bytes)
    uint16_t recordSize = 0;
    uint16_t headerSize = 0;
    uint8_t fileType = 0;
    uint32_t blockSize = 0;
    uint32_t numRecords = 0;
    uint16_t fileBlocks = 0;
    uint16_t firstBlock = 0;
    uint16_t lastBlock = 0;
    uint16_t keyFields = 0;
    uint8_t version = 0;
    bool v4 = false;  // header has the 0x58-0x77 extension
    int32_t autoInc = 0;
    uint16_t firstFree = 0;
    uint32_t checksum = 0;  // password checksum; 0 = not protected
    size_t cryptInfoOffset = 0;  // this engine's protection area, 0 = none
    std::vector<PxField> fields;
};

// Little-endian helpers on a byte buffer.
uint16_t getU16(const uint8_t* p);
uint32_t getU32(const uint8_t* p);
void putU16(uint8_t* p, uint16_t v);
void putU32(uint8_t* p, uint32_t v);

// Record length of a field given its code and header size byte; 0 when the
// code is unknown or the size impossible.
uint16_t fieldLength(uint8_t code, uint8_t size);

// Parses a header. data holds at least the first min(size, headerSize)
// bytes of the file; fileSize is the length of the whole file. Raises
// EDBEngineError DBERR_HEADERCORRUPT (damaged or foreign file) or
// DBERR_NOTSUPPORTED (an index file, a protection scheme of another program).
PxHeader parseHeader(const std::vector<uint8_t>& data, uint64_t fileSize);

// Builds the header of a new empty table. tableName is stored in the name
// slot; cryptInfo is empty or kCryptInfoSize bytes, checksum non-zero then.
std::vector<uint8_t> buildHeader(const std::string& tableName, const std::vector<PxField>& fields, int blockSizeKiB,
    const std::vector<uint8_t>& cryptInfo, uint32_t checksum, int extraPasswords);

// Block header words.
struct BlockHead {
    uint16_t next = 0;
    uint16_t prev = 0;
    int16_t addDataSize = 0;
};
BlockHead getBlockHead(const uint8_t* block);
void putBlockHead(uint8_t* block, const BlockHead& h);

// Field values inside a record (p points to the field's first byte).
QVariant decodeValue(const PxField& f, const uint8_t* p);
// Raises EDBEngineError DBERR_INVALIDPARAM for a value that cannot be
// converted or stored (a short of -32768, a text in a date field ...) and
// DBERR_NOTSUPPORTED for a non-blank memo or binary value.
void encodeValue(const PxField& f, const QVariant& v, uint8_t* p);
// True when every byte of the field is zero (blank).
bool isBlank(const PxField& f, const uint8_t* p);

// Day number (0001-01-01 = 1) <-> date.
QDate dateFromDayNumber(int32_t n);
int32_t dayNumberFromDate(const QDate& d);

}  // namespace kdb::paradox
