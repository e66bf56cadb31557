#pragma once
// Fresh production stores for the tests: an SQLite file in a temporary folder, or a database of
// its own on the PostgreSQL server the test run started (tests/store/pg_server.sh, a CTest
// fixture). Without that server the PostgreSQL tests fail: they are never skipped.
#include <QTemporaryDir>
#include <ostream>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "test_support.h"

enum class TEngine { Sqlite, Postgres };

inline const char* EngineName(TEngine engine) { return engine == TEngine::Sqlite ? "Sqlite" : "Postgres"; }

// The state file of the test run's server, set by CTest.
inline std::string PgState()
{
    const char* state = std::getenv("ZEMPRIX_TEST_PG_STATE");
    return state ? state : "";
}

// A new, empty store's location. `tmp` holds an SQLite file.
inline std::string NewStore(TEngine engine, const QTemporaryDir& tmp, const std::string& tag)
{
    if (engine == TEngine::Sqlite) return tmp.path().toStdString() + "/" + tag + ".sqlite";
    const std::string db = "t_" + std::to_string(getpid()) + "_" + tag + "_" +
                           tmp.path().section('/', -1).toLower().remove('-').remove('.').toStdString();
    std::string url = CommandOutput(std::string(ZEMPRIX_STORE_TESTS_DIR) + "/pg_server.sh createdb '" + PgState() +
                                    "' '" + db + "'");
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
    return url;
}

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "store/productionstore.h"

// Runs one statement on the store behind the program's back (as an older or newer program
// would); returns the first column of the first row, or the error text.
inline std::string RawSql(const std::string& location, const std::string& sql)
{
    const TStoreLocation where = ParseStoreLocation(location);
    std::string result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(where.Kind == TStoreLocation::kSqlite ? "QSQLITE" : "QPSQL", "raw");
        if (where.Kind == TStoreLocation::kSqlite) {
            db.setDatabaseName(QString::fromStdString(where.Path));
        } else {
            db.setHostName(QString::fromStdString(where.Host));
            db.setUserName(QString::fromStdString(where.User));
            db.setDatabaseName(QString::fromStdString(where.Database));
        }
        if (!db.open()) return "open: " + db.lastError().text().toStdString();
        QSqlQuery q(db);
        if (!q.exec(QString::fromStdString(sql))) result = "error: " + q.lastError().text().toStdString();
        else if (q.next()) result = q.value(0).toString().toStdString();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase("raw");
    return result;
}

// Test names say the engine, not the enum's bytes.
inline void PrintTo(TEngine engine, std::ostream* out) { *out << EngineName(engine); }
