// The French words of the system's error numbers and of the standard
// library's exceptions, whatever language the machine speaks.
#include "platform/os/SystemError.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace {

// A text in French: none of the system's English words for the same error.
void ExpectFrench(int error, const std::string& text)
{
    std::setlocale(LC_MESSAGES, "C");
    EXPECT_NE(text, std::strerror(error)) << error;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("No "), std::string::npos) << text;
    EXPECT_EQ(text.find("denied"), std::string::npos) << text;
}

}  // namespace

TEST(SystemErrorText, TheErrorsOfAPracticeInFrench)
{
    EXPECT_EQ(kos::SystemErrorText(ENOSPC), "plus de place sur le disque");
    EXPECT_EQ(kos::SystemErrorText(EACCES), "accès refusé");
    EXPECT_EQ(kos::SystemErrorText(EROFS), "disque en lecture seule");
    EXPECT_EQ(kos::SystemErrorText(ENOENT), "fichier ou dossier introuvable");
    EXPECT_EQ(kos::SystemErrorText(EXDEV), "déplacement impossible d'un disque à un autre");
    EXPECT_EQ(kos::SystemErrorText(ESTALE), "fichier du partage réseau devenu inaccessible");
    for (int error : {ENOSPC, EDQUOT, EFBIG, EACCES, EPERM, EROFS, ENOENT, EEXIST, ENOTDIR, EISDIR, EBUSY, EXDEV,
             EMFILE, ENFILE, EIO, ENAMETOOLONG, ENOTEMPTY, ESTALE, ENOTCONN, ECONNRESET, EHOSTUNREACH, ETIMEDOUT,
             EINTR, ENOMEM, ENOLCK, ENODEV, ENOMEDIUM, EOPNOTSUPP, EINVAL}) {
        ASSERT_NE(kos::KnownSystemErrorText(error), nullptr) << error;
        ExpectFrench(error, kos::SystemErrorText(error));
    }
    // one without words of its own keeps its number
    EXPECT_EQ(kos::KnownSystemErrorText(ECHRNG), nullptr);
    EXPECT_EQ(kos::SystemErrorText(ECHRNG), "erreur système n° " + std::to_string(ECHRNG));
}

// The program's own exceptions speak French already; those the standard
// library raises say what went wrong in French, never in its English.
TEST(SystemErrorText, ExceptionsOfTheLibraryInFrench)
{
    EXPECT_EQ(kos::ExceptionReason(std::runtime_error("La table est pleine")), "La table est pleine");
    EXPECT_EQ(kos::ExceptionReason(std::bad_alloc()), "mémoire insuffisante");
    EXPECT_EQ(kos::ExceptionReason(std::system_error(ENOSPC, std::generic_category(), "write")),
        "plus de place sur le disque");
    const std::filesystem::filesystem_error copy(
        "copy", "/a", "/b", std::make_error_code(std::errc::cross_device_link));
    EXPECT_EQ(kos::ExceptionReason(copy), "déplacement impossible d'un disque à un autre");
    try {
        (void)std::vector<int>().at(3);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_FALSE(kos::IsOwnException(e));
        EXPECT_EQ(kos::ExceptionReason(e), "erreur interne du programme");
    }
    try {
        (void)std::stoi("douze");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(kos::ExceptionReason(e), "erreur interne du programme");
    }
}
