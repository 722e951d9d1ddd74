#include "PasswordHash.h"

#include <sodium.h>

#include <stdexcept>

namespace {

void initSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error("Le module de chiffrement des mots de passe n'a pas pu démarrer.");
}

}  // namespace

QString HashPassword(const QString& password)
{
    initSodium();
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()),
            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("Mémoire insuffisante pour chiffrer le mot de passe.");
    return QString::fromLatin1(out);
}

bool IsPasswordHash(const QString& stored)
{
    return stored.startsWith(QLatin1String(crypto_pwhash_STRPREFIX));
}

PasswordMatch CheckPassword(const QString& stored, const QString& typed)
{
    if (IsPasswordHash(stored)) {
        initSodium();
        const QByteArray hash = stored.toLatin1();
        const QByteArray utf8 = typed.toUtf8();
        return crypto_pwhash_str_verify(
                   hash.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size())) == 0
            ? PasswordMatch::Yes
            : PasswordMatch::No;
    }
    return stored == typed ? PasswordMatch::YesClearText : PasswordMatch::No;
}
