#pragma once
// The production store: serial-number pools and one record per programmed board in a database,
// so that the stations of a line share one sequence and one place to ask what was programmed.
// SQLite (one file) serves a single PC; PostgreSQL serves a line. The engines sit behind Qt SQL
// in productionstore_qt.cpp; this interface is plain C++ for the application and the CLI.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Any failure of the store: an unreachable server, a refused schema, a missing pool, a
// number that no longer fits. The text says what and why, for a status line.
class EStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the store lives, as the user named it: a PostgreSQL URI or an SQLite file path.
struct TStoreLocation {
    enum TKind { kSqlite, kPostgres };
    TKind Kind = kSqlite;
    std::string Path;      // SQLite
    std::string Host;      // PostgreSQL: a name, an address or a socket folder; empty for libpq's default
    int Port = -1;
    std::string User;
    std::string Database;
    // Connection options libpq takes as they are (sslmode, connect_timeout, application_name...).
    std::map<std::string, std::string> Options;

    // For messages: never holds a password (none is ever accepted).
    std::string Display() const;
};

// Parses "postgresql://user@host:5432/line?host=/run/dir&sslmode=require" (also "postgres://")
// or takes any other text as an SQLite file path. Raises EStoreError for a URI it cannot use,
// one with a password among them: passwords come from the password file or PGPASSWORD, so that
// none sits in a command line, a process list or the settings file.
TStoreLocation ParseStoreLocation(const std::string& text);

struct TSerialPoolRow {
    std::string Name;
    uint64_t Start = 0;
    int SizeBytes = 2;
    uint32_t Location = 0;
    uint64_t Step = 1;
    uint64_t Next = 0;  // the next number never handed out
    // How many numbers are in each state.
    uint64_t Reserved = 0, Committed = 0, Released = 0, Spoiled = 0;
};

// What happens to a reserved number when its board is done.
enum class TSerialFate { Committed, Released, Spoiled };

struct TStoredBoard {
    int64_t Id = 0;
    std::string TimeUtc;  // "2026-12-11T03:04:05Z"
    std::string Station;  // host name
    std::string Operator; // login
    std::string Box;      // the programmer's identity
    std::string Port;
    std::string Device;
    std::string Image;
    int64_t ImageSize = 0;
    std::string ImageCrc32;
    int OptionByte = -1;  // -1 when unknown
    std::string Pool;
    std::string Serial;   // as the image holds it: upper-case hex; empty without one
    int64_t SerialNumber = -1;
    std::string Steps;
    std::string Result;   // "ok", "failed" or "verify failed"
    std::string Failure;
    int64_t DurationMs = 0;
};

struct TRecordFilter {
    std::string Since;    // "YYYY-MM-DD" or a UTC time; empty for no bound
    std::string Until;    // inclusive: a date means up to the day's end
    std::string Station;
    int64_t SerialNumber = -1;
};

struct TDaySummary {
    std::string Day;      // "YYYY-MM-DD", UTC
    std::string Station;
    int64_t Boards = 0, Passed = 0, Failed = 0;
    double YieldPercent() const { return Boards ? 100.0 * static_cast<double>(Passed) / static_cast<double>(Boards) : 0; }
};

class IProductionStore {
public:
    static constexpr int kSchemaVersion = 2;

    virtual ~IProductionStore() = default;
    virtual std::string Describe() const = 0;
    virtual int SchemaVersion() = 0;

    // Raises EStoreError for a name in use or values that make no pool.
    virtual void CreatePool(const TSerialPoolRow& pool) = 0;
    virtual std::vector<TSerialPoolRow> Pools() = 0;
    virtual std::optional<TSerialPoolRow> FindPool(const std::string& name) = 0;

    // The pool's next number for one board, in one transaction: the lowest released number, else
    // a new one. A number wider than the pool's size is refused and nothing is reserved.
    virtual uint64_t Reserve(const std::string& pool, const std::string& station, const std::string& box) = 0;
    // The board's record, and the fate of its reserved number (when it had one), in one transaction.
    virtual void FinishBoard(const TStoredBoard& board, std::optional<uint64_t> number, TSerialFate fate) = 0;
    // Numbers a station's box reserved in an earlier run that never finished (the program was
    // killed, the PC lost power): they may sit in a device, so they are spoiled. Returns how many.
    virtual uint64_t SpoilAbandoned(const std::string& pool, const std::string& station, const std::string& box) = 0;
    // Every number of the pool in the given state, lowest first.
    virtual std::vector<uint64_t> Numbers(const std::string& pool, const std::string& state) = 0;

    virtual std::vector<TStoredBoard> Records(const TRecordFilter& filter) = 0;
    virtual std::vector<TDaySummary> Summary(const TRecordFilter& filter) = 0;
};

// Connects (creating or upgrading the schema up to `schemaVersion`; tests build older ones). Any
// thread may use the store: each gets a connection of its own on its first call.
// Raises EStoreError with the reason: unreachable server, missing driver, newer schema.
std::unique_ptr<IProductionStore> OpenProductionStore(const std::string& location,
                                                      int schemaVersion = IProductionStore::kSchemaVersion);
// The SQLite file used when none is named: under the user's data folder.
std::string DefaultStorePath();

// What the store names a station, its operator and the time: host name, login, UTC now.
std::string StationName();
std::string OperatorName();
std::string UtcNow();
