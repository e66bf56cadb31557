#include "textview.h"

void TTextView::AppendLog(const std::string& line)
{
    lines_.push_back(line);
    err_ << line << '\n';
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
