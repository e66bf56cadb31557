// zemprix-cli: parse, resolve the target, run one command, report.
#include <QCoreApplication>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "cli.h"
#include "gang.h"
#include "store/qsettingsbackend.h"

namespace {

int Finish(TCliContext* context, const TCliOptions& options, int code, const std::string& error)
{
    if (!options.json && !options.progressJson) return code;
    TJsonObject fallback;
    TJsonObject& result = context ? context->Result() : fallback;
    result.Set("command", options.command);
    result.Set("ok", code == kExitOk);
    result.Set("exitCode", code);
    if (!error.empty()) result.Set("error", error);
    if (options.progressJson) {
        TJsonObject line;
        line.Set("type", "result");
        line.Set("port", options.port);
        line.Set("command", options.command);
        line.Set("ok", code == kExitOk);
        line.Set("exitCode", code);
        if (!error.empty()) line.Set("error", error);
        std::cerr << line.Text() << std::endl;
    }
    if (!options.json) return code;
    if (context) result.SetRaw("log", JsonStringArray(context->View().Lines()));
    std::cout << result.Text() << std::endl;
    return code;
}

// An error line of the program itself; in a gang's box also the box's last line for the table.
void PrintError(const std::string& message, bool tryHelp = false)
{
    std::cerr << "zemprix-cli: " << message << "\n" << (tryHelp ? "Try 'zemprix-cli --help'.\n" : "");
    ReportToGang("zemprix-cli: " + message);
}

// The parse stopped early, so the output options are looked for among the raw arguments: a script
// that asked for JSON gets its result object also for a mistake on the command line.
void OutputOptionsFromRaw(int argc, char** argv, TCliOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg == "--json") options.json = true;
        if (arg == "--progress=json" || (arg == "--progress" && i + 1 < argc && std::string(argv[i + 1]) == "json"))
            options.progressJson = true;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // The serial port's notifiers need an application object; no event loop runs.
    QCoreApplication application(argc, argv);

    TCliOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TUsageError& e) {
        PrintError(e.message, true);
        OutputOptionsFromRaw(argc, argv, options);
        return Finish(nullptr, options, kExitUsage, e.message);
    }
    if (options.help) {
        std::cout << HelpText();
        return kExitOk;
    }
    if (options.version) {
        std::cout << "zemprix-cli " << ZEMPRIX_FILE_VERSION << "\n";
        return kExitOk;
    }
    const TCliCommand* command = FindCommand(options.command);
    std::string usage;
    if (options.command.empty()) usage = "No command given";
    else if (command == nullptr) usage = "Unknown command \"" + options.command + "\"";
    else if (options.args.size() > command->argumentCount ||
             options.args.size() + command->optionalArguments < command->argumentCount)
        usage = options.command + " takes " + (*command->arguments == '\0' ? std::string("no arguments") : std::string(command->arguments));
    if (!usage.empty()) {
        PrintError(usage, true);
        return Finish(nullptr, options, kExitUsage, usage);
    }

    if (options.ports.size() > 1) {
        // Every box in a process of its own: this same program, found where the system started it.
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        const std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
        try {
            return RunGang(path, std::vector<std::string>(argv + 1, argv + argc), options, std::cout, std::cerr);
        } catch (const std::exception& e) {
            PrintError(e.what());
            return Finish(nullptr, options, kExitFailed, e.what());
        }
    }

    std::unique_ptr<TQSettingsBackend> backend;
    if (!options.noSettings) backend = std::make_unique<TQSettingsBackend>();
    TCliContext context(options, backend.get(), std::cout, std::cerr);
    try {
        context.Resolve(!command->needsSettings);
    } catch (const TUsageError& e) {
        PrintError(e.message);
        return Finish(&context, options, kExitUsage, e.message);
    } catch (const std::exception& e) {
        PrintError(e.what());
        return Finish(&context, options, kExitFailed, e.what());
    }

    int code = kExitFailed;
    try {
        code = command->run(context);
    } catch (const TUsageError& e) {
        PrintError(e.message);
        return Finish(&context, options, kExitUsage, e.message);
    } catch (...) {
        code = context.ExitCode(context.Runner().AppException(std::current_exception()));
    }
    return Finish(&context, options, code, {});
}
