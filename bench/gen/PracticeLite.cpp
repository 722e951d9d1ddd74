#include "PracticeLite.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

#include "Practice.h"
#include "resources/schema/SchemaText.h"
#include "platform/db/core/EngineTypes.h"

namespace kbench {

// Changes whenever the generated rows change.
constexpr int kGeneration = 2;

Lite::Lite(const std::string& path)
{
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: cannot open %s\n", path.c_str());
        std::exit(1);
    }
    exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL");
}

Lite::~Lite()
{
    sqlite3_close(db_);
}

void Lite::exec(const std::string& sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s in %s\n", err ? err : "?", sql.c_str());
        sqlite3_free(err);
        std::exit(1);
    }
}

size_t Lite::rows(const std::string& sql, const std::vector<std::string>& binds)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s in %s\n", sqlite3_errmsg(db_), sql.c_str());
        std::exit(1);
    }
    for (size_t i = 0; i < binds.size(); ++i)
        sqlite3_bind_text(st, static_cast<int>(i + 1), binds[i].c_str(), -1, SQLITE_TRANSIENT);
    size_t n = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(st); ++c)
            (void)sqlite3_column_text(st, c);
        ++n;
    }
    if (rc != SQLITE_DONE) {
        std::fprintf(stderr, "sqlite: %s in %s\n", sqlite3_errmsg(db_), sql.c_str());
        std::exit(1);
    }
    sqlite3_finalize(st);
    return n;
}

std::string Lite::first(const std::string& sql)
{
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    std::string v;
    if (st && sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return v;
}

std::string Lite::plan(const std::string& sql)
{
    sqlite3_stmt* st = nullptr;
    std::string out;
    sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
        if (!out.empty())
            out += "; ";
        out += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
    }
    sqlite3_finalize(st);
    return out;
}

std::string liteTableName(const QString& fileName)
{
    return fileName.section(u'.', 0, 0).toUpper().toStdString();
}

namespace {

std::string liteType(const kdb::FieldDesc& f)
{
    switch (f.type) {
    case kdb::fldINT16:
    case kdb::fldINT32:
        return "INTEGER";
    case kdb::fldFLOAT:
    case kdb::fldBCD:
        return f.units2 ? "REAL" : "INTEGER";
    default:
        return "TEXT";  // characters, dates (YYYY-MM-DD), memos
    }
}

// The key fields of an index: its field numbers, or the names of an
// expression such as CODE+NUM.
std::vector<std::string> keyColumns(const kdb::IndexDesc& x, const std::vector<kdb::FieldDesc>& fields)
{
    std::vector<std::string> cols;
    if (x.fieldsInKey && !x.expression) {
        for (int i = 0; i < x.fieldsInKey; ++i)
            cols.push_back(fields.at(static_cast<size_t>(x.keyFields[static_cast<size_t>(i)] - 1)).name);
    } else {
        for (const QString& part : QString::fromStdString(x.keyExpr).split(u'+'))
            cols.push_back(part.trimmed().toUpper().toStdString());
    }
    return cols;
}

void createLiteSchema(Lite& lite)
{
    for (const dbcheck::TableBlock& block : practiceSchema()) {
        const std::string table = liteTableName(block.fileName);
        std::string sql = "CREATE TABLE " + table + " (";
        for (size_t i = 0; i < block.fields.size(); ++i)
            sql += (i ? ", " : "") + block.fields[i].name + " " + liteType(block.fields[i]);
        lite.exec(sql + ")");
        for (const kdb::IndexDesc& x : block.indexes) {
            std::string cols;
            for (const std::string& c : keyColumns(x, block.fields))
                cols += (cols.empty() ? "" : ", ") + c;
            lite.exec(std::string("CREATE ") + (x.unique ? "UNIQUE " : "") + "INDEX " + table + "_" + x.tagName +
                " ON " + table + " (" + cols + ")");
        }
    }
}

void bind(sqlite3_stmt* st, int i, const QVariant& v)
{
    if (!v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty())) {
        sqlite3_bind_null(st, i);
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        sqlite3_bind_int64(st, i, v.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(st, i, v.toDouble());
        break;
    case QMetaType::QDate: {
        const QByteArray d = v.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
        sqlite3_bind_text(st, i, d.constData(), static_cast<int>(d.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const QByteArray t = v.toString().toUtf8();
        sqlite3_bind_text(st, i, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    }
}

// SQLite's side of the generation: one transaction per table, as the
// engine flushes each table once.
class LiteCopy : public PracticeCopy {
public:
    explicit LiteCopy(Lite& lite) : lite_(lite) { }
    void begin(const dbcheck::TableBlock& table) override
    {
        std::string sql = "INSERT INTO " + liteTableName(table.fileName) + " VALUES (";
        for (size_t i = 0; i < table.fields.size(); ++i)
            sql += i ? ",?" : "?";
        lite_.exec("BEGIN");
        sqlite3_prepare_v2(lite_.db(), (sql + ")").c_str(), -1, &insert_, nullptr);
    }
    void row(const Row& row) override
    {
        for (size_t i = 0; i < row.size(); ++i)
            bind(insert_, static_cast<int>(i + 1), row[i]);
        if (sqlite3_step(insert_) != SQLITE_DONE) {
            std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(lite_.db()));
            std::exit(1);
        }
        sqlite3_reset(insert_);
    }
    void end() override
    {
        sqlite3_finalize(insert_);
        insert_ = nullptr;
        lite_.exec("COMMIT");
    }

private:
    Lite& lite_;
    sqlite3_stmt* insert_ = nullptr;
};

}  // namespace

std::string preparePractice(const std::string& directory, double scale, bool verbose)
{
    const QDir dir(QString::fromStdString(directory));
    QDir().mkpath(dir.path());
    const std::string litePath = directory + "/practice.sqlite";
    const QString marker = dir.filePath(QStringLiteral("practice.scale"));
    // The scale, the schema and the generation the files were made from.
    const QByteArray scaleText = QByteArray::number(scale, 'g', 10) + " schema " +
        QCryptographicHash::hash(SchemaText().join(u'\n').toUtf8(), QCryptographicHash::Sha1).toHex() + " generation " +
        QByteArray::number(kGeneration);
    {
        QFile m(marker);
        if (m.open(QIODevice::ReadOnly) && m.readAll() == scaleText &&
            QFile::exists(QString::fromStdString(litePath))) {
            if (verbose)
                std::printf("practice at scale %g already in %s\n", scale, directory.c_str());
            return litePath;
        }
    }
    QFile::remove(marker);
    QFile::remove(QString::fromStdString(litePath));
    Lite lite(litePath);
    createLiteSchema(lite);
    LiteCopy copy(lite);
    writePractice(directory, scale, verbose, &copy);
    lite.exec("ANALYZE");
    QFile m(marker);
    if (m.open(QIODevice::WriteOnly))
        m.write(scaleText);
    return litePath;
}

}  // namespace kbench
