#pragma once
// Replacing a file's contents as one step, for every file the program writes whole (hex files,
// the settings file): at any moment, a killed process included, the file holds its complete old
// or its complete new contents.
#include <string>

#include "base/isperrors.h"

namespace atomicfile {

// The system's reason alone ("Permission denied"); the caller adds the file name.
class EReplaceFailed : public Exception {
public:
    using Exception::Exception;
};

// Makes `text` the contents of the file. A regular file (or a new one) is written beside the
// target under a temporary name, put on disk and renamed over it; it keeps its old permissions.
// A pipe or a device is written into instead. Raises EReplaceFailed.
void ReplaceContents(const std::string& fileName, const std::string& text);

// Raises EReplaceFailed when ReplaceContents of `fileName` would fail for want of access: a
// folder, a file the user may not write, a missing or read-only folder. Writes nothing.
void CheckReplaceable(const std::string& fileName);

// The temporary name the save of `target` tries as its attempt-th choice: the target's own
// name followed by ".~", the process id (8 hex digits) and the attempt (4 hex digits).
std::string TemporaryName(const std::string& target, unsigned attempt);

}  // namespace atomicfile
