#pragma once
// The one in-memory settings store: sections of idents with values, split into a project group
// (0) and a global group (1), loaded from and saved to a persistent backend (the registry on
// Windows, an INI file elsewhere).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/isperrors.h"

// A setting's value: integer, boolean or string as put; always a string after a load.
class TSettingValue {
public:
    TSettingValue() : v_(std::string()) {}
    TSettingValue(int64_t v) : v_(v) {}
    TSettingValue(int v) : v_(static_cast<int64_t>(v)) {}
    TSettingValue(unsigned v) : v_(static_cast<int64_t>(v)) {}
    TSettingValue(bool v) : v_(v) {}
    TSettingValue(std::string v) : v_(std::move(v)) {}
    TSettingValue(const char* v) : v_(std::string(v)) {}

    bool IsString() const { return std::holds_alternative<std::string>(v_); }
    // Numbers in decimal, booleans as "True"/"False".
    std::string AsString() const;
    // Strings are parsed as decimal integers ("True"/"False" as -1/0); unparsable text gives fallback.
    int64_t AsInteger(int64_t fallback = 0) const;
    // "True"/"False" in any case, or a number (non-zero is true); anything else gives fallback.
    bool AsBoolean(bool fallback = false) const;

private:
    std::variant<int64_t, bool, std::string> v_;
};

struct TSetting {
    std::string Section;
    std::string Ident;
    uint8_t Group = 0;
    TSettingValue Value;
};

constexpr uint8_t kProjectGroup = 0;
constexpr uint8_t kGlobalGroup = 1;

// Where Load and Save keep the settings. A key path names a key below the application's root
// (for example "GLOBAL" or "PROJECTS\name"); its sections are subkeys holding string values.
class ISettingsBackend {
public:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> values;  // ident, value
    };
    virtual ~ISettingsBackend() = default;
    // Reads every section of the key (creating the key when missing). `iniFile` selects an INI
    // file named by keyPath instead of the native store.
    virtual std::vector<Section> ReadKey(const std::string& keyPath, bool iniFile) = 0;
    // Replaces the key's sections with `sections`, in one step as far as the store allows.
    virtual void WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool iniFile) = 0;
    // Names of the subkeys of a key, and removal of a key with everything below it.
    virtual std::vector<std::string> SubKeys(const std::string& keyPath) = 0;
    virtual void DeleteKey(const std::string& keyPath) = 0;
    // Reads the key as it is now, lets `change` edit its sections and writes the result, as one
    // step against other programs where the store can lock (the INI file does).
    virtual void UpdateKey(const std::string& keyPath, const std::function<void(std::vector<Section>&)>& change,
                           bool iniFile)
    {
        std::vector<Section> sections = ReadKey(keyPath, iniFile);
        change(sections);
        WriteKey(keyPath, sections, iniFile);
    }
    // A settings file that cannot be read as one is kept under a dated name beside it, so that
    // saving over it loses nothing; returns that name, or empty when nothing was kept.
    virtual std::string KeepCorruptCopy() { return {}; }
};

// The settings cannot be read: their file is malformed (the message names the file and the line),
// larger than kMaxSettingsFileBytes, or cannot be opened (the message gives the reason).
// The message ends with the command line's remedy; Problem() leaves it out, since the window
// does not take that switch and names its own.
class ESettingsCorrupt : public Exception {
public:
    ESettingsCorrupt(const std::string& problem, const std::string& remedy)
        : Exception(problem + "; " + remedy), problem_(problem)
    {
    }
    const std::string& Problem() const { return problem_; }

private:
    std::string problem_;
};

// A settings file above this size is refused unread.
constexpr int64_t kMaxSettingsFileBytes = 4 * 1024 * 1024;

// An in-memory backend for tests and for --no-settings runs.
class TMemorySettingsBackend final : public ISettingsBackend {
public:
    std::vector<Section> ReadKey(const std::string& keyPath, bool iniFile) override;
    void WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool iniFile) override;
    std::vector<std::string> SubKeys(const std::string& keyPath) override;
    void DeleteKey(const std::string& keyPath) override;

private:
    std::vector<std::pair<std::string, std::vector<Section>>> keys_;
};

class TISPSettings {
public:
    static constexpr const char* kGlobalKey = "GLOBAL";
    static constexpr const char* kProjectsKey = "PROJECTS";

    explicit TISPSettings(ISettingsBackend* backend = nullptr) : backend_(backend) {}
    void SetBackend(ISettingsBackend* backend) { backend_ = backend; }
    ISettingsBackend* Backend() const { return backend_; }

    void Put(const std::string& section, const std::string& ident, uint8_t group, const TSettingValue& value);
    TSettingValue Get(const std::string& section, const std::string& ident, const TSettingValue& fallback) const;
    void DeleteGroup(uint8_t group);
    void DeleteSection(uint8_t group, const std::string& section);
    void MoveSection(const std::string& section, uint8_t group);
    // Without a backend Load only clears the group and Save does nothing.
    void Load(const std::string& keyPath, uint8_t group, bool iniFile = false);
    void Save(const std::string& keyPath, uint8_t group, bool iniFile = false);

    const std::vector<TSetting>& Settings() const { return settings_; }

private:
    static std::string ExactKey(const std::string& section, const std::string& ident);
    static std::string FoldedKey(const std::string& section, const std::string& ident);
    void Append(TSetting setting);
    void Reindex();
    // A section left the group: a save of that group drops it from the stored key.
    void Dropped(uint8_t group, const std::string& section);

    ISettingsBackend* backend_;
    std::vector<TSetting> settings_;
    // Lookups in constant time, so that loading and saving stay linear in the number of keys.
    std::unordered_map<std::string, size_t> lastExact_;   // Put: the last entry, case-sensitive
    std::unordered_map<std::string, size_t> firstFolded_; // Get: the first entry, any case
    // What this program changed since each group was loaded or saved, so that a save applies
    // only its own changes to the key as it is now and keeps other programs' changes.
    std::set<std::string> changed_;                       // folded keys put
    std::map<uint8_t, std::set<std::string>> dropped_;    // folded section names per group
    std::map<uint8_t, std::string> origin_;               // the key each group came from
};
