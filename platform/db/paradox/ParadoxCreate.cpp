#include <cctype>
#include <set>

#include <QString>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/File.h"
#include "platform/db/paradox/ParadoxTable.h"
#include "platform/db/paradox/PxCrypt.h"
#include "platform/db/paradox/PxFormat.h"

namespace kdb {

using namespace paradox;

namespace {

constexpr size_t kMaxNameLength = 25;
constexpr size_t kMaxFields = 255;

[[noreturn]] void refuse(const std::string& what)
{
    throw EDBEngineError::invalidParam(std::string(), "cannot create the table: " + what);
}

PxField pxFieldOf(const ParadoxField& in)
{
    PxField f;
    f.name = toCp1252(QString::fromUtf8(in.name.data(), static_cast<qsizetype>(in.name.size())));
    if (f.name.empty() || f.name.size() > kMaxNameLength)
        refuse("field name '" + in.name + "' must have 1 to 25 characters");
    for (const char c : f.name)
        if (static_cast<unsigned char>(c) < 0x20)
            refuse("field name '" + in.name + "' holds a control character");
    switch (in.type) {
    case 'A':
        if (in.size < 1 || in.size > 255)
            refuse("alpha field '" + in.name + "' must be 1 to 255 wide");
        f.code = ftAlpha;
        f.size = static_cast<uint8_t>(in.size);
        break;
    case 'D':
        f.code = ftDate;
        f.size = 4;
        break;
    case 'S':
        f.code = ftShort;
        f.size = 2;
        break;
    case 'I':
        f.code = ftLong;
        f.size = 4;
        break;
    case '+':
        f.code = ftAutoInc;
        f.size = 4;
        break;
    case 'N':
        f.code = ftNumber;
        f.size = 8;
        break;
    case '$':
        f.code = ftMoney;
        f.size = 8;
        break;
    case 'L':
        f.code = ftLogical;
        f.size = 1;
        break;
    default:
        throw EDBEngineError::notSupported(std::string(),
            "cannot create the table: field type '" + std::string(1, in.type) + "' of '" + in.name +
                "' cannot be written");
    }
    f.length = fieldLength(f.code, f.size);
    return f;
}

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void ParadoxTable::create(
    const std::string& path, const std::vector<ParadoxField>& fields, const ParadoxCreateOptions& options)
{
    if (fields.empty() || fields.size() > kMaxFields)
        refuse("a table has 1 to 255 fields");
    if (options.blockSizeKiB < 1 || options.blockSizeKiB > 32)
        refuse("the block size must be 1 to 32 KiB");
    std::vector<PxField> px;
    std::set<std::string> names;
    size_t offset = 0;
    for (const ParadoxField& in : fields) {
        PxField f = pxFieldOf(in);
        std::string upper;
        for (const char c : f.name)
            upper.push_back(static_cast<char>(upperCp1252(static_cast<unsigned char>(c))));
        if (!names.insert(upper).second)
            refuse("field name '" + in.name + "' appears twice");
        f.offset = static_cast<uint16_t>(offset);
        offset += f.length;
        px.push_back(std::move(f));
    }
    if (offset > static_cast<size_t>(options.blockSizeKiB) * 1024 - kBlockHeader)
        refuse("the record does not fit a block");

    std::vector<uint8_t> header;
    if (options.passwords.empty()) {
        header = buildHeader(baseName(path), px, options.blockSizeKiB, {}, 0, 0);
    } else {
        const NewProtection prot = protect(options.passwords);
        header = buildHeader(baseName(path), px, options.blockSizeKiB, prot.area, prot.checksum,
            static_cast<int>(options.passwords.size()) - 1);
    }

    // Written beside the target and renamed over it: an existing table is
    // replaced whole or not at all.
    const std::string temp = path + ".new~";
    try {
        File out = File::open(temp, File::Mode::Create);
        out.writeAt(0, header.data(), header.size());
        out.sync();
        out.close();
        replaceFile(temp, path);
    } catch (...) {
        removeFile(temp);
        throw;
    }
}

void ParadoxTable::create(const std::string& path, const TableDesc& desc)
{
    if (!desc.indexes.empty())
        throw EDBEngineError::notSupported(
            path, "cannot create the table: this engine makes Paradox tables without indexes");
    std::vector<ParadoxField> fields;
    for (const FieldDesc& d : desc.fields) {
        ParadoxField f;
        f.name = d.name;
        switch (d.type) {
        case fldZSTRING:
            f.type = 'A';
            f.size = d.units1;
            break;
        case fldDATE:
            f.type = 'D';
            break;
        case fldINT16:
            f.type = 'S';
            break;
        case fldINT32:
            f.type = d.subType == fldstAUTOINC ? '+' : 'I';
            break;
        case fldFLOAT:
            f.type = 'N';
            break;
        case fldBOOL:
            f.type = 'L';
            break;
        default:
            throw EDBEngineError::notSupported(
                path, "cannot create the table: field '" + d.name + "' has a type this engine does not write");
        }
        fields.push_back(std::move(f));
    }
    create(path, fields);
}

}  // namespace kdb
