#pragma once

// Command-line parsing shared by the commands: a parser with --help, and the names of modes
// and displays as the command line spells them.

#include <QCommandLineParser>
#include <QTextStream>

#include <optional>

namespace tavrix::cli {

inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Parses `arguments` (the command's own); on --help prints the help to `out`. Empty with the
// exit status to return when the command should not go on.
std::optional<int> Parse(QCommandLineParser& parser, const QString& usage,
                         const QStringList& arguments, QTextStream& out, QTextStream& err);

// "fmcw", "fsk", "cw" to operating mode 0, 2, 3.
std::optional<int> ModeNamed(const QString& name);
QString ModeName(int operatingMode);
// Display names per mode: range-scope, range-waterfall, range-velocity-map, velocity-waterfall
// (FMCW); velocity-scope, velocity-waterfall (CW, FSK); range-track (FSK).
std::optional<int> DisplayNamed(int operatingMode, const QString& name);
QString DisplayName(int operatingMode, int displayMode);
// The first display the window offers for the mode.
int FirstDisplay(int operatingMode);
QString DisplayNames(int operatingMode);

} // namespace tavrix::cli
