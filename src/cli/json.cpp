#include "json.h"

#include "base/hextext.h"
#include "utf8.h"

// Bytes that are not UTF-8 (a file name in another encoding, noise from the box) become U+FFFD,
// so the output is always valid JSON text.
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
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
