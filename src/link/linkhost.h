#pragma once
// What a link needs from whoever runs it while it works: a message pump to stay responsive and
// the status log for raw lines. Links open no dialogs: they hand data to the session instead.
#include <string>

class ILinkHost {
public:
    virtual ~ILinkHost() = default;
    // Lets the user interface run pending events (repaints, the Abort button).
    virtual void PumpMessages() {}
    // Appends one raw line to the status log (no kind prefix, no time).
    virtual void AppendLog(const std::string& line) { (void)line; }
};

// A host that does nothing: no pumping, no log.
ILinkHost& NullLinkHost();
