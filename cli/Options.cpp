#include "cli/Options.h"

#include "radar/Settings.h"

namespace tavrix::cli {

namespace {

struct DisplayEntry {
    int mode;
    int display;
    const char* name;
};

constexpr DisplayEntry kDisplays[] = {
    {radar::kFmcwSawtooth, radar::kRangeScope, "range-scope"},
    {radar::kFmcwSawtooth, radar::kRangeWaterfall, "range-waterfall"},
    {radar::kFmcwSawtooth, radar::kRangeVelocityMap, "range-velocity-map"},
    {radar::kFmcwSawtooth, radar::kVelocityWaterfall, "velocity-waterfall"},
    {radar::kCw, radar::kVelocityScope, "velocity-scope"},
    {radar::kCw, radar::kVelocityWaterfall, "velocity-waterfall"},
    {radar::kFsk, radar::kVelocityScope, "velocity-scope"},
    {radar::kFsk, radar::kVelocityWaterfall, "velocity-waterfall"},
    {radar::kFsk, radar::kRangeWaterfall, "range-track"},
};

} // namespace

std::optional<int> Parse(QCommandLineParser& parser, const QString& usage,
                         const QStringList& arguments, QTextStream& out, QTextStream& err) {
    parser.setApplicationDescription(usage);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    QStringList all = arguments;
    all.prepend(QStringLiteral("tavrix-cli"));
    if (!parser.parse(all)) {
        err << "tavrix-cli: " << parser.errorText() << " (--help lists the options)\n";
        return kUsage;
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    return std::nullopt;
}

std::optional<int> ModeNamed(const QString& name) {
    if (name == QLatin1String("fmcw"))
        return radar::kFmcwSawtooth;
    if (name == QLatin1String("fsk"))
        return radar::kFsk;
    if (name == QLatin1String("cw"))
        return radar::kCw;
    return std::nullopt;
}

QString ModeName(int operatingMode) {
    switch (operatingMode) {
    case radar::kFmcwSawtooth:
        return QStringLiteral("fmcw");
    case radar::kFsk:
        return QStringLiteral("fsk");
    case radar::kCw:
        return QStringLiteral("cw");
    default:
        return QStringLiteral("fmcw-triangle");
    }
}

std::optional<int> DisplayNamed(int operatingMode, const QString& name) {
    for (const DisplayEntry& d : kDisplays)
        if (d.mode == operatingMode && name == QLatin1String(d.name))
            return d.display;
    return std::nullopt;
}

QString DisplayName(int operatingMode, int displayMode) {
    for (const DisplayEntry& d : kDisplays)
        if (d.mode == operatingMode && d.display == displayMode)
            return QLatin1String(d.name);
    return QString();
}

int FirstDisplay(int operatingMode) {
    return operatingMode == radar::kFmcwSawtooth ? radar::kRangeScope : radar::kVelocityScope;
}

QString DisplayNames(int operatingMode) {
    QStringList names;
    for (const DisplayEntry& d : kDisplays)
        if (d.mode == operatingMode)
            names << QLatin1String(d.name);
    return names.join(QStringLiteral(", "));
}

} // namespace tavrix::cli
