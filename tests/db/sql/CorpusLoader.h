#pragma once
// Reads the statement corpus file: "-- name:" blocks with their parameters.
#include <QDate>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <map>
#include <stdexcept>
#include <string>

#include "platform/db/sql/Sql.h"

namespace kdbtest {

struct CorpusEntry {
    std::string sql;
    kdb::sql::Params params;
};

inline std::map<std::string, CorpusEntry> loadCorpus(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    std::map<std::string, CorpusEntry> out;
    std::string current;
    QStringList lines;
    auto finish = [&] {
        if (current.empty())
            return;
        while (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
        out[current].sql = lines.join("\r\n").toStdString();
        lines.clear();
    };
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    while (!in.atEnd()) {
        QString line = in.readLine();
        if (line.startsWith("-- name: ")) {
            finish();
            current = line.mid(9).trimmed().toStdString();
        } else if (line.startsWith("-- param ")) {
            QStringList parts = line.mid(9).split(' ');
            QString name = parts.value(0), kind = parts.value(1);
            QString value = parts.mid(2).join(' ');
            auto& p = out[current].params;
            if (kind == "date")
                p.setDate(name.toStdString(), QDate::fromString(value, "yyyy-MM-dd"));
            else if (kind == "int")
                p.setInteger(name.toStdString(), value.toLongLong());
            else
                p.setText(name.toStdString(), value);
        } else if (line.startsWith("-- ") && current.empty()) {
            continue;  // file heading
        } else {
            lines << line;
        }
    }
    finish();
    return out;
}

}  // namespace kdbtest
