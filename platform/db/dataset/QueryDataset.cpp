#include "platform/db/dataset/Dataset.h"

#include <QStringList>

#include <algorithm>

namespace kdb {

// ---- QueryDataset ---------------------------------------------------------------

QueryDataset::QueryDataset(QObject* parent) : Dataset(parent)
{
}

void QueryDataset::setSql(const QString& text)
{
    if (active())
        close();
    sql_ = text;
}

void QueryDataset::setSql(const QStringList& lines)
{
    setSql(lines.join("\r\n"));
}

void QueryDataset::doOpen()
{
    openStatement();
}

void QueryDataset::openStatement()
{
    query_.reset();
    const QString filter = statementFilter();
    sql::ColumnFilter cf;
    const int eq = filter.indexOf('=');
    if (eq > 0) {
        const QString value = filter.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('\'') && value.endsWith('\'')) {
            cf.column = filter.left(eq).trimmed().toStdString();
            cf.value = value.mid(1, value.size() - 2).replace("''", "'");
        }
    }
    auto q = std::make_unique<sql::Query>(database(), sql_.toStdString(), params_, cf.column.empty() ? nullptr : &cf);
    if (!q->isSelect())
        throw EDatabaseError("La requête ne renvoie pas de lignes");
    plan_ = q->plan();
    query_ = std::move(q);
    openFilter_ = filter;
    handed_ = 0;
}

void QueryDataset::rewindBase()
{
    if (query_ && statementFilter() != openFilter_)
        openStatement();
    handed_ = 0;
}

void QueryDataset::doClose()
{
    query_.reset();
}

int QueryDataset::execSql()
{
    if (active())
        close();
    sql::ExecResult r = sql::execute(database(), sql_.toStdString(), params_);
    plan_ = r.plan;
    return r.rowsAffected;
}

std::vector<FieldInfo> QueryDataset::baseColumns() const
{
    return query_->columns();
}

bool QueryDataset::fetchBase(std::vector<uint32_t>& out, int max)
{
    // The statement reads its rows at once (the rows of one moment); they
    // are handed on as the cursor and the views need them.
    const size_t have = std::min(query_->fetch(handed_ + static_cast<size_t>(max)), handed_ + static_cast<size_t>(max));
    for (; handed_ < have; ++handed_)
        out.push_back(static_cast<uint32_t>(handed_ + 1));
    return !query_->complete() || handed_ < query_->fetch(0);
}

bool QueryDataset::baseRowsMeetFilter() const
{
    // A day the statement reads as a condition of its own (the same day as
    // the filter in force): its rows are all of that day.
    if (!query_ || openFilter_ != statementFilter() || filterFieldInForce() < 0)
        return false;
    const QDate day = query_->filterDate();
    const QVariant& want = filterValueInForce();
    return day.isValid() && want.typeId() == QMetaType::QDate && want.toDate() == day;
}

QVariant QueryDataset::baseValue(uint32_t handle, int field)
{
    if (!query_ || handle == 0 || handle > handed_)
        return {};
    return query_->value(handle - 1, field);
}

}  // namespace kdb
