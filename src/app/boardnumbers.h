#pragma once
// Production steps the window and zemprix-cli share around each board: the serial number placed
// just before its device steps (from a pool several boxes share, when there is one), and a Flash
// file that changed on disk since it was read.
#include <functional>
#include <memory>
#include <string>

#include "base/observers.h"

class TAppSession;
class TSerialPool;
struct TCommandContext;

// Each board gets the session's serial number placed into its image after the reload; with a
// pool the number is taken from it first, and a board that failed gives it back. A number past
// the chosen size is refused before anything is sent. The subscription keeps the bookkeeping.
[[nodiscard]] TSubscription NumberBoards(TAppSession& session, std::shared_ptr<TSerialPool> pool);

// Before a board: when the loaded Flash file changed on disk since it was read, `reload` (given
// its path) says whether to read it again. Yes reloads it whole; no keeps the image read before
// and takes the file as it is now, so the same change is not asked about twice. Either way a
// board never gets a mix of both. Nothing happens while the file is unchanged.
void ReloadIfChanged(TCommandContext& ctx, const std::function<bool(const std::string& path)>& reload);
