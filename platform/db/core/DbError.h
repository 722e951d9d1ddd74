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
