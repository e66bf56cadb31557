// The production store over Qt SQL: QSQLITE for one PC, QPSQL for a line of stations. Both speak
// the same few statements; where the engines differ (locking, the row id) the store says so.
#include "store/productionstore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QVariant V(const std::string& text) { return QVariant(Q(text)); }
QVariant V(int64_t n) { return QVariant(static_cast<qlonglong>(n)); }
QVariant V(uint64_t n) { return QVariant(static_cast<qlonglong>(n)); }

std::string HexOf(uint64_t n, int sizeBytes)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*" PRIX64, 2 * sizeBytes, n);
    return text;
}

bool FitsIn(uint64_t n, int sizeBytes) { return sizeBytes >= 8 || n < (uint64_t{1} << (8 * sizeBytes)); }

// A one-time key for PostgreSQL's advisory lock that serialises schema upgrades ("ZEMPRIX").
constexpr qlonglong kSchemaLockKey = 0x5A454D505249;

class TSqlStore final : public IProductionStore {
public:
    TSqlStore(const TStoreLocation& where, int schemaVersion);
    ~TSqlStore() override;
    TSqlStore(const TSqlStore&) = delete;
    TSqlStore& operator=(const TSqlStore&) = delete;

    std::string Describe() const override { return where_.Display(); }
    int SchemaVersion() override { return version_; }
    void CreatePool(const TSerialPoolRow& pool) override;
    std::vector<TSerialPoolRow> Pools() override;
    std::optional<TSerialPoolRow> FindPool(const std::string& name) override;
    uint64_t Reserve(const std::string& pool, const std::string& station, const std::string& box) override;
    void FinishBoard(const TStoredBoard& board, std::optional<uint64_t> number, TSerialFate fate) override;
    uint64_t SpoilAbandoned(const std::string& pool, const std::string& station, const std::string& box) override;
    std::vector<uint64_t> Numbers(const std::string& pool, const std::string& state) override;
    std::vector<TStoredBoard> Records(const TRecordFilter& filter) override;
    std::vector<TDaySummary> Summary(const TRecordFilter& filter) override;

private:
    [[noreturn]] void Fail(const std::string& what, const QSqlError& error) const
    {
        std::string reason = error.text().trimmed().toStdString();
        if (reason.empty()) reason = "unknown error";
        throw EStoreError("Production store " + Describe() + ": " + what + ": " + reason);
    }
    QSqlQuery Exec(const QString& sql, const std::vector<QVariant>& values = {});
    // Runs `body` in a transaction that holds the store's write lock (SQLite) from the start,
    // so that two stations never read the same state and both act on it.
    void InTransaction(const std::function<void()>& body);
    void Upgrade(int target);
    void Migrate(int to);
    void BeginTransaction();
    TSerialPoolRow PoolFrom(const QSqlQuery& q);
    // " WHERE ..." with its values for a record filter.
    QString Where(const TRecordFilter& filter, std::vector<QVariant>& values) const;

    // This thread's connection, opened on its first use.
    QSqlDatabase& Db();
    void CloseAll();

    struct TConnection {
        std::thread::id Thread;
        QString Name;
        QSqlDatabase Db;
    };
    TStoreLocation where_;
    bool pg_ = false;
    std::mutex mutex_;
    // A list, so that a connection keeps its place while another thread adds its own.
    std::list<TConnection> connections_;
    int version_ = 0;
};

TSqlStore::TSqlStore(const TStoreLocation& where, int schemaVersion) : where_(where), pg_(where.Kind == TStoreLocation::kPostgres)
{
    const char* driver = pg_ ? "QPSQL" : "QSQLITE";
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw EStoreError(std::string("Production store ") + Describe() + ": Qt's " +
                          (pg_ ? "PostgreSQL driver (QPSQL, package libqt6sql6-psql)" : "SQLite driver (QSQLITE, package libqt6sql6-sqlite)") +
                          " is not installed");
    try {
        Db();
        Upgrade(schemaVersion);
    } catch (...) {
        CloseAll();
        throw;
    }
}

TSqlStore::~TSqlStore() { CloseAll(); }

void TSqlStore::CloseAll()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    for (TConnection& c : connections_) {
        c.Db.close();
        c.Db = QSqlDatabase();
        QSqlDatabase::removeDatabase(c.Name);
    }
    connections_.clear();
}

QSqlDatabase& TSqlStore::Db()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    for (TConnection& c : connections_)
        if (c.Thread == self) return c.Db;
    // Qt SQL ties a connection to the thread that made it: a store opened by the window and used
    // by the thread that runs the boards gets one connection per thread, named by store and thread.
    char id[64];
    std::snprintf(id, sizeof id, "zemprix-store-%p-%zu", static_cast<void*>(this), connections_.size());
    TConnection c;
    c.Thread = self;
    c.Name = id;
    c.Db = QSqlDatabase::addDatabase(pg_ ? "QPSQL" : "QSQLITE", c.Name);
    if (pg_) {
        if (!where_.Host.empty()) c.Db.setHostName(Q(where_.Host));
        if (where_.Port > 0) c.Db.setPort(where_.Port);
        if (!where_.User.empty()) c.Db.setUserName(Q(where_.User));
        c.Db.setDatabaseName(Q(where_.Database));
        // An unreachable server is reported within seconds, before any board, not after a TCP time-out.
        QStringList options;
        std::map<std::string, std::string> given = where_.Options;
        given.emplace("connect_timeout", "5");
        for (const auto& [key, value] : given) options << Q(key + "=" + value);
        c.Db.setConnectOptions(options.join(';'));
    } else {
        c.Db.setDatabaseName(Q(where_.Path));
        // Stations of one PC (a gang's boxes) wait for each other's short transactions.
        c.Db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=15000");
    }
    if (!c.Db.open()) {
        const QSqlError error = c.Db.lastError();
        c.Db = QSqlDatabase();
        QSqlDatabase::removeDatabase(c.Name);
        throw EStoreError("Production store " + Describe() + ": cannot connect: " + error.text().trimmed().toStdString());
    }
    auto setUp = [&](const char* sql) {
        QSqlQuery q(c.Db);
        if (!q.exec(sql)) {
            const QSqlError error = q.lastError();
            q = QSqlQuery();
            c.Db.close();
            c.Db = QSqlDatabase();
            QSqlDatabase::removeDatabase(c.Name);
            Fail("set up", error);
        }
    };
    if (pg_) {
        // The server's notices ("already exists, skipping") are not the station's business.
        setUp("SET client_min_messages TO WARNING");
    } else {
        // WAL lets readers go on while a station writes, and a commit costs one sync, not three.
        setUp("PRAGMA journal_mode=WAL");
        setUp("PRAGMA synchronous=FULL");
    }
    connections_.push_back(std::move(c));
    return connections_.back().Db;
}

QSqlQuery TSqlStore::Exec(const QString& sql, const std::vector<QVariant>& values)
{
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    if (values.empty()) {
        if (!q.exec(sql)) Fail(sql.section(' ', 0, 0).toLower().toStdString(), q.lastError());
        return q;
    }
    if (!q.prepare(sql)) Fail(sql.section(' ', 0, 0).toLower().toStdString(), q.lastError());
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) Fail(sql.section(' ', 0, 0).toLower().toStdString(), q.lastError());
    return q;
}

void TSqlStore::BeginTransaction()
{
    // SQLite: IMMEDIATE takes the write lock now, so a read-then-write never meets a busy
    // upgrade half way. PostgreSQL: rows are locked by the statements themselves.
    Exec(pg_ ? "BEGIN" : "BEGIN IMMEDIATE").finish();
}

void TSqlStore::InTransaction(const std::function<void()>& body)
{
    BeginTransaction();
    try {
        body();
        Exec("COMMIT").finish();
    } catch (...) {
        QSqlQuery rollback(Db());
        rollback.exec("ROLLBACK");
        throw;
    }
}

void TSqlStore::Upgrade(int target)
{
    // Each step is one transaction under a lock, so that stations starting together upgrade once
    // and a failed step leaves the schema as it was.
    for (;;) {
        bool done = false;
        InTransaction([&] {
            if (pg_) Exec("SELECT pg_advisory_xact_lock(?)", {QVariant(kSchemaLockKey)}).finish();
            Exec("CREATE TABLE IF NOT EXISTS zemprix_schema (version INTEGER NOT NULL)").finish();
            QSqlQuery q = Exec("SELECT version FROM zemprix_schema");
            int current = 0;
            bool hasRow = false;
            if (q.next()) {
                current = q.value(0).toInt();
                hasRow = true;
            }
            q.finish();
            if (!hasRow) Exec("INSERT INTO zemprix_schema (version) VALUES (0)").finish();
            if (current > kSchemaVersion)
                throw EStoreError("Production store " + Describe() + " has schema version " + std::to_string(current) +
                                  ", newer than this program knows (" + std::to_string(kSchemaVersion) +
                                  "): update the program on this station");
            version_ = current;
            if (current >= target) {
                done = true;
                return;
            }
            Migrate(current + 1);
            Exec("UPDATE zemprix_schema SET version = ?", {QVariant(current + 1)}).finish();
        });
        if (done) return;
    }
}

void TSqlStore::Migrate(int to)
{
    if (to == 1) {
        Exec("CREATE TABLE serial_pools (name TEXT PRIMARY KEY, first_number BIGINT NOT NULL, "
             "size_bytes INTEGER NOT NULL, location BIGINT NOT NULL, step BIGINT NOT NULL, "
             "next_number BIGINT NOT NULL, created_utc TEXT NOT NULL)").finish();
        Exec("CREATE TABLE serial_numbers (pool TEXT NOT NULL, number BIGINT NOT NULL, state TEXT NOT NULL, "
             "station TEXT NOT NULL, box TEXT NOT NULL, changed_utc TEXT NOT NULL, PRIMARY KEY (pool, number))").finish();
        Exec(QString("CREATE TABLE boards (id ") +
             (pg_ ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT") +
             ", time_utc TEXT NOT NULL, station TEXT NOT NULL, operator TEXT NOT NULL, box TEXT NOT NULL, "
             "port TEXT NOT NULL, device TEXT NOT NULL, image TEXT NOT NULL, image_size BIGINT NOT NULL, "
             "image_crc32 TEXT NOT NULL, option_byte INTEGER, pool TEXT, serial TEXT NOT NULL, steps TEXT NOT NULL, "
             "result TEXT NOT NULL, failure TEXT NOT NULL)").finish();
        return;
    }
    if (to == 2) {
        // The number itself for queries by serial, and how long each board took.
        Exec("ALTER TABLE boards ADD COLUMN serial_number BIGINT").finish();
        Exec("ALTER TABLE boards ADD COLUMN duration_ms BIGINT NOT NULL DEFAULT 0").finish();
        std::vector<std::pair<qlonglong, qlonglong>> numbers;
        QSqlQuery q = Exec("SELECT id, serial FROM boards WHERE serial <> ''");
        while (q.next()) {
            bool ok = false;
            const qlonglong n = q.value(1).toString().toLongLong(&ok, 16);
            if (ok) numbers.emplace_back(q.value(0).toLongLong(), n);
        }
        q.finish();
        for (const auto& [id, n] : numbers)
            Exec("UPDATE boards SET serial_number = ? WHERE id = ?", {QVariant(n), QVariant(id)}).finish();
        Exec("CREATE INDEX boards_time ON boards (time_utc)").finish();
        Exec("CREATE INDEX boards_serial ON boards (serial_number)").finish();
        Exec("CREATE INDEX serial_numbers_state ON serial_numbers (pool, state)").finish();
        return;
    }
    throw EStoreError("Production store: no upgrade to schema version " + std::to_string(to));
}

void TSqlStore::CreatePool(const TSerialPoolRow& pool)
{
    if (pool.Name.empty()) throw EStoreError("A serial-number pool needs a name");
    if (pool.SizeBytes < 2 || pool.SizeBytes > 4) throw EStoreError("A serial number takes 2, 3 or 4 bytes");
    if (pool.Step < 1) throw EStoreError("A serial-number pool's step is at least 1");
    if (!FitsIn(pool.Start, pool.SizeBytes))
        throw EStoreError("The first number " + HexOf(pool.Start, pool.SizeBytes) + "h does not fit in " +
                          std::to_string(pool.SizeBytes) + " bytes");
    InTransaction([&] {
        QSqlQuery q = Exec("SELECT name FROM serial_pools WHERE name = ?", {V(pool.Name)});
        if (q.next()) throw EStoreError("Serial-number pool \"" + pool.Name + "\" already exists in " + Describe());
        q.finish();
        Exec("INSERT INTO serial_pools (name, first_number, size_bytes, location, step, next_number, created_utc) "
             "VALUES (?, ?, ?, ?, ?, ?, ?)",
             {V(pool.Name), V(pool.Start), QVariant(pool.SizeBytes), V(uint64_t{pool.Location}), V(pool.Step),
              V(pool.Start), V(UtcNow())})
            .finish();
    });
}

TSerialPoolRow TSqlStore::PoolFrom(const QSqlQuery& q)
{
    TSerialPoolRow row;
    row.Name = q.value(0).toString().toStdString();
    row.Start = static_cast<uint64_t>(q.value(1).toLongLong());
    row.SizeBytes = q.value(2).toInt();
    row.Location = static_cast<uint32_t>(q.value(3).toLongLong());
    row.Step = static_cast<uint64_t>(q.value(4).toLongLong());
    row.Next = static_cast<uint64_t>(q.value(5).toLongLong());
    row.Reserved = static_cast<uint64_t>(q.value(6).toLongLong());
    row.Committed = static_cast<uint64_t>(q.value(7).toLongLong());
    row.Released = static_cast<uint64_t>(q.value(8).toLongLong());
    row.Spoiled = static_cast<uint64_t>(q.value(9).toLongLong());
    return row;
}

namespace {
constexpr const char* kPoolSelect =
    "SELECT p.name, p.first_number, p.size_bytes, p.location, p.step, p.next_number, "
    "COALESCE(SUM(CASE WHEN n.state = 'reserved' THEN 1 ELSE 0 END), 0), "
    "COALESCE(SUM(CASE WHEN n.state = 'committed' THEN 1 ELSE 0 END), 0), "
    "COALESCE(SUM(CASE WHEN n.state = 'released' THEN 1 ELSE 0 END), 0), "
    "COALESCE(SUM(CASE WHEN n.state = 'spoiled' THEN 1 ELSE 0 END), 0) "
    "FROM serial_pools p LEFT JOIN serial_numbers n ON n.pool = p.name ";
constexpr const char* kPoolGroup = " GROUP BY p.name, p.first_number, p.size_bytes, p.location, p.step, p.next_number ORDER BY p.name";
}  // namespace

std::vector<TSerialPoolRow> TSqlStore::Pools()
{
    std::vector<TSerialPoolRow> rows;
    QSqlQuery q = Exec(QString(kPoolSelect) + kPoolGroup);
    while (q.next()) rows.push_back(PoolFrom(q));
    return rows;
}

std::optional<TSerialPoolRow> TSqlStore::FindPool(const std::string& name)
{
    QSqlQuery q = Exec(QString(kPoolSelect) + "WHERE p.name = ?" + kPoolGroup, {V(name)});
    if (!q.next()) return std::nullopt;
    return PoolFrom(q);
}

uint64_t TSqlStore::Reserve(const std::string& pool, const std::string& station, const std::string& box)
{
    uint64_t number = 0;
    InTransaction([&] {
        // PostgreSQL: the pool's row lock makes the stations take their turns here.
        QSqlQuery p = Exec(QString("SELECT size_bytes, step, next_number FROM serial_pools WHERE name = ?") +
                               (pg_ ? " FOR UPDATE" : ""),
                           {V(pool)});
        if (!p.next()) throw EStoreError("No serial-number pool \"" + pool + "\" in " + Describe());
        const int size = p.value(0).toInt();
        const uint64_t step = static_cast<uint64_t>(p.value(1).toLongLong());
        const uint64_t next = static_cast<uint64_t>(p.value(2).toLongLong());
        p.finish();
        QSqlQuery r = Exec("SELECT MIN(number) FROM serial_numbers WHERE pool = ? AND state = 'released'", {V(pool)});
        const bool reuse = r.next() && !r.value(0).isNull();
        if (reuse) number = static_cast<uint64_t>(r.value(0).toLongLong());
        r.finish();
        if (reuse) {
            Exec("UPDATE serial_numbers SET state = 'reserved', station = ?, box = ?, changed_utc = ? "
                 "WHERE pool = ? AND number = ?",
                 {V(station), V(box), V(UtcNow()), V(pool), V(number)})
                .finish();
            return;
        }
        if (!FitsIn(next, size))
            throw EStoreError("Serial number does not fit in the chosen size! - pool \"" + pool + "\" is used up: " +
                              HexOf(next, size) + "h needs more than " + std::to_string(size) + " bytes");
        number = next;
        Exec("UPDATE serial_pools SET next_number = ? WHERE name = ?", {V(next + step), V(pool)}).finish();
        Exec("INSERT INTO serial_numbers (pool, number, state, station, box, changed_utc) VALUES (?, ?, 'reserved', ?, ?, ?)",
             {V(pool), V(number), V(station), V(box), V(UtcNow())})
            .finish();
    });
    return number;
}

void TSqlStore::FinishBoard(const TStoredBoard& b, std::optional<uint64_t> number, TSerialFate fate)
{
    const char* state = fate == TSerialFate::Committed ? "committed" : fate == TSerialFate::Released ? "released" : "spoiled";
    InTransaction([&] {
        if (number)
            // Only a number still reserved changes: one spoiled meanwhile stays spoiled.
            Exec("UPDATE serial_numbers SET state = ?, changed_utc = ? WHERE pool = ? AND number = ? AND state = 'reserved'",
                 {QVariant(state), V(UtcNow()), V(b.Pool), V(*number)})
                .finish();
        std::vector<QVariant> values = {V(b.TimeUtc.empty() ? UtcNow() : b.TimeUtc), V(b.Station), V(b.Operator),
                                        V(b.Box), V(b.Port), V(b.Device), V(b.Image), V(b.ImageSize), V(b.ImageCrc32),
                                        b.OptionByte < 0 ? QVariant() : QVariant(b.OptionByte),
                                        b.Pool.empty() ? QVariant() : V(b.Pool), V(b.Serial), V(b.Steps), V(b.Result),
                                        V(b.Failure)};
        QString columns = "time_utc, station, operator, box, port, device, image, image_size, image_crc32, option_byte, "
                          "pool, serial, steps, result, failure";
        QString marks = "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?";
        if (version_ >= 2) {
            columns += ", serial_number, duration_ms";
            marks += ", ?, ?";
            values.push_back(b.SerialNumber < 0 ? QVariant() : V(b.SerialNumber));
            values.push_back(V(b.DurationMs));
        }
        Exec("INSERT INTO boards (" + columns + ") VALUES (" + marks + ")", values).finish();
    });
}

uint64_t TSqlStore::SpoilAbandoned(const std::string& pool, const std::string& station, const std::string& box)
{
    uint64_t count = 0;
    InTransaction([&] {
        QSqlQuery q = Exec("UPDATE serial_numbers SET state = 'spoiled', changed_utc = ? "
                           "WHERE pool = ? AND station = ? AND box = ? AND state = 'reserved'",
                           {V(UtcNow()), V(pool), V(station), V(box)});
        count = static_cast<uint64_t>(std::max(0, q.numRowsAffected()));
    });
    return count;
}

std::vector<uint64_t> TSqlStore::Numbers(const std::string& pool, const std::string& state)
{
    std::vector<uint64_t> numbers;
    QSqlQuery q = Exec("SELECT number FROM serial_numbers WHERE pool = ? AND state = ? ORDER BY number",
                       {V(pool), V(state)});
    while (q.next()) numbers.push_back(static_cast<uint64_t>(q.value(0).toLongLong()));
    return numbers;
}

QString TSqlStore::Where(const TRecordFilter& f, std::vector<QVariant>& values) const
{
    QStringList terms;
    if (!f.Since.empty()) {
        terms << "time_utc >= ?";
        values.push_back(V(f.Since));
    }
    if (!f.Until.empty()) {
        // Times are ISO text and compare as such: a date alone takes in its whole day.
        terms << "time_utc <= ?";
        values.push_back(V(f.Until.size() == 10 ? f.Until + "T23:59:59Z" : f.Until));
    }
    if (!f.Station.empty()) {
        terms << "station = ?";
        values.push_back(V(f.Station));
    }
    if (f.SerialNumber >= 0) {
        terms << "serial_number = ?";
        values.push_back(V(f.SerialNumber));
    }
    return terms.isEmpty() ? QString() : " WHERE " + terms.join(" AND ");
}

std::vector<TStoredBoard> TSqlStore::Records(const TRecordFilter& filter)
{
    std::vector<QVariant> values;
    const QString where = Where(filter, values);
    QSqlQuery q = Exec("SELECT id, time_utc, station, operator, box, port, device, image, image_size, image_crc32, "
                       "option_byte, pool, serial, serial_number, steps, result, failure, duration_ms FROM boards" +
                           where + " ORDER BY id",
                       values);
    std::vector<TStoredBoard> rows;
    while (q.next()) {
        TStoredBoard b;
        int i = 0;
        auto text = [&] { return q.value(i++).toString().toStdString(); };
        auto number = [&](int64_t none) {
            const QVariant v = q.value(i++);
            return v.isNull() ? none : static_cast<int64_t>(v.toLongLong());
        };
        b.Id = number(0);
        b.TimeUtc = text();
        b.Station = text();
        b.Operator = text();
        b.Box = text();
        b.Port = text();
        b.Device = text();
        b.Image = text();
        b.ImageSize = number(0);
        b.ImageCrc32 = text();
        b.OptionByte = static_cast<int>(number(-1));
        b.Pool = text();
        b.Serial = text();
        b.SerialNumber = number(-1);
        b.Steps = text();
        b.Result = text();
        b.Failure = text();
        b.DurationMs = number(0);
        rows.push_back(std::move(b));
    }
    return rows;
}

std::vector<TDaySummary> TSqlStore::Summary(const TRecordFilter& filter)
{
    std::vector<QVariant> values;
    const QString where = Where(filter, values);
    QSqlQuery q = Exec("SELECT substr(time_utc, 1, 10), station, COUNT(*), "
                       "SUM(CASE WHEN result = 'ok' THEN 1 ELSE 0 END) FROM boards" +
                           where + " GROUP BY substr(time_utc, 1, 10), station ORDER BY 1, 2",
                       values);
    std::vector<TDaySummary> rows;
    while (q.next()) {
        TDaySummary d;
        d.Day = q.value(0).toString().toStdString();
        d.Station = q.value(1).toString().toStdString();
        d.Boards = q.value(2).toLongLong();
        d.Passed = q.value(3).toLongLong();
        d.Failed = d.Boards - d.Passed;
        rows.push_back(d);
    }
    return rows;
}

}  // namespace

std::unique_ptr<IProductionStore> OpenProductionStore(const std::string& location, int schemaVersion)
{
    const TStoreLocation where = ParseStoreLocation(location);
    if (where.Kind == TStoreLocation::kSqlite) {
        const QString folder = QFileInfo(Q(where.Path)).absolutePath();
        if (!QDir().mkpath(folder)) throw EStoreError("Production store " + where.Path + ": cannot create its folder");
    }
    return std::make_unique<TSqlStore>(where, schemaVersion);
}

std::string DefaultStorePath()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return (data + "/zemprix/production.sqlite").toStdString();
}
