#include "app/boardnumbers.h"

#include "app/autoprogram.h"
#include "app/commands.h"
#include "app/session.h"
#include "base/isperrors.h"
#include "image/serialnum.h"
#include "store/serialpool.h"

TSubscription NumberBoards(TAppSession& s, std::shared_ptr<TSerialPool> pool)
{
    auto taken = std::make_shared<int64_t>(-1);
    s.AutoProgram().BeforeDeviceSteps = [&s, pool, taken] {
        if (pool) {
            *taken = static_cast<int64_t>(pool->Take());
            s.Serial().heCurrentSerial = static_cast<uint64_t>(*taken);
        }
        const std::string refusal = s.Serial().RefusalLine(s.Project().Flash);
        if (!refusal.empty()) throw EISPException(refusal);
        s.Serial().Button2Click(s.Project().Flash);
    };
    return s.AutoProgram().OnBoardDone.Subscribe([pool, taken](const TAutoProgram::TBoard& board) {
        if (pool && *taken >= 0 && !board.Ok) pool->Release(static_cast<uint64_t>(*taken));
        *taken = -1;
    });
}

void ReloadIfChanged(TCommandContext& ctx, const std::function<bool(const std::string& path)>& reload)
{
    if (!ctx.LoadedFile.Changed()) return;
    const std::string path = ctx.LoadedFile.Path;
    if (reload(path))
        commands::ReloadFlashFile(ctx);
    else
        ctx.LoadedFile = TFileStamp::Of(path);
}
