#include "sql/Source.h"

#include <QString>

#include <cctype>

#include "core/DbError.h"
#include "sql/TableSource.h"

namespace kdb::sql {

bool sameName(const std::string& a, const std::string& b) {
    bool ascii = true;
    for (char c : a) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    for (char c : b) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii)
        return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int Source::fieldIndex(const std::string& name) const {
    const auto& cols = columns();
    for (size_t i = 0; i < cols.size(); ++i)
        if (sameName(cols[i].name, name)) return static_cast<int>(i);
    return -1;
}

int Source::tagOnField(int field) const {
    int found = -1;
    const auto all = tags();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].field != field || all[i].descending) continue;
        if (found < 0 || (all[i].unique && !all[static_cast<size_t>(found)].unique))
            found = static_cast<int>(i);
    }
    return found;
}

int Source::tagByName(const std::string& name) const {
    const auto all = tags();
    for (size_t i = 0; i < all.size(); ++i)
        if (sameName(all[i].name, name)) return static_cast<int>(i);
    return -1;
}

Catalog& Catalog::instance() {
    static Catalog catalog = [] {
        Catalog c;
        c.setOpener(openEngineTable);
        return c;
    }();
    return catalog;
}

void Catalog::setOpener(Opener opener) { opener_ = std::move(opener); }

std::shared_ptr<Source> Catalog::open(const std::string& directory, const std::string& tableName,
                                      const OpenMode& mode) const {
    if (!opener_)
        throw EDBEngineError::noSuchTable(directory + "/" + tableName);
    auto src = opener_(directory, tableName, mode);
    if (!src) throw EDBEngineError::noSuchTable(directory + "/" + tableName);
    return src;
}

std::string Catalog::baseName(const std::string& tableName) {
    QString n = QString::fromStdString(tableName).trimmed();
    int slash = std::max(n.lastIndexOf('/'), n.lastIndexOf('\\'));
    if (slash >= 0) n = n.mid(slash + 1);
    int dot = n.lastIndexOf('.');
    if (dot > 0) {
        QString ext = n.mid(dot + 1).toUpper();
        if (ext == "DBF" || ext == "DB") n = n.left(dot);
    }
    return n.toUpper().toStdString();
}

}  // namespace kdb::sql
