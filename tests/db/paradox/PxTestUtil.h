#pragma once
// Helpers shared by the Paradox table tests.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/Table.h"
#include "platform/db/paradox/ParadoxTable.h"
#include "tests/db/DbTestUtil.h"

namespace pxtest {

using Fields = std::vector<kdb::ParadoxField>;

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
uint16_t u16(const std::vector<uint8_t>& b, size_t off);
uint32_t u32(const std::vector<uint8_t>& b, size_t off);
void put16(std::vector<uint8_t>& b, size_t off, uint16_t v);
void put32(std::vector<uint8_t>& b, size_t off, uint32_t v);

// Opens a table and reads every value of every record, the way a scan does.
// Answers the live records' values as text (one string per record).
std::vector<std::string> readAll(kdb::Table& t);

// Clears the session: no passwords, no handler.
void resetSession();

using kdbtest::codeOf;

// A test with a fresh directory and a clear session before and after.
class PxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        resetSession();
    }
    void TearDown() override { resetSession(); }
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

    QTemporaryDir dir;
};

}  // namespace pxtest
