#include "store/settings.h"

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

std::string TISPSettings::ExactKey(const std::string& section, const std::string& ident)
{
    return section + '\x1f' + ident;
}

std::string TISPSettings::FoldedKey(const std::string& section, const std::string& ident)
{
    return hex::ToUpper(section) + '\x1f' + hex::ToUpper(ident);
}

void TISPSettings::Append(TSetting setting)
{
    const size_t index = settings_.size();
    lastExact_[ExactKey(setting.Section, setting.Ident)] = index;
    firstFolded_.emplace(FoldedKey(setting.Section, setting.Ident), index);
    settings_.push_back(std::move(setting));
}

void TISPSettings::Reindex()
{
    lastExact_.clear();
    firstFolded_.clear();
    for (size_t i = 0; i < settings_.size(); ++i) {
        lastExact_[ExactKey(settings_[i].Section, settings_[i].Ident)] = i;
        firstFolded_.emplace(FoldedKey(settings_[i].Section, settings_[i].Ident), i);
    }
}

void TISPSettings::Dropped(uint8_t group, const std::string& section) { dropped_[group].insert(hex::ToUpper(section)); }

void TISPSettings::Put(const std::string& section, const std::string& ident, uint8_t group,
                       const TSettingValue& value)
{
    changed_.insert(FoldedKey(section, ident));
    if (auto it = lastExact_.find(ExactKey(section, ident)); it != lastExact_.end()) {
        settings_[it->second].Value = value;
        return;
    }
    Append(TSetting{section, ident, group, value});
}

TSettingValue TISPSettings::Get(const std::string& section, const std::string& ident,
                                const TSettingValue& fallback) const
{
    auto it = firstFolded_.find(FoldedKey(section, ident));
    return it == firstFolded_.end() ? fallback : settings_[it->second].Value;
}

void TISPSettings::DeleteGroup(uint8_t group)
{
    for (const auto& s : settings_)
        if (s.Group == group) Dropped(group, s.Section);
    settings_.erase(std::remove_if(settings_.begin(), settings_.end(),
                                   [&](const TSetting& s) { return s.Group == group; }),
                    settings_.end());
    Reindex();
}

void TISPSettings::DeleteSection(uint8_t group, const std::string& section)
{
    Dropped(group, section);
    settings_.erase(std::remove_if(settings_.begin(), settings_.end(),
                                   [&](const TSetting& s) { return s.Group == group && s.Section == section; }),
                    settings_.end());
    Reindex();
}

void TISPSettings::MoveSection(const std::string& section, uint8_t group)
{
    for (auto& s : settings_)
        if (s.Section == section) {
            if (s.Group != group) Dropped(s.Group, s.Section);
            s.Group = group;
            changed_.insert(FoldedKey(s.Section, s.Ident));
        }
}

void TISPSettings::Load(const std::string& keyPath, uint8_t group, bool iniFile)
{
    DeleteGroup(group);
    dropped_.erase(group);
    origin_[group] = hex::ToUpper(keyPath) + (iniFile ? "\x1fini" : "");
    if (!backend_) return;
    for (const auto& section : backend_->ReadKey(keyPath, iniFile))
        for (const auto& [ident, value] : section.values)
            if (!value.empty()) {
                if (auto it = lastExact_.find(ExactKey(section.name, ident)); it != lastExact_.end())
                    settings_[it->second].Value = TSettingValue(value);
                else
                    Append(TSetting{section.name, ident, group, TSettingValue(value)});
                changed_.erase(FoldedKey(section.name, ident));
            }
}

namespace {

using Sections = std::vector<ISettingsBackend::Section>;

// Sections by folded name, and idents by folded name within each, over a list kept in order.
struct TSectionIndex {
    Sections& list;
    std::unordered_map<std::string, size_t> sections;
    std::vector<std::unordered_map<std::string, size_t>> idents;

    explicit TSectionIndex(Sections& l) : list(l)
    {
        for (size_t i = 0; i < list.size(); ++i) {
            sections.emplace(hex::ToUpper(list[i].name), i);
            idents.emplace_back();
            for (size_t k = 0; k < list[i].values.size(); ++k)
                idents[i].emplace(hex::ToUpper(list[i].values[k].first), k);
        }
    }
    // A later value for the same ident overwrites the earlier one, as in the registry.
    void Set(const std::string& section, const std::string& ident, const std::string& value)
    {
        auto [it, added] = sections.emplace(hex::ToUpper(section), list.size());
        if (added) {
            list.push_back({section, {}});
            idents.emplace_back();
        }
        const size_t si = it->second;
        auto [v, fresh] = idents[si].emplace(hex::ToUpper(ident), list[si].values.size());
        if (fresh)
            list[si].values.emplace_back(ident, value);
        else
            list[si].values[v->second].second = value;
    }
};

}  // namespace

void TISPSettings::Save(const std::string& keyPath, uint8_t group, bool iniFile)
{
    if (!backend_) return;
    const std::string origin = hex::ToUpper(keyPath) + (iniFile ? "\x1fini" : "");
    const auto from = origin_.find(group);
    // Sections and idents that differ only in case are one key and one value, as in the registry;
    // otherwise a case-sensitive store keeps both and a later load finds the stale one.
    if (from == origin_.end() || from->second != origin) {
        // A group saved under another key than it came from is written whole.
        Sections sections;
        TSectionIndex index(sections);
        for (const auto& s : settings_)
            if (s.Group == group) index.Set(s.Section, s.Ident, s.Value.AsString());
        backend_->WriteKey(keyPath, sections, iniFile);
    } else {
        // The key as it is now, with this program's own changes applied: another program's
        // changes to other sections or idents since this one loaded the key stay.
        const std::set<std::string> dropped = dropped_[group];
        backend_->UpdateKey(keyPath, [&](Sections& current) {
            if (!dropped.empty())
                current.erase(std::remove_if(current.begin(), current.end(),
                                             [&](const auto& sec) { return dropped.count(hex::ToUpper(sec.name)) != 0; }),
                              current.end());
            TSectionIndex index(current);
            for (const auto& s : settings_)
                if (s.Group == group && changed_.count(FoldedKey(s.Section, s.Ident)))
                    index.Set(s.Section, s.Ident, s.Value.AsString());
        }, iniFile);
    }
    origin_[group] = origin;
    dropped_.erase(group);
    for (const auto& s : settings_)
        if (s.Group == group) changed_.erase(FoldedKey(s.Section, s.Ident));
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
