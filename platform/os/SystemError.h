#pragma once
// The reason the system gives for a failure, in French, whatever language
// the machine speaks: an error number (errno) and the exceptions of the
// standard library become the words a user of the practice reads.
//
// Header only, without Qt: the archive libraries and the self-extracting
// program use it too. The texts are UTF-8, in lower case, meant to follow a
// sentence of the caller's ("Impossible d'écrire « X » : " + text).
#include <cerrno>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <typeinfo>

namespace kos {

// The French text of a known error number; nullptr for another one.
inline const char* KnownSystemErrorText(int error) noexcept
{
    switch (error) {
    case ENOSPC:
        return "plus de place sur le disque";
    case EDQUOT:
        return "quota d'espace disque de l'utilisateur atteint";
    case EFBIG:
        return "fichier trop volumineux pour le disque";
    case EACCES:
        return "accès refusé";
    case EPERM:
        return "opération non permise";
    case EROFS:
        return "disque en lecture seule";
    case ENOENT:
        return "fichier ou dossier introuvable";
    case EEXIST:
        return "le fichier existe déjà";
    case ENOTDIR:
        return "un élément du chemin n'est pas un dossier";
    case EISDIR:
        return "c'est un dossier";
    case EBUSY:
        return "fichier ou disque occupé";
    case ETXTBSY:
        return "fichier en cours d'utilisation";
    case EXDEV:
        return "déplacement impossible d'un disque à un autre";
    case EMFILE:
        return "trop de fichiers ouverts par le programme";
    case ENFILE:
        return "trop de fichiers ouverts sur l'ordinateur";
    case EIO:
        return "erreur de lecture ou d'écriture sur le disque";
    case ENAMETOOLONG:
        return "nom de fichier trop long";
    case ENOTEMPTY:
        return "le dossier n'est pas vide";
    case ESTALE:
        return "fichier du partage réseau devenu inaccessible";
    case ENOTCONN:
    case ECONNRESET:
    case ECONNABORTED:
    case ECONNREFUSED:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return "connexion au partage réseau perdue";
    case ETIMEDOUT:
        return "le disque ou le partage réseau ne répond plus";
    case EINTR:
        return "opération interrompue";
    case ECANCELED:
        return "opération annulée";
    case ENOMEM:
        return "mémoire insuffisante";
    case EAGAIN:
        return "ressource momentanément indisponible";
    case ENOLCK:
        return "plus aucun verrou de fichier disponible";
    case EDEADLK:
        return "verrou de fichier impossible (blocage mutuel)";
    case ELOOP:
        return "trop de liens symboliques dans le chemin";
    case EMLINK:
        return "trop de liens vers le fichier";
    case ENODEV:
    case ENXIO:
        return "disque ou périphérique absent";
    case ENOMEDIUM:
        return "aucun disque dans le lecteur";
    case EMEDIUMTYPE:
        return "type de disque incorrect";
    case EOPNOTSUPP:
    case ENOSYS:
        return "opération non prise en charge par ce disque";
    case EINVAL:
        return "paramètre incorrect";
    case EBADF:
        return "fichier non ouvert";
    case EOVERFLOW:
        return "fichier trop grand pour cette opération";
    case EILSEQ:
        return "caractères incorrects dans le nom";
    case ESPIPE:
        return "déplacement impossible dans ce fichier";
    case EPIPE:
        return "la communication avec l'autre programme est coupée";
    default:
        return nullptr;
    }
}

// The French text of an error number ("erreur système n° N" for one that
// has no text here).
inline std::string SystemErrorText(int error)
{
    if (const char* text = KnownSystemErrorText(error))
        return text;
    return "erreur système n° " + std::to_string(error);
}

// Whether an exception is one of the program's own, which speaks French:
// a runtime or logic error of its own words, or a class of its own deriving
// from them. The standard library raises the other kinds, and these few of
// those two.
inline bool IsOwnException(const std::exception& e) noexcept
{
    if (!dynamic_cast<const std::runtime_error*>(&e) && !dynamic_cast<const std::logic_error*>(&e))
        return false;
    if (dynamic_cast<const std::system_error*>(&e))
        return false;
    const std::type_info& type = typeid(e);
    return type != typeid(std::out_of_range) && type != typeid(std::invalid_argument) &&
        type != typeid(std::length_error) && type != typeid(std::domain_error) && type != typeid(std::range_error) &&
        type != typeid(std::overflow_error) && type != typeid(std::underflow_error);
}

// The French reason of an exception: for one the standard library raised,
// the words of what went wrong (memory that ran out, a system call that
// failed, an index out of its range), never the library's own English; the
// text of one of the program's own as it is.
inline std::string ExceptionReason(const std::exception& e)
{
    if (IsOwnException(e))
        return e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "mémoire insuffisante";
    if (const auto* s = dynamic_cast<const std::system_error*>(&e)) {
        const std::error_code& code = s->code();
        if (code.category() == std::generic_category() || code.category() == std::system_category())
            return SystemErrorText(code.value());
        return "erreur système";
    }
    return "erreur interne du programme";
}

}  // namespace kos
