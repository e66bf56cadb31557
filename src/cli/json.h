#pragma once
// Just enough JSON for the CLI's one result object: members keep the order they were set in.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

std::string JsonString(const std::string& text);
std::string JsonArray(const std::vector<std::string>& rawValues);
std::string JsonStringArray(const std::vector<std::string>& texts);

class TJsonObject {
public:
    void Set(const std::string& key, const std::string& text) { SetRaw(key, JsonString(text)); }
    void Set(const std::string& key, const char* text) { SetRaw(key, JsonString(text)); }
    void Set(const std::string& key, int64_t value) { SetRaw(key, std::to_string(value)); }
    void Set(const std::string& key, int value) { SetRaw(key, std::to_string(value)); }
    void Set(const std::string& key, bool value) { SetRaw(key, value ? "true" : "false"); }
    void Set(const std::string& key, const TJsonObject& object) { SetRaw(key, object.Text()); }
    // Replaces a member of the same key in place, else appends.
    void SetRaw(const std::string& key, const std::string& rawJson);
    std::string Text() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;
};
