#pragma once
// The persistent settings backend over QSettings: organisation "morvel", application "ZEMPRIX",
// native format (the registry on Windows, an INI file under the XDG config directory on Linux).
// ZEMPRIX_SETTINGS_DIR, or an explicit directory, puts an INI file there instead so that tests and
// scripts never touch a user's own settings.
#include <string>

#include "store/settings.h"

class TQSettingsBackend final : public ISettingsBackend {
public:
    // An empty directory means: ZEMPRIX_SETTINGS_DIR when set, else the native location.
    explicit TQSettingsBackend(std::string directory = {});
    std::vector<Section> ReadKey(const std::string& keyPath, bool iniFile) override;
    void WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool iniFile) override;
    std::vector<std::string> SubKeys(const std::string& keyPath) override;
    void DeleteKey(const std::string& keyPath) override;
    void UpdateKey(const std::string& keyPath, const std::function<void(std::vector<Section>&)>& change,
                   bool iniFile) override;
    std::string KeepCorruptCopy() override;
    // Where the settings live (a file path, or the registry key on Windows).
    std::string Location() const;

private:
    std::string directory_;
    bool corruptKept_ = false;  // the next save replaces the corrupt file, of which a copy is kept
};
