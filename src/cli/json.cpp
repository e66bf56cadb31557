#include "json.h"

#include "image/hextext.h"

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) out += "\\u" + hex::Hex4(c);
            else out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& rawValues)
{
    std::string out = "[";
    for (size_t i = 0; i < rawValues.size(); ++i) out += (i ? "," : "") + rawValues[i];
    return out + "]";
}

std::string JsonStringArray(const std::vector<std::string>& texts)
{
    std::vector<std::string> raw;
    for (const auto& t : texts) raw.push_back(JsonString(t));
    return JsonArray(raw);
}

void TJsonObject::SetRaw(const std::string& key, const std::string& rawJson)
{
    for (auto& member : members_)
        if (member.first == key) {
            member.second = rawJson;
            return;
        }
    members_.emplace_back(key, rawJson);
}

std::string TJsonObject::Text() const
{
    std::string out = "{";
    for (size_t i = 0; i < members_.size(); ++i) out += (i ? "," : "") + JsonString(members_[i].first) + ":" + members_[i].second;
    return out + "}";
}
