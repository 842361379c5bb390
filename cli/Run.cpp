#include "cli/Commands.h"
#include "cli/Options.h"

namespace tavrix::cli {

namespace {

const char kUsageText[] =
    "Usage: tavrix-cli COMMAND [options]\n"
    "Records, analyses and converts radar recordings without a window.\n\n"
    "Commands:\n"
    "  info      the radar boards found and the device models with their choices\n"
    "  record    record the raw stream of a board or of the emulated board\n"
    "  analyze   run the processing over a recording, one line per frame\n"
    "  convert   text to SigMF or back, losslessly\n\n"
    "tavrix-cli COMMAND --help describes each.\n";

} // namespace

int Run(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.isEmpty()) {
        err << kUsageText;
        return kUsage;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("info"))
        return Info(rest, out, err);
    if (command == QLatin1String("record"))
        return Record(rest, out, err);
    if (command == QLatin1String("analyze"))
        return Analyze(rest, out, err);
    if (command == QLatin1String("convert"))
        return Convert(rest, out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << kUsageText;
        return 0;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
        out << "tavrix-cli " << TAVRIX_VERSION << "\n";
        return 0;
    }
    err << "tavrix-cli: no command is called " << command << "\n" << kUsageText;
    return kUsage;
}

} // namespace tavrix::cli
