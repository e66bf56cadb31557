#pragma once
// The exceptions through which every programmer operation reports failure. The shell tells
// them apart by class; each carries a fixed English message. Nothing here may pull in the link.
#include <stdexcept>
#include <string>

// The general exception class every system exception derives from.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// The silent abort: a cancelled setup dialog. The exception handler never reports it.
class EAbort : public Exception {
public:
    explicit EAbort(const std::string& message = "Cancelled") : Exception(message) {}
};

class EISPException : public Exception {
public:
    // showBox asks for an error box before raising; every caller passes false, so it is only kept.
    EISPException(const std::string& message, bool showBox = false, std::string hardwareName = {})
        : Exception(message), showBox_(showBox), hardwareName_(std::move(hardwareName)) {}
    const std::string& HardwareName() const { return hardwareName_; }
    bool ShowBox() const { return showBox_; }

private:
    bool showBox_;
    std::string hardwareName_;
};

class EVerifyError : public Exception {
public:
    using Exception::Exception;
};

class EFirmwareMisMatch : public Exception {
public:
    using Exception::Exception;
};

class EAbortOp : public Exception {
public:
    explicit EAbortOp(const std::string& message = "Operation Aborted") : Exception(message) {}
};

class ETargetNotFound : public Exception {
public:
    using Exception::Exception;
};

// Raised by the serial transport: the port could not be opened ...
class ESerialOpenError : public Exception {
public:
    using Exception::Exception;
};

// The parallel port could not be opened (missing, no access, held by another program).
class ELptOpenError : public EISPException {
public:
    using EISPException::EISPException;
};

// ... or failed while in use.
class ESerialError : public Exception {
public:
    using Exception::Exception;
};
