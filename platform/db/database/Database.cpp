#include "platform/db/database/Database.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include <pthread.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/Session.h"
#include "platform/db/engine/Engine.h"

namespace kdb {

// Tables of finished statements, kept open for the next statement on the
// same file: a few handles, none idle for long, holding no lock meanwhile
// but while the program is busy (see put).
class Database::Pool {
public:
    static constexpr size_t kMax = 8;
    static constexpr auto kMaxIdle = std::chrono::seconds(3);

    // A kept table for the key, ready for use, or else one for `other` (when
    // not empty), whose key is then `key`'s; null when there is none.
    std::unique_ptr<Table> take(std::string& key, const std::string& other)
    {
        std::vector<std::unique_ptr<Table>> dropped;  // closed outside the mutex
        std::unique_ptr<Table> found;
        std::string foundKey;
        {
            std::lock_guard<std::mutex> g(m_);
            leaveInheritedTables();
            const auto now = std::chrono::steady_clock::now();
            for (size_t i = idle_.size(); i-- > 0;)
                if (now - idle_[i].since > kMaxIdle) {
                    dropped.push_back(std::move(idle_[i].table));
                    idle_.erase(idle_.begin() + static_cast<long>(i));
                }
            // The one given back last first.
            size_t at = idle_.size();
            for (size_t i = idle_.size(); i-- > 0 && at == idle_.size();)
                if (idle_[i].key == key)
                    at = i;
            for (size_t i = idle_.size(); i-- > 0 && at == idle_.size() && !other.empty();)
                if (idle_[i].key == other)
                    at = i;
            if (at < idle_.size()) {
                found = std::move(idle_[at].table);
                foundKey = idle_[at].key;
                idle_.erase(idle_.begin() + static_cast<long>(at));
            }
        }
        if (found && !found->unpark())
            found.reset();
        if (found)
            key = foundKey;
        return found;
    }

    // Keeps a table given back. While the program is busy (its event loop
    // runs a handler on this thread), the table keeps its shared open: the
    // next statements of the same work take it back without looking at its
    // files again. The opens are given back as soon as the event loop has
    // nothing left to do, before an exclusive open made by this program,
    // and by closeIdleTables(); meanwhile another program's exclusive open
    // of the table is refused, as while a statement runs.
    void put(const std::string& key, std::unique_ptr<Table> t)
    {
        const bool hold = ProgramBusy();
        if (!t->park(hold))
            return;
        std::unique_ptr<Table> dropped;
        std::lock_guard<std::mutex> g(m_);
        leaveInheritedTables();
        if (idle_.size() >= kMax) {
            dropped = std::move(idle_.front().table);
            idle_.erase(idle_.begin());
        }
        idle_.push_back({key, std::move(t), std::chrono::steady_clock::now(), hold});
        if (hold) {
            holding_ = true;
            anyHolding.store(true);
        }
    }

    // Closes every kept table of a file (all of them for an empty path).
    void drop(const std::string& path)
    {
        std::vector<std::unique_ptr<Table>> dropped;
        std::lock_guard<std::mutex> g(m_);
        leaveInheritedTables();
        for (size_t i = idle_.size(); i-- > 0;)
            if (path.empty() || idle_[i].table->filePath() == path) {
                dropped.push_back(std::move(idle_[i].table));
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
    }

    // Gives back the shared opens of the kept tables; answers whether there
    // were any (a table that cannot give its open back is closed).
    bool releaseOpens()
    {
        std::vector<std::unique_ptr<Table>> dropped;
        std::lock_guard<std::mutex> g(m_);
        leaveInheritedTables();
        if (!holding_)
            return false;
        holding_ = false;
        for (size_t i = idle_.size(); i-- > 0;) {
            if (!idle_[i].holding)
                continue;
            idle_[i].holding = false;
            if (!idle_[i].table->releaseOpen()) {
                dropped.push_back(std::move(idle_[i].table));
                idle_.erase(idle_.begin() + static_cast<long>(i));
            }
        }
        return true;
    }

    // Some pool may keep opens (cleared by whoever gives them all back).
    static inline std::atomic<bool> anyHolding{false};
    // After a fork, in the child.
    static void Forked() { forks.fetch_add(1, std::memory_order_relaxed); }

private:
    // The thread that runs the program's event loop is inside it, at work
    // on an event: the opens it keeps are given back when the loop is about
    // to wait for the next one.
    static bool ProgramBusy();
    // In a process forked from the one that kept the tables, their files are
    // the parent's open files, locks included: they are left alone (neither
    // used, given back nor closed).
    void leaveInheritedTables()
    {
        const unsigned now = forks.load(std::memory_order_relaxed);
        if (now == forksSeen_)
            return;
        forksSeen_ = now;
        for (Kept& k : idle_)
            (void)k.table.release();
        idle_.clear();
        holding_ = false;
    }
    static inline std::atomic<unsigned> forks{0};
    unsigned forksSeen_ = forks.load();
    struct Kept {
        std::string key;
        std::unique_ptr<Table> table;
        std::chrono::steady_clock::time_point since;
        bool holding = false;  // the table keeps its shared open
    };
    std::mutex m_;
    std::vector<Kept> idle_;
    bool holding_ = false;  // some table keeps its shared open
};

namespace {

// Every pool that may keep opens, for giving them back together.
std::mutex poolsMutex;
std::vector<std::weak_ptr<Database::Pool>>& Pools()
{
    static auto* pools = new std::vector<std::weak_ptr<Database::Pool>>;  // used until the program ends
    return *pools;
}

bool ReleaseAllOpens()
{
    if (!Database::Pool::anyHolding.exchange(false))
        return false;  // nothing kept (the event loop asks before each wait)
    std::vector<std::shared_ptr<Database::Pool>> live;
    {
        std::lock_guard<std::mutex> g(poolsMutex);
        auto& pools = Pools();
        for (size_t i = pools.size(); i-- > 0;)
            if (auto p = pools[i].lock())
                live.push_back(std::move(p));
            else
                pools.erase(pools.begin() + static_cast<long>(i));
    }
    bool any = false;
    for (const auto& p : live)
        any = p->releaseOpens() || any;
    return any;
}

void AddPool(const std::shared_ptr<Database::Pool>& pool)
{
    static std::once_flag hook;
    std::call_once(hook, [] {
        Session::instance().setIdleOpenRelease(&ReleaseAllOpens);
        ::pthread_atfork(nullptr, nullptr, &Database::Pool::Forked);
    });
    std::lock_guard<std::mutex> g(poolsMutex);
    Pools().push_back(pool);
}

}  // namespace

bool Database::Pool::ProgramBusy()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() || app->thread()->loopLevel() == 0)
        return false;
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (!loop)
        return false;
    // The event loop gives the opens back before it waits (once connected
    // to the dispatcher of this thread).
    static QPointer<QAbstractEventDispatcher> connected;
    if (connected != loop) {
        QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, loop, [] { ReleaseAllOpens(); });
        connected = loop;
    }
    return true;
}

Database::Database(std::string directory) : directory_(std::move(directory)), pool_(std::make_shared<Pool>())
{
    AddPool(pool_);
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
        t = pool_->take(key, mode.readOnly && mode.readsOnly ? "w" + key.substr(1) : std::string());
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
            if (auto keep = pool.lock())
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
    // A plain ASCII name (as the program's are) without the text routines.
    bool ascii = true;
    for (const char c : tableName)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        size_t from = 0, to = tableName.size();
        while (from < to && std::isspace(static_cast<unsigned char>(tableName[from])))
            ++from;
        while (to > from && std::isspace(static_cast<unsigned char>(tableName[to - 1])))
            --to;
        const size_t slash = tableName.find_last_of("/\\", to == 0 ? 0 : to - 1);
        if (slash != std::string::npos && slash >= from)
            from = slash + 1;
        const size_t dot = tableName.rfind('.', to == 0 ? 0 : to - 1);
        if (dot != std::string::npos && dot > from) {
            std::string ext = tableName.substr(dot + 1, to - dot - 1);
            for (char& c : ext)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (ext == "DBF" || ext == "DB")
                to = dot;
        }
        std::string out = tableName.substr(from, to - from);
        for (char& c : out)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return out;
    }
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
