#include "app/Tavrix.h"
#include "device/DeviceModels.h"
#include "device/RadarDevice.h"
#include "device/StreamReader.h"
#include "record/RecordingFile.h"
#include "record/RecordingFormat.h"
#include "record/RecordingMove.h"
#include "record/Sigmf.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>
#include <new>

namespace {

using tavrix::record::FileFormat;

// The most samples one read holds: it asks for 4 bytes per sample plus 8192 in a signed
// 32-bit transfer length.
constexpr std::int64_t kLargestRead = (std::numeric_limits<std::int32_t>::max() - 8192) / 4;

// Samples formatted and written between two progress updates.
constexpr std::size_t kWriteChunk = 1 << 16;

std::string localPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

std::string utcNow() {
    return tavrix::record::isoUtc(std::chrono::system_clock::now());
}

// The recording page's format choice.
FileFormat chosenFormat(const QComboBox* box) {
    return box->currentIndex() == 1 ? FileFormat::Sigmf : FileFormat::Text;
}

// Where to save a recording just made: the default name carries the moment it completed, in
// the folder of the last recording saved, and the ending of the format chosen.
Tavrix::SaveFileQuestion recordingQuestion(const QString& folder, FileFormat format) {
    QString name = QString::fromStdString(tavrix::record::defaultRecordingName(std::time(nullptr)));
    const bool sigmf = format == FileFormat::Sigmf;
    if (sigmf && name.endsWith(QStringLiteral(".dat")))
        name.replace(name.size() - 4, 4, QStringLiteral(".sigmf-data"));
    return {Tavrix::tr("Save Recorded Session"),
            folder.isEmpty() ? name : QDir(folder).filePath(name),
            sigmf ? Tavrix::tr("SigMF Recordings (*.sigmf-data)")
                  : Tavrix::tr("Complex Samples (*.dat)"),
            true};
}

// With SigMF chosen, a name that is not a SigMF pair's gets the data file's ending. A SigMF
// name is SigMF whatever the choice.
QString recordingName(const QString& chosen, FileFormat format) {
    if (format == FileFormat::Sigmf &&
        tavrix::record::formatOf(localPath(chosen)) != FileFormat::Sigmf)
        return chosen + QStringLiteral(".sigmf-data");
    return chosen;
}

// Removes the files of a recording that is not to be kept; devices and links are not ours to
// remove.
void removeRecording(const QString& name) {
    for (const std::string& file : tavrix::record::recordingFiles(localPath(name))) {
        const QFileInfo info(QFile::decodeName(file.c_str()));
        if (info.isFile() && !info.isSymLink())
            QFile::remove(info.filePath());
    }
}

tavrix::record::RecordingInfo recordingInfo(std::uint32_t operatingMode, int model,
                                            std::string datetime) {
    return {tavrix::record::operatingModeName(operatingMode), deviceModel(model).name,
            std::move(datetime)};
}

} // namespace

QString Tavrix::askSaveFileName(const SaveFileQuestion& question) {
    if (saveFileDialog)
        return saveFileDialog(question);
    const QFileDialog::Options options =
        question.confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(this, question.caption, question.proposedName,
                                        question.filter, nullptr, options);
}

void Tavrix::UpdateRecordData(double samp_rate) {
    const auto count = tavrix::record::recordedSampleCount(ui.recordTimeSeconds->value(), samp_rate,
                                                           samplesPerSweep);
    ui.recordLCDSampleRate->display(samp_rate);
    ui.recordTotalSamples->display(count ? static_cast<double>(*count) : 0.0);
}

void Tavrix::recordBegin() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool wasStreaming = acquisitionTimer != nullptr && acquisitionTimer->isActive();
    if (acquisitionTimer != nullptr)
        acquisitionTimer->stop();
    // The recording reads the device itself.
    const bool workerWasRunning = worker && worker->Running();
    stopWorker();
    const auto resume = [&] {
        if (workerWasRunning)
            startWorker();
        if (wasStreaming)
            acquisitionTimer->start();
        QApplication::restoreOverrideCursor();
    };

    const int duration = ui.recordTimeSeconds->value();
    const double sampleRate = samplesPerSweep / (sweepTimeMs / 1000.0);
    const auto count = tavrix::record::recordedSampleCount(duration, sampleRate, samplesPerSweep);
    if (!count) {
        ui.recordStatus->setText(QStringLiteral("Error, 0 samples"));
        statusBar()->showMessage(tr("Error: No sample rate to record at."));
        resume();
        return;
    }
    if (*count > recordingLimits.partedAboveSamples ||
        duration > recordingLimits.partedAboveSeconds || *count > kLargestRead) {
        if (recordInParts(*count, duration, sampleRate))
            resume();
        else
            QApplication::restoreOverrideCursor();
        return;
    }
    const auto wanted = static_cast<std::int32_t>(*count);

    SampleBlock block;
    try {
        block.reserve(static_cast<std::size_t>(wanted));
    } catch (const std::bad_alloc&) {
        ui.recordStatus->setText(QStringLiteral("No memory, %1 samples").arg(wanted));
        statusBar()->showMessage(
            tr("Error: Not enough memory to record %1 samples; choose a shorter duration.")
                .arg(wanted));
        resume();
        return;
    }

    writeCommandBlock();
    recordingStartUtc = utcNow();
    const std::uint32_t timeoutMs = static_cast<std::uint32_t>(duration) * 2000u;
    const std::int32_t received = radarDevice->ReadFrame(block, wanted, timeoutMs, samplesPerSweep);

    if (received != wanted) {
        recordingStartUtc.clear();
        ui.recordStatus->setText(QStringLiteral("Error, %1 samples").arg(received));
        stopAcquisition(QStringLiteral("Error: Interface cound not be set!"));
        QApplication::restoreOverrideCursor();
        return;
    }

    const QString goodText = QStringLiteral("Good, %1 samples").arg(received);
    ui.recordStatus->setText(goodText);
    // The samples exist nowhere else: a file that cannot be written brings the dialog back
    // until the user saves them or decides to let them go.
    const FileFormat format = chosenFormat(ui.recordFormat);
    SaveFileQuestion question = recordingQuestion(recordingFolder, format);
    bool failedBefore = false;
    for (;;) {
        const QString chosen = askSaveFileName(question);
        if (chosen.isEmpty()) {
            if (failedBefore)
                ui.recordStatus->setText(
                    QStringLiteral("Not saved, %1 samples discarded").arg(received));
            break;
        }
        const QString fileName = recordingName(chosen, format);
        if (WriteRecording(block, fileName)) {
            ui.recordStatus->setText(goodText);
            recordingFolder = QFileInfo(fileName).absolutePath();
            break;
        }
        failedBefore = true;
        question.proposedName = fileName;
    }
    recordingStartUtc.clear();
    resume();
}

bool Tavrix::recordInParts(std::int64_t count, int durationSeconds, double sampleRate) {
    // The parts go to a temporary file in the folder the save dialog proposes, so that the
    // chosen name is usually given by renaming; elsewhere if that folder takes no files.
    const std::optional<tavrix::record::RecordingHeader> header = tavrix::record::headerForMode(
        operatingMode, centerFrequency, sweepTimeMs, samplesPerSweep, bandwidthHz);
    const FileFormat format = chosenFormat(ui.recordFormat);
    const tavrix::record::RecordingInfo info =
        recordingInfo(operatingMode, ui.device_centerFrequency->currentIndex(), utcNow());
    std::unique_ptr<tavrix::record::RecordingSink> writer;
    QString partPath;
    QString whyNot;
    const QString proposed = recordingFolder.isEmpty() ? QDir::currentPath() : recordingFolder;
    const QString partTemplate = format == FileFormat::Sigmf
                                     ? QStringLiteral("tavrix-recording-XXXXXX.part.sigmf-data")
                                     : QStringLiteral("tavrix-recording-XXXXXX.part");
    for (const QString& folder : {proposed, QDir::tempPath()}) {
        QTemporaryFile file(QDir(folder).filePath(partTemplate));
        file.setAutoRemove(false);
        if (!file.open()) {
            if (whyNot.isEmpty())
                whyNot = QStringLiteral("Cannot create a file in \"%1\": %2")
                             .arg(QDir::toNativeSeparators(folder), file.errorString());
            continue;
        }
        file.close();
        const std::string path = localPath(file.fileName());
        auto sink = tavrix::record::makeSink(path);
        if (sink->open(path, header, info)) {
            writer = std::move(sink);
            partPath = file.fileName();
            break;
        }
        if (whyNot.isEmpty())
            whyNot = QString::fromStdString(sink->error());
        removeRecording(file.fileName());
    }
    if (partPath.isEmpty()) {
        ui.recordStatus->setText(QStringLiteral("Not recorded: %1").arg(whyNot));
        statusBar()->showMessage(tr("Error: Recording not started: %1").arg(whyNot));
        return true;
    }
    const QString partShown = QDir::toNativeSeparators(partPath);

    QApplication::changeOverrideCursor(Qt::BusyCursor);
    writeCommandBlock();
    StreamReader::Options options = StreamReader::optionsFor(sampleRate);
    if (recordingLimits.requestBytes > 0)
        options.requestBytes = recordingLimits.requestBytes;
    StreamReader reader(*radarDevice, static_cast<std::int32_t>(samplesPerSweep), count, options);

    // Window-modal, so the controls cannot change the stream while it is recorded; the loop
    // below keeps the events flowing for its Cancel button.
    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("recordProgress"));
    progress.setWindowTitle(tr("Record Data Stream"));
    progress.setCancelButtonText(tr("Cancel"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    progress.setRange(0, 1000);
    const auto showProgress = [&] {
        const double seconds = static_cast<double>(reader.delivered()) / sampleRate;
        progress.setLabelText(
            tr("Recording: %1 s of %2 s").arg(std::floor(seconds), 0, 'f', 0).arg(durationSeconds));
        progress.setValue(static_cast<int>(1000.0 * static_cast<double>(reader.delivered()) /
                                           static_cast<double>(count)));
    };
    showProgress();
    progress.show();

    enum class End { Complete, Cancelled, ReadFailed, WriteFailed };
    End end = End::Complete;
    SampleBlock part;
    while (!reader.done()) {
        QCoreApplication::processEvents();
        if (progress.wasCanceled()) {
            end = End::Cancelled;
            break;
        }
        if (!reader.next(part)) {
            end = End::ReadFailed;
            break;
        }
        if (!writer->write(part.data(), part.size())) {
            end = End::WriteFailed;
            break;
        }
        showProgress();
    }
    reader.stop();
    progress.hide();
    if (!writer->close() && end == End::Complete)
        end = End::WriteFailed;

    const qint64 got = reader.delivered();
    switch (end) {
    case End::Cancelled:
        removeRecording(partPath);
        ui.recordStatus->setText(QStringLiteral("Cancelled, nothing kept"));
        statusBar()->showMessage(tr("Recording cancelled after %1 of %2 samples; nothing was kept.")
                                     .arg(got)
                                     .arg(count));
        return true;
    case End::ReadFailed:
        // What came before the failure is a fragment of unknown worth: keep nothing.
        removeRecording(partPath);
        ui.recordStatus->setText(QStringLiteral("Error, %1 samples").arg(got));
        stopAcquisition(QStringLiteral("Error: Interface cound not be set! ") +
                        tr("Recording failed after %1 samples, nothing was kept: %2")
                            .arg(got)
                            .arg(QString::fromStdString(reader.error())));
        return false;
    case End::WriteFailed: {
        const QString why = QString::fromStdString(writer->error());
        ui.recordStatus->setText(
            QStringLiteral("Incomplete, %1 samples: %2; kept in %3").arg(got).arg(why, partShown));
        statusBar()->showMessage(
            tr("Error: Recording stopped after %1 samples: %2. What was written is kept in %3.")
                .arg(got)
                .arg(why, partShown));
        return true;
    }
    case End::Complete:
        break;
    }

    ui.recordStatus->setText(QStringLiteral("Good, %1 samples").arg(count));
    const QString chosen = askSaveFileName(recordingQuestion(recordingFolder, format));
    if (chosen.isEmpty()) {
        removeRecording(partPath);
        return true;
    }
    const QString fileName = recordingName(chosen, format);
    const std::string from = localPath(partPath);
    const std::string to = localPath(fileName);
    std::string error;
    // A name of the other format than the one recorded gets a copy in its format.
    const bool saved = tavrix::record::formatOf(to) == tavrix::record::formatOf(from)
                           ? tavrix::record::moveRecordingFiles(from, to, error)
                           : tavrix::record::convertRecording(from, to, error);
    if (saved && tavrix::record::formatOf(to) != tavrix::record::formatOf(from))
        removeRecording(partPath);
    if (!saved) {
        const QString why = QString::fromStdString(error);
        ui.recordStatus->setText(
            QStringLiteral("Not saved, %1 samples: %2; kept in %3").arg(count).arg(why, partShown));
        statusBar()->showMessage(
            tr("Error: Recording not saved: %1. The samples are kept in %2.").arg(why, partShown));
        return true;
    }
    recordingFolder = QFileInfo(fileName).absolutePath();
    return true;
}

bool Tavrix::WriteRecording(const SampleBlock& block, const QString& fileName) {
    const std::string path = localPath(fileName);
    const std::unique_ptr<tavrix::record::RecordingSink> writer = tavrix::record::makeSink(path);
    const bool created =
        writer->open(path,
                     tavrix::record::headerForMode(operatingMode, centerFrequency, sweepTimeMs,
                                                   samplesPerSweep, bandwidthHz),
                     recordingInfo(operatingMode, ui.device_centerFrequency->currentIndex(),
                                   recordingStartUtc.empty() ? utcNow() : recordingStartUtc));
    bool ok = created;
    if (ok) {
        // Hundreds of megabytes of text take a while; the dialog shows up only if they do.
        const int chunks = static_cast<int>((block.size() + kWriteChunk - 1) / kWriteChunk);
        QProgressDialog progress(tr("Writing %1").arg(fileName), QString(), 0, chunks, this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(1000);
        for (int chunk = 0; ok && chunk < chunks; ++chunk) {
            progress.setValue(chunk);
            const std::size_t first = static_cast<std::size_t>(chunk) * kWriteChunk;
            ok = writer->write(block.data() + first, std::min(kWriteChunk, block.size() - first));
        }
        ok = writer->close() && ok;
        progress.setValue(chunks);
    }
    if (ok)
        return true;

    // A partial file would read back as a shorter recording; only the samples in memory
    // are complete.
    if (created)
        removeRecording(fileName);
    const QString reason = QString::fromStdString(writer->error());
    ui.recordStatus->setText(
        QStringLiteral("Not saved, %1 samples: %2").arg(block.size()).arg(reason));
    statusBar()->showMessage(tr("Error: Recording not saved: %1").arg(reason));
    return false;
}
