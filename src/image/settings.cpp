#include "image/settings.h"

#include <algorithm>
#include <charconv>

#include "base/hextext.h"

std::string TSettingValue::AsString() const
{
    if (auto i = std::get_if<int64_t>(&v_)) return std::to_string(*i);
    if (auto b = std::get_if<bool>(&v_)) return *b ? "True" : "False";
    return std::get<std::string>(v_);
}

int64_t TSettingValue::AsInteger(int64_t fallback) const
{
    if (auto i = std::get_if<int64_t>(&v_)) return *i;
    if (auto b = std::get_if<bool>(&v_)) return *b ? -1 : 0;
    const std::string& s = std::get<std::string>(v_);
    if (hex::SameText(s, "True")) return -1;
    if (hex::SameText(s, "False")) return 0;
    int64_t v = 0;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    while (first < last && *first == ' ') ++first;
    if (first < last && *first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last || first == last) return fallback;
    return v;
}

bool TSettingValue::AsBoolean(bool fallback) const
{
    if (auto b = std::get_if<bool>(&v_)) return *b;
    if (auto i = std::get_if<int64_t>(&v_)) return *i != 0;
    const std::string& s = std::get<std::string>(v_);
    if (hex::SameText(s, "True")) return true;
    if (hex::SameText(s, "False")) return false;
    const int64_t sentinel = INT64_MIN;
    int64_t v = AsInteger(sentinel);
    return v == sentinel ? fallback : v != 0;
}

void TISPSettings::Put(const std::string& section, const std::string& ident, uint8_t group,
                       const TSettingValue& value)
{
    for (auto it = settings_.rbegin(); it != settings_.rend(); ++it) {
        if (it->Section == section && it->Ident == ident) {
            it->Value = value;
            return;
        }
    }
    settings_.push_back(TSetting{section, ident, group, value});
}

TSettingValue TISPSettings::Get(const std::string& section, const std::string& ident,
                                const TSettingValue& fallback) const
{
    for (const auto& s : settings_)
        if (hex::SameText(s.Section, section) && hex::SameText(s.Ident, ident)) return s.Value;
    return fallback;
}

void TISPSettings::DeleteGroup(uint8_t group)
{
    settings_.erase(std::remove_if(settings_.begin(), settings_.end(),
                                   [&](const TSetting& s) { return s.Group == group; }),
                    settings_.end());
}

void TISPSettings::DeleteSection(uint8_t group, const std::string& section)
{
    settings_.erase(std::remove_if(settings_.begin(), settings_.end(),
                                   [&](const TSetting& s) { return s.Group == group && s.Section == section; }),
                    settings_.end());
}

void TISPSettings::MoveSection(const std::string& section, uint8_t group)
{
    for (auto& s : settings_)
        if (s.Section == section) s.Group = group;
}

void TISPSettings::Load(const std::string& keyPath, uint8_t group, bool iniFile)
{
    DeleteGroup(group);
    if (!backend_) return;
    for (const auto& section : backend_->ReadKey(keyPath, iniFile))
        for (const auto& [ident, value] : section.values)
            if (!value.empty()) Put(section.name, ident, group, TSettingValue(value));
}

void TISPSettings::Save(const std::string& keyPath, uint8_t group, bool iniFile)
{
    if (!backend_) return;
    std::vector<ISettingsBackend::Section> sections;
    for (const auto& s : settings_) {
        if (s.Group != group) continue;
        // Sections and idents that differ only in case are one key and one value, as in the
        // registry; otherwise a case-sensitive store keeps both and a later load finds the stale one.
        auto it = std::find_if(sections.begin(), sections.end(),
                               [&](const ISettingsBackend::Section& x) { return hex::SameText(x.name, s.Section); });
        if (it == sections.end()) {
            sections.push_back({s.Section, {}});
            it = sections.end() - 1;
        }
        // A later entry with the same ident overwrites the earlier value, as in the registry.
        auto v = std::find_if(it->values.begin(), it->values.end(),
                              [&](const auto& p) { return hex::SameText(p.first, s.Ident); });
        if (v != it->values.end())
            v->second = s.Value.AsString();
        else
            it->values.emplace_back(s.Ident, s.Value.AsString());
    }
    backend_->WriteKey(keyPath, sections, iniFile);
}

// ---- in-memory backend ----

std::vector<ISettingsBackend::Section> TMemorySettingsBackend::ReadKey(const std::string& keyPath, bool)
{
    for (const auto& [path, sections] : keys_)
        if (hex::SameText(path, keyPath)) return sections;
    keys_.emplace_back(keyPath, std::vector<Section>{});
    return {};
}

void TMemorySettingsBackend::WriteKey(const std::string& keyPath, const std::vector<Section>& sections, bool)
{
    for (auto& [path, existing] : keys_)
        if (hex::SameText(path, keyPath)) {
            existing = sections;
            return;
        }
    keys_.emplace_back(keyPath, sections);
}

std::vector<std::string> TMemorySettingsBackend::SubKeys(const std::string& keyPath)
{
    std::vector<std::string> names;
    const std::string prefix = hex::ToUpper(keyPath) + "\\";
    for (const auto& [path, sections] : keys_) {
        std::string up = hex::ToUpper(path);
        if (up.compare(0, prefix.size(), prefix) == 0) {
            std::string rest = path.substr(prefix.size());
            rest = rest.substr(0, rest.find('\\'));
            if (std::find(names.begin(), names.end(), rest) == names.end()) names.push_back(rest);
        }
    }
    return names;
}

void TMemorySettingsBackend::DeleteKey(const std::string& keyPath)
{
    const std::string up = hex::ToUpper(keyPath);
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(),
                               [&](const auto& k) {
                                   std::string p = hex::ToUpper(k.first);
                                   return p == up || p.compare(0, up.size() + 1, up + "\\") == 0;
                               }),
                keys_.end());
}
