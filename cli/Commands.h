#pragma once

// The commands of tavrix-cli. Each takes its arguments (after the command's name), writes its
// results to `out` and its messages and progress to `err`, and returns the exit status: 0 done,
// 1 failed (the message says why), 2 the command line was wrong.

#include <QStringList>
#include <QTextStream>

namespace tavrix::cli {

int Run(const QStringList& arguments, QTextStream& out, QTextStream& err);

int Info(const QStringList& arguments, QTextStream& out, QTextStream& err);
int Record(const QStringList& arguments, QTextStream& out, QTextStream& err);
int Analyze(const QStringList& arguments, QTextStream& out, QTextStream& err);
int Convert(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace tavrix::cli
