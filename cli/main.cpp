// tavrix-cli: the radar pipeline without a window.
#include "cli/Commands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrix-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return tavrix::cli::Run(app.arguments().mid(1), out, err);
}
