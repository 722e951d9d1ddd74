#include "dataset/Dataset.h"

#include <QStringList>

namespace kdb {

// ---- QueryDataset ---------------------------------------------------------------

QueryDataset::QueryDataset(QObject* parent) : Dataset(parent) {}

void QueryDataset::setSql(const QString& text) {
    if (active()) close();
    sql_ = text;
}

void QueryDataset::setSql(const QStringList& lines) { setSql(lines.join("\r\n")); }

void QueryDataset::doOpen() {
    result_ = {};
    sql::ExecResult r = sql::execute(directory_, sql_.toStdString(), params_);
    if (!r.isSelect) throw EDatabaseError("The statement does not return rows; use execSql");
    result_ = std::move(r.result);
    plan_ = r.plan;
}

void QueryDataset::doClose() { result_ = {}; }

int QueryDataset::execSql() {
    if (active()) close();
    sql::ExecResult r = sql::execute(directory_, sql_.toStdString(), params_);
    plan_ = r.plan;
    return r.rowsAffected;
}

std::vector<sql::ColumnInfo> QueryDataset::baseColumns() const {
    std::vector<sql::ColumnInfo> cols;
    for (const sql::ResultColumn& c : result_.columns) {
        sql::ColumnInfo ci;
        ci.name = c.name;
        ci.type = c.type;
        ci.subType = c.subType;
        ci.width = c.width;
        ci.decimals = c.decimals;
        cols.push_back(ci);
    }
    return cols;
}

bool QueryDataset::fetchBase(std::vector<uint32_t>& out, int) {
    // the result is in memory: every row at once
    for (size_t i = 0; i < result_.rows.size(); ++i) out.push_back(static_cast<uint32_t>(i + 1));
    return false;
}

QVariant QueryDataset::baseValue(uint32_t handle, int field) {
    if (handle == 0 || handle > result_.rows.size()) return {};
    return result_.rows[handle - 1].at(static_cast<size_t>(field));
}

}  // namespace kdb
