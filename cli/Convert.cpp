#include "cli/Commands.h"
#include "cli/Options.h"
#include "record/RecordingFile.h"

namespace tavrix::cli {

int Convert(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser p;
    p.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("The recording to read."));
    p.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The recording to write."));
    if (const auto done =
            Parse(p,
                  QStringLiteral("tavrix-cli convert IN OUT: text to SigMF or back, losslessly. "
                                 "A name ending in .sigmf-data, .sigmf-meta or .sigmf stands for "
                                 "the SigMF pair of that base name; any other is the text format."),
                  arguments, out, err))
        return *done;
    if (p.positionalArguments().size() != 2) {
        err << "tavrix-cli: convert takes IN and OUT\n";
        return kUsage;
    }
    std::string error;
    if (!record::convertRecording(p.positionalArguments()[0].toStdString(),
                                  p.positionalArguments()[1].toStdString(), error)) {
        err << "tavrix-cli: " << QString::fromStdString(error) << "\n";
        return kFailed;
    }
    return 0;
}

} // namespace tavrix::cli
