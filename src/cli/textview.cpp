#include "textview.h"

#include "base/hextext.h"
#include "utf8.h"

std::string PrintableText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8SequenceLength(text, i);
        if (length > 1) {
            out.append(text, i, length);
            i += length;
        } else if (length == 1 && c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else {
            out += "\\x" + hex::Hex2(c);
            ++i;
        }
    }
    return out;
}

void TTextView::AppendLog(const std::string& line)
{
    lines_.push_back(line);
    err_ << PrintableText(line) << '\n';
    err_.flush();
}

void TTextView::ShowStatus(const std::string& prefixedText)
{
    const size_t bar = prefixedText.find('|');
    if (bar == 1) {
        lastKind_ = prefixedText.substr(0, 1);
        lastStatus_ = prefixedText.substr(2);
    } else {
        lastKind_.clear();
        lastStatus_ = prefixedText;
    }
}

void TTextView::ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                          const std::vector<std::string>& lines)
{
    report_ = {"ZEMPRIX Version: " + softwareVersion, "COP8 Firmware Revision: " + firmware};
    report_.insert(report_.end(), lines.begin(), lines.end());
}
