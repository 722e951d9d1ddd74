#pragma once
#include <stdexcept>
#include <string>

namespace kdb {

// Engine result codes the program tells apart.
enum : int {
    DBERR_NONE = 0,
    DBERR_EOF = 8706,               // end of data
    DBERR_INVALIDHNDL = 0x2706,     // invalid handle
    DBERR_NOSUCHTABLE = 10024,      // no such table
    DBERR_NOTSUFFTABLERIGHTS = 10243, // cannot open the file for writing
    DBERR_NEEDEXCLACCESS = 0x280D,  // exclusive access needed
    DBERR_INDEXOUTOFDATE = 12034,   // an index of the table does not match it
    // Further codes raised by the storage layer.
    DBERR_READERR = 8449,           // a read of a table file failed
    DBERR_WRITEERR = 8450,          // a write (or flush) of a table file failed
    DBERR_HEADERCORRUPT = 8961,     // damaged or foreign table header
    DBERR_FILECORRUPT = 8962,       // damaged record data
    DBERR_MEMOCORRUPT = 8963,       // damaged memo file or memo pointer
    DBERR_INDEXCORRUPT = 8965,      // damaged index file
    DBERR_KEYVIOL = 9729,           // duplicate key in a unique tag
    DBERR_INVALIDPARAM = 9986,      // bad argument (record number, field, value)
    DBERR_OPENFAILED = 10242,       // a table file cannot be opened
    DBERR_LOCKED = 10241,           // record or table locked by another program
    DBERR_FILELOCKED = 10245,       // table in use (exclusive open refused)
    DBERR_NOTSUPPORTED = 12289,     // operation or table kind not supported
};

}  // namespace kdb

// An error of the database engine: its result code and a message.
class EDBEngineError : public std::runtime_error {
public:
    EDBEngineError(int code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// An error of the dataset layer that carries no engine code
// ("Table must be  opened to pack", a field name that does not exist, ...).
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
