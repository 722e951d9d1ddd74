#include "platform/db/database/Database.h"

#include <QString>

#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/engine/Engine.h"

namespace kdb {

// Tables of finished statements, kept open for the next statement on the
// same file: a few handles, none idle for long, holding no lock meanwhile.
class Database::Pool {
public:
    static constexpr size_t kMax = 8;
    static constexpr auto kMaxIdle = std::chrono::seconds(3);

    // A kept table for the key, ready for use; null when there is none.
    std::unique_ptr<Table> take(const std::string& key)
    {
        std::vector<std::unique_ptr<Table>> dropped;  // closed outside the mutex
        std::unique_ptr<Table> found;
        {
            std::lock_guard<std::mutex> g(m_);
            const auto now = std::chrono::steady_clock::now();
            for (size_t i = idle_.size(); i-- > 0;) {
                const bool stale = now - idle_[i].since > kMaxIdle;
                if (!stale && !found && idle_[i].key == key)
                    found = std::move(idle_[i].table);
                else if (stale)
                    dropped.push_back(std::move(idle_[i].table));
                else
                    continue;
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
        }
        if (found && !found->unpark())
            found.reset();
        return found;
    }

    void put(const std::string& key, std::unique_ptr<Table> t)
    {
        std::unique_ptr<Table> dropped;
        std::lock_guard<std::mutex> g(m_);
        if (idle_.size() >= kMax) {
            dropped = std::move(idle_.front().table);
            idle_.erase(idle_.begin());
        }
        idle_.push_back({key, std::move(t), std::chrono::steady_clock::now()});
    }

    // Closes every kept table of a file (all of them for an empty path).
    void drop(const std::string& path)
    {
        std::vector<std::unique_ptr<Table>> dropped;
        std::lock_guard<std::mutex> g(m_);
        for (size_t i = idle_.size(); i-- > 0;)
            if (path.empty() || idle_[i].table->filePath() == path) {
                dropped.push_back(std::move(idle_[i].table));
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
    }

private:
    struct Kept {
        std::string key;
        std::unique_ptr<Table> table;
        std::chrono::steady_clock::time_point since;
    };
    std::mutex m_;
    std::vector<Kept> idle_;
};

Database::Database(std::string directory) : directory_(std::move(directory)), pool_(std::make_shared<Pool>())
{
}

Database::Database(std::string directory, Opener opener) : directory_(std::move(directory)), opener_(std::move(opener))
{
}

Database::~Database() = default;

Database& Database::of(const std::string& directory)
{
    static std::mutex m;
    static auto* all = new std::map<std::string, std::unique_ptr<Database>>;  // used until the program ends
    std::lock_guard<std::mutex> g(m);
    auto& db = (*all)[directory];
    if (!db)
        db = std::make_unique<Database>(directory);
    return *db;
}

std::shared_ptr<Table> Database::openTable(const std::string& tableName, const TableOpenMode& mode)
{
    if (opener_) {
        std::shared_ptr<Table> t = opener_(directory_, tableName, mode);
        if (!t)
            throw EDBEngineError::noSuchTable(directory_ + "/" + tableName);
        return t;
    }
    std::string key = mode.readOnly ? "r\n" : "w\n";
    for (char c : tableName)
        key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    std::unique_ptr<Table> t;
    if (!mode.exclusive)
        t = pool_->take(key);
    if (!t) {
        engine::OpenOptions o;
        o.exclusive = mode.exclusive;
        o.readOnly = mode.readOnly;
        t = engine::openTable(directory_, tableName, o);
        if (mode.exclusive)
            pool_->drop(t->filePath());
    }
    std::weak_ptr<Pool> pool = pool_;
    return std::shared_ptr<Table>(t.release(), [key, pool](Table* p) {
        std::unique_ptr<Table> owned(p);
        try {
            if (auto keep = pool.lock(); keep && owned->park())
                keep->put(key, std::move(owned));
        } catch (...) {
        }
    });
}

void Database::closeIdleTables()
{
    if (pool_)
        pool_->drop(std::string());
}

std::string Database::baseName(const std::string& tableName)
{
    QString n = QString::fromStdString(tableName).trimmed();
    const int slash = std::max(n.lastIndexOf('/'), n.lastIndexOf('\\'));
    if (slash >= 0)
        n = n.mid(slash + 1);
    const int dot = n.lastIndexOf('.');
    if (dot > 0) {
        const QString ext = n.mid(dot + 1).toUpper();
        if (ext == "DBF" || ext == "DB")
            n = n.left(dot);
    }
    return n.toUpper().toStdString();
}

}  // namespace kdb
