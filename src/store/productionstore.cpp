#include "store/productionstore.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int lo = hi >= 0 ? HexValue(text[i + 2]) : -1;
        if (lo < 0) throw EStoreError("Database URL: a bad %-escape in \"" + text + "\"");
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// The options libpq takes in a connection string that a station may need. A password is not
// among them, nor anything that would run a program or read a file beyond the TLS ones.
bool KnownOption(const std::string& key)
{
    static const char* const kKnown[] = {"host",         "hostaddr",    "port",    "dbname",  "user",
                                         "sslmode",      "sslrootcert", "sslcert", "sslkey",  "sslcrl",
                                         "connect_timeout", "application_name", "target_session_attrs",
                                         "keepalives", "keepalives_idle", "gssencmode", "passfile"};
    for (const char* k : kKnown)
        if (key == k) return true;
    return false;
}

int ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5) throw EStoreError("Database URL: bad port \"" + text + "\"");
    for (char c : text)
        if (c < '0' || c > '9') throw EStoreError("Database URL: bad port \"" + text + "\"");
    const int port = std::stoi(text);
    if (port < 1 || port > 65535) throw EStoreError("Database URL: bad port \"" + text + "\"");
    return port;
}

constexpr const char* kNoPassword =
    "Database URL: a password is never taken from the URL (it would show in the process list and "
    "the settings); put it in ~/.pgpass or PGPASSWORD";

}  // namespace

TStoreLocation ParseStoreLocation(const std::string& text)
{
    TStoreLocation where;
    std::string rest;
    for (const char* scheme : {"postgresql://", "postgres://"})
        if (text.rfind(scheme, 0) == 0) rest = text.substr(std::string(scheme).size());
    if (rest.empty() && text.find("://") == std::string::npos) {
        if (text.empty()) throw EStoreError("No database named");
        where.Path = text;
        return where;
    }
    if (rest.empty() && text.find("://") != std::string::npos && text.rfind("postgres", 0) != 0)
        throw EStoreError("Database URL \"" + text + "\": only postgresql:// URLs and SQLite file paths are known");
    where.Kind = TStoreLocation::kPostgres;
    std::string query;
    if (const size_t q = rest.find('?'); q != std::string::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    std::string authority = rest, path;
    if (const size_t slash = rest.find('/'); slash != std::string::npos) {
        authority = rest.substr(0, slash);
        path = rest.substr(slash + 1);
    }
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (userInfo.find(':') != std::string::npos) throw EStoreError(kNoPassword);
        where.User = PercentDecoded(userInfo);
    }
    // [v6 address]:port, name:port, or a %-escaped socket folder.
    std::string host = authority, port;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) throw EStoreError("Database URL: unclosed [ in \"" + text + "\"");
        port = close + 1 < host.size() && host[close + 1] == ':' ? host.substr(close + 2) : std::string();
        host = host.substr(1, close - 1);
    } else if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    where.Host = PercentDecoded(host);
    if (!port.empty()) where.Port = ParsePort(port);
    where.Database = PercentDecoded(path);
    size_t start = 0;
    while (start < query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        const std::string key = PercentDecoded(pair.substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : PercentDecoded(pair.substr(eq + 1));
        if (key == "password") throw EStoreError(kNoPassword);
        if (!KnownOption(key)) throw EStoreError("Database URL: unknown parameter \"" + key + "\"");
        // A value with a space or quote would end up as several settings of libpq's string.
        for (char c : value)
            if (std::isspace(static_cast<unsigned char>(c)) || c == '\'' || c == '\\' || c == ';')
                throw EStoreError("Database URL: parameter \"" + key + "\" holds a character it cannot pass on");
        if (key == "host") where.Host = value;
        else if (key == "port") where.Port = ParsePort(value);
        else if (key == "dbname") where.Database = value;
        else if (key == "user") where.User = value;
        else where.Options[key] = value;
    }
    return where;
}

std::string TStoreLocation::Display() const
{
    if (Kind == kSqlite) return Path;
    std::string text = "postgresql://" + (User.empty() ? "" : User + "@");
    const bool socket = !Host.empty() && Host[0] == '/';
    if (!socket) text += Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
    if (Port > 0) text += ":" + std::to_string(Port);
    text += "/" + Database;
    if (socket) text += "?host=" + Host;
    return text;
}

std::string StationName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

std::string OperatorName()
{
    if (const char* user = std::getenv("USER"); user && *user) return user;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
    return std::to_string(::getuid());
}

std::string UtcNow()
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return stamp;
}
