#pragma once
#include <QString>

// Passwords of the user table are stored as salted hashes of a memory-hard
// password-hashing function (the text form carries its own parameters and
// salt). A table written by an older version may still hold a password in
// clear: it is accepted once and replaced by its hash at that login.
// The hash text of a password; raises std::runtime_error when the system
// cannot hash (out of memory).
QString HashPassword(const QString& password);

// True when the stored value is a hash made by HashPassword.
bool IsPasswordHash(const QString& stored);

enum class PasswordMatch {
    No,  // wrong password
    Yes,  // right password, stored as a hash
    YesClearText  // right password stored in clear: to be replaced by its hash
};

// Compares a typed password with the stored value (case-sensitive).
PasswordMatch CheckPassword(const QString& stored, const QString& typed);
