// Password-protected tables: the session's passwords, its password handler,
// the encrypted blocks, and the shipped empty user table.
#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "PxTestUtil.h"
#include "platform/db/core/DbError.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/paradox/ParadoxTable.h"

using kdb::ParadoxTable;
using kdb::Session;
using namespace pxtest;

namespace {

class ParadoxProtectedTableTest : public PxTest {
protected:
    void SetUp() override
    {
        PxTest::SetUp();
        file = path("USERS.DB");
        kdb::ParadoxCreateOptions options;
        options.passwords = {"/Kelvar/", "/TAVEN/"};
        ParadoxTable::create(file, Fields{{"USERID", 'A', 20}, {"PW", 'A', 128}, {"N", '+', 0}}, options);
    }

    int openCode()
    {
        return codeOf([&] { ParadoxTable::open(file); });
    }

    std::string file;
};

using ParadoxShippedUserTable = PxTest;

// A password handler that gives `password` to the session and asks for a
// retry; counts its calls.
void answerWith(const std::string& password, int& calls)
{
    Session::instance().setPasswordHandler([&calls, password](bool& retry) {
        ++calls;
        Session::instance().addPassword(password);
        retry = true;
    });
}

bool contains(const std::vector<uint8_t>& hay, const std::string& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace

TEST_F(ParadoxProtectedTableTest, WithoutPasswordTheHandlerIsAskedAndTheOpenRetried)
{
    int calls = 0;
    answerWith("/TAVEN/", calls);
    auto t = ParadoxTable::open(file);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(t->recordCount(), 0u);
    auto again = ParadoxTable::open(file);
    EXPECT_EQ(calls, 1) << "the session now holds the password";
}

TEST_F(ParadoxProtectedTableTest, EitherDeclaredPasswordOpensAndAWrongOneIsRefused)
{
    EXPECT_EQ(openCode(), ParadoxTable::kInvalidPassword) << "no password, no handler";
    Session::instance().addPassword("/kelvar/");
    EXPECT_EQ(openCode(), ParadoxTable::kInvalidPassword) << "passwords are case-sensitive";
    Session::instance().addPassword("/TAVEN/");
    EXPECT_EQ(openCode(), 0);
    resetSession();
    Session::instance().addPassword("/Kelvar/");
    EXPECT_EQ(openCode(), 0);
}

TEST_F(ParadoxProtectedTableTest, AHandlerThatCannotHelpEndsInAnError)
{
    int calls = 0;
    Session::instance().setPasswordHandler([&](bool& retry) {
        ++calls;
        Session::instance().addPassword("essai" + std::to_string(calls));
        retry = true;
    });
    EXPECT_EQ(openCode(), ParadoxTable::kInvalidPassword);
    EXPECT_GT(calls, 0);
    EXPECT_LE(calls, 8) << "the retries are bounded";

    resetSession();
    calls = 0;
    Session::instance().setPasswordHandler([&](bool& retry) {
        ++calls;
        retry = true;  // asks again without adding anything
    });
    EXPECT_EQ(openCode(), ParadoxTable::kInvalidPassword);
    EXPECT_EQ(calls, 1);

    resetSession();
    Session::instance().setPasswordHandler([&](bool& retry) {
        Session::instance().addPassword("/TAVEN/");
        retry = false;  // the user cancelled
    });
    EXPECT_EQ(openCode(), ParadoxTable::kInvalidPassword);
}

TEST_F(ParadoxProtectedTableTest, RecordsAreStoredEncryptedAndReadBack)
{
    Session::instance().addPassword("/TAVEN/");
    {
        auto t = ParadoxTable::open(file);
        for (int i = 0; i < 120; ++i)  // several 2 KiB blocks
            t->append({QString("MANAGER%1").arg(i), QString("mot-de-passe-%1").arg(i)});
        t->deleteRecord(7);
        t->update(1, {QString("MANAGER0"), QString("nouveau")});
    }
    const auto bytes = readFile(file);
    EXPECT_FALSE(contains(bytes, "MANAGER"));
    EXPECT_FALSE(contains(bytes, "mot-de-passe"));
    EXPECT_EQ(u32(bytes, 0x25), 0xFF00FF00u);
    EXPECT_NE(u32(bytes, 0x5C), 0u) << "the checksum marks the table as protected";
    EXPECT_EQ(u32(bytes, 0x06), 119u) << "the header stays readable";
    EXPECT_EQ(static_cast<int32_t>(u32(bytes, 73)), 120);

    auto t = ParadoxTable::open(file, {false, true});
    ASSERT_EQ(t->recordCount(), 119u);
    EXPECT_EQ(t->value(1, 1).toString(), QString("nouveau"));
    EXPECT_EQ(t->value(7, 0).toString(), QString("MANAGER7"));
    EXPECT_EQ(t->value(119, 2).toInt(), 120);
}

TEST_F(ParadoxProtectedTableTest, TamperedProtectionAreaIsNotMistakenForAPassword)
{
    auto bytes = readFile(file);
    put32(bytes, 0x5C, u32(bytes, 0x5C) ^ 0x10);  // checksum no longer matches the area
    writeFile(file, bytes);
    Session::instance().addPassword("/Kelvar/");
    EXPECT_EQ(openCode(), kdb::DBERR_NOTSUPPORTED);
}

TEST_F(ParadoxShippedUserTable, OpensWithTheSessionPasswordsAndHoldsTheFiveColumnsEmpty)
{
    const std::string copy = path("USERS.DB");
    writeFile(copy, readFile(PX_SHIPPED_USERSDB));

    int calls = 0;
    answerWith("/Kelvar/", calls);
    {
        auto t = ParadoxTable::open(copy);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(t->recordCount(), 0u);
        const std::vector<std::string> names = {"USERID", "NOM", "PRENOM", "ACCES", "PW"};
        ASSERT_EQ(t->fieldCount(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(t->fields()[i].name, names[i]);
            EXPECT_EQ(t->fields()[i].type, kdb::fldZSTRING);
        }
        EXPECT_GE(t->fields()[4].width, 100) << "PW holds a password hash";
        const QString hash(110, QChar('h'));
        t->append({QString("MANAGER"), QString("MANAGER"), QString("MANAGER"), QString("MANAGER"), hash});
        t->update(1, {QString("MANAGER"), QString("MANAGER"), QString("MANAGER"), QString("MANAGER"), QString()});
        t->append({QString("DUPONT"), QVariant(), QVariant(), QVariant(), hash});
    }
    resetSession();
    Session::instance().addPassword("/TAVEN/");
    auto t = ParadoxTable::open(copy, {false, true});
    ASSERT_EQ(t->recordCount(), 2u);
    EXPECT_TRUE(t->value(1, 4).isNull());
    EXPECT_EQ(t->value(2, 4).toString().size(), 110);
}
