#include "textview.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <ctime>

#include "base/hextext.h"
#include "json.h"
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

namespace {

// -q keeps the failures, and with them the lines that say what failed: each differing byte of a
// verification and the summary of them.
bool KeptWhenQuiet(const std::string& line, const char* kind)
{
    return std::string(kind) == "failed" || line.rfind("Verify Failed at ", 0) == 0 ||
           line.rfind("Verify summary: ", 0) == 0;
}

}  // namespace

void TTextView::AppendLog(const std::string& line)
{
    if (beforeLine_) beforeLine_();
    const char* kind = "raw";
    if (pendingKind_ == sk_completed) kind = "completed";
    if (pendingKind_ == sk_started) kind = "started";
    if (pendingKind_ == sk_failed) kind = "failed";
    pendingKind_ = sk_none;
    if (gangFd_ >= 0) {
        const std::string text = PrintableText(line) + '\n';
        const ssize_t written = write(gangFd_, text.data(), text.size());
        (void)written;
    }
    Write(line, kind);
}

void TTextView::AppendTrace(const std::string& line) { Write(line, "raw"); }

void TTextView::Write(const std::string& line, const char* kind)
{
    lines_.push_back(line);
    WriteLogFile(line);
    if (output_.Json) {
        TJsonObject o;
        o.Set("type", "status");
        o.Set("kind", kind);
        o.Set("text", line);
        o.Set("port", output_.Port);
        EmitJson(o.Text());
        return;
    }
    if (output_.Quiet && !KeptWhenQuiet(line, kind)) return;
    const std::string k = kind;
    const char* colour = !output_.Colour ? nullptr : k == "failed" ? "\x1b[31m" : k == "completed" ? "\x1b[32m" : nullptr;
    if (colour)
        err_ << colour << PrintableText(line) << "\x1b[0m\n";
    else
        err_ << PrintableText(line) << '\n';
    err_.flush();
}

bool TTextView::ColourWanted(int fd)
{
    // NO_COLOR counts when it is set and not empty.
    if (const char* no = std::getenv("NO_COLOR"); no && *no) return false;
    const char* term = std::getenv("TERM");
    if (!term || std::string(term) == "dumb") return false;
    return isatty(fd) == 1;
}

void TTextView::EmitJson(const std::string& objectText)
{
    err_ << objectText << '\n';
    err_.flush();
}

void TTextView::ShowProgress(int32_t position, int32_t maximum, const std::string& caption)
{
    (void)caption;
    if (!output_.Json || maximum <= 1) return;
    // One line per percent is enough to follow; more would only flood the reader.
    const int percent = static_cast<int>(100LL * std::max(0, position) / maximum);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    TJsonObject o;
    o.Set("type", "progress");
    o.Set("position", static_cast<int64_t>(position));
    o.Set("maximum", static_cast<int64_t>(maximum));
    o.Set("port", output_.Port);
    EmitJson(o.Text());
}

void TTextView::WriteLogFile(const std::string& line)
{
    if (output_.LogFile.empty()) return;
    std::FILE* f = std::fopen(output_.LogFile.c_str(), "a");
    if (!f) return;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    // One write per line, so that lines of concurrent runs never interleave.
    const std::string port = logPort_.empty() ? std::string() : "[" + logPort_ + "] ";
    const std::string record = std::string(stamp) + ' ' + PrintableText(port + line) + '\n';
    std::fputs(record.c_str(), f);
    std::fclose(f);
}

void TTextView::ShowStatus(TStatusKind kind, const std::string& text)
{
    lastPercent_ = -1;
    lastKind_ = kind;
    pendingKind_ = kind;
    lastStatus_ = text;
}

void TTextView::ShowProgrammerInformation(const std::string& softwareVersion, const std::string& firmware,
                                          const std::vector<std::string>& lines)
{
    report_ = {"ZEMPRIX Version: " + softwareVersion, "COP8 Firmware Revision: " + firmware};
    report_.insert(report_.end(), lines.begin(), lines.end());
}
