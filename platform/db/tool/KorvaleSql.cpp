// korvale-sql DIR [STATEMENT]
// korvale-sql --help
//
// Runs one statement of the local SQL on the tables of the data directory
// DIR, or, without STATEMENT, each non-blank line of the standard input in
// turn (stopping at the first that fails). Each statement runs as the
// program runs it: a SELECT through a query dataset, any other statement
// through execSql (a write flushes its table).
//
// Standard output, UTF-8:
//   - a SELECT: a header line of the column names, then one line per row,
//     values separated by tabs: a date as YYYY-MM-DD, a number with the
//     column's decimals, a logical value as T or F, a blank value empty; a
//     tab, line feed, carriage return or backslash inside a text is written
//     \t, \n, \r or \\;
//   - any other statement: the number of rows it changed.
// A failure writes "error CODE: MESSAGE" (the engine's code and message; no
// code for an error outside the engine) on standard error and exits with 1.
#include <QDate>
#include <QString>
#include <QVariant>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/db/core/DbError.h"
#include "platform/db/dataset/Dataset.h"

namespace {

QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString valueText(const QVariant& v, const kdb::Field& field)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("T") : QStringLiteral("F");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        if (field.decimals() > 0)
            return QString::number(v.toDouble(), 'f', field.decimals());
        return v.toString();
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (field.decimals() > 0)
            return QString::number(d, 'f', field.decimals());
        if (d == std::floor(d) && std::fabs(d) < 1e15)
            return QString::number(static_cast<qlonglong>(d));
        return QString::number(d, 'g', 15);
    }
    case QMetaType::QByteArray:
        return escaped(QString::fromLatin1(v.toByteArray()));
    default:
        return escaped(v.toString());
    }
}

void write(const QString& line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

bool isSelect(const QString& statement)
{
    const QString s = statement.trimmed();
    return s.startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive) && (s.size() == 6 || !s.at(6).isLetterOrNumber());
}

// Runs one statement; false (after the message) when it fails.
bool run(const std::string& directory, const QString& statement)
{
    try {
        kdb::QueryDataset query;
        query.setDatabaseName(directory);
        query.setSql(statement);
        if (!isSelect(statement)) {
            const int changed = query.execSql();
            write(QString::number(changed));
            return true;
        }
        query.open();
        QString line;
        for (int f = 0; f < query.fieldCount(); ++f) {
            if (f)
                line += u'\t';
            line += QString::fromStdString(query.field(f).fieldName());
        }
        write(line);
        for (; !query.eof(); query.next()) {
            line.clear();
            for (int f = 0; f < query.fieldCount(); ++f) {
                if (f)
                    line += u'\t';
                kdb::Field& field = query.field(f);
                line += valueText(field.value(), field);
            }
            write(line);
        }
        return true;
    } catch (const EDBEngineError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "error %d: %s\n", e.code(), e.what());
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return false;
}

void usage(std::FILE* to, const char* program)
{
    std::fprintf(to,
        "usage: %s DIR [STATEMENT]\n"
        "Runs a statement of the local SQL on the tables of the data directory DIR;\n"
        "without STATEMENT, each line of the standard input in turn, stopping at the\n"
        "first that fails. A SELECT prints a line of column names and its rows,\n"
        "tab-separated; another statement prints the number of rows it changed.\n"
        "A failure prints \"error CODE: MESSAGE\" on standard error (exit status 1).\n",
        program);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* program = argc ? argv[0] : "korvale-sql";
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout, program);
        return 0;
    }
    // An option where the directory is expected: no directory is named so.
    if (argc < 2 || argc > 3 || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        if (argc >= 2 && argv[1][0] == '-')
            std::fprintf(stderr, "%s: unknown option %s\n", program, argv[1]);
        usage(stderr, program);
        return 2;
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    const std::string directory = argv[1];
    if (argc == 3)
        return run(directory, QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString statement = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        if (statement.trimmed().isEmpty())
            continue;
        if (!run(directory, statement))
            return 1;
        std::fflush(stdout);
    }
    return 0;
}
