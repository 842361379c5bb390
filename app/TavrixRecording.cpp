#include "app/Tavrix.h"
#include "device/RadarDevice.h"
#include "device/StreamReader.h"
#include "record/RecordingFormat.h"
#include "record/RecordingMove.h"
#include "record/RecordingWriter.h"

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
#include <cmath>
#include <ctime>
#include <limits>
#include <new>

namespace {

// The most samples one read holds: it asks for 4 bytes per sample plus 8192 in a signed
// 32-bit transfer length.
constexpr std::int64_t kLargestRead = (std::numeric_limits<std::int32_t>::max() - 8192) / 4;

// Samples formatted and written between two progress updates.
constexpr std::size_t kWriteChunk = 1 << 16;

// Where to save a recording just made: the default name carries the moment it completed, in
// the folder of the last recording saved.
Tavrix::SaveFileQuestion recordingQuestion(const QString& folder) {
    const QString name =
        QString::fromStdString(tavrix::record::defaultRecordingName(std::time(nullptr)));
    return {Tavrix::tr("Save Recorded Session"),
            folder.isEmpty() ? name : QDir(folder).filePath(name),
            Tavrix::tr("Complex Samples (*.dat)"), true};
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
    const std::uint32_t timeoutMs = static_cast<std::uint32_t>(duration) * 2000u;
    const std::int32_t received = radarDevice->ReadFrame(block, wanted, timeoutMs, samplesPerSweep);

    if (received != wanted) {
        ui.recordStatus->setText(QStringLiteral("Error, %1 samples").arg(received));
        stopAcquisition(QStringLiteral("Error: Interface cound not be set!"));
        QApplication::restoreOverrideCursor();
        return;
    }

    const QString goodText = QStringLiteral("Good, %1 samples").arg(received);
    ui.recordStatus->setText(goodText);
    // The samples exist nowhere else: a file that cannot be written brings the dialog back
    // until the user saves them or decides to let them go.
    SaveFileQuestion question = recordingQuestion(recordingFolder);
    bool failedBefore = false;
    for (;;) {
        const QString fileName = askSaveFileName(question);
        if (fileName.isEmpty()) {
            if (failedBefore)
                ui.recordStatus->setText(
                    QStringLiteral("Not saved, %1 samples discarded").arg(received));
            break;
        }
        if (WriteRecording(block, fileName)) {
            ui.recordStatus->setText(goodText);
            recordingFolder = QFileInfo(fileName).absolutePath();
            break;
        }
        failedBefore = true;
        question.proposedName = fileName;
    }
    resume();
}

bool Tavrix::recordInParts(std::int64_t count, int durationSeconds, double sampleRate) {
    // The parts go to a temporary file in the folder the save dialog proposes, so that the
    // chosen name is usually given by renaming; elsewhere if that folder takes no files.
    const std::optional<tavrix::record::RecordingHeader> header = tavrix::record::headerForMode(
        operatingMode, centerFrequency, sweepTimeMs, samplesPerSweep, bandwidthHz);
    tavrix::record::RecordingWriter writer;
    QString partPath;
    QString whyNot;
    const QString proposed = recordingFolder.isEmpty() ? QDir::currentPath() : recordingFolder;
    for (const QString& folder : {proposed, QDir::tempPath()}) {
        QTemporaryFile file(QDir(folder).filePath(QStringLiteral("tavrix-recording-XXXXXX.part")));
        file.setAutoRemove(false);
        if (!file.open()) {
            if (whyNot.isEmpty())
                whyNot = QStringLiteral("Cannot create a file in \"%1\": %2")
                             .arg(QDir::toNativeSeparators(folder), file.errorString());
            continue;
        }
        file.close();
        if (writer.open(QFile::encodeName(file.fileName()).toStdString(), header)) {
            partPath = file.fileName();
            break;
        }
        if (whyNot.isEmpty())
            whyNot = QString::fromStdString(writer.error());
        QFile::remove(file.fileName());
    }
    if (partPath.isEmpty()) {
        ui.recordStatus->setText(QStringLiteral("Not recorded: %1").arg(whyNot));
        statusBar()->showMessage(tr("Error: Recording not started: %1").arg(whyNot));
        return true;
    }
    const QString partName = QDir::toNativeSeparators(partPath);

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
        if (!writer.write(part)) {
            end = End::WriteFailed;
            break;
        }
        showProgress();
    }
    reader.stop();
    progress.hide();
    if (!writer.close() && end == End::Complete)
        end = End::WriteFailed;

    const qint64 got = reader.delivered();
    switch (end) {
    case End::Cancelled:
        QFile::remove(partPath);
        ui.recordStatus->setText(QStringLiteral("Cancelled, nothing kept"));
        statusBar()->showMessage(tr("Recording cancelled after %1 of %2 samples; nothing was kept.")
                                     .arg(got)
                                     .arg(count));
        return true;
    case End::ReadFailed:
        // What came before the failure is a fragment of unknown worth: keep nothing.
        QFile::remove(partPath);
        ui.recordStatus->setText(QStringLiteral("Error, %1 samples").arg(got));
        stopAcquisition(QStringLiteral("Error: Interface cound not be set! ") +
                        tr("Recording failed after %1 samples, nothing was kept: %2")
                            .arg(got)
                            .arg(QString::fromStdString(reader.error())));
        return false;
    case End::WriteFailed: {
        const QString why = QString::fromStdString(writer.error());
        ui.recordStatus->setText(
            QStringLiteral("Incomplete, %1 samples: %2; kept in %3").arg(got).arg(why, partName));
        statusBar()->showMessage(
            tr("Error: Recording stopped after %1 samples: %2. What was written is kept in %3.")
                .arg(got)
                .arg(why, partName));
        return true;
    }
    case End::Complete:
        break;
    }

    ui.recordStatus->setText(QStringLiteral("Good, %1 samples").arg(count));
    const QString fileName = askSaveFileName(recordingQuestion(recordingFolder));
    if (fileName.isEmpty()) {
        QFile::remove(partPath);
        return true;
    }
    std::string error;
    if (!tavrix::record::moveRecording(QFile::encodeName(partPath).toStdString(),
                                       QFile::encodeName(fileName).toStdString(), error)) {
        const QString why = QString::fromStdString(error);
        ui.recordStatus->setText(
            QStringLiteral("Not saved, %1 samples: %2; kept in %3").arg(count).arg(why, partName));
        statusBar()->showMessage(
            tr("Error: Recording not saved: %1. The samples are kept in %2.").arg(why, partName));
        return true;
    }
    recordingFolder = QFileInfo(fileName).absolutePath();
    return true;
}

bool Tavrix::WriteRecording(const SampleBlock& block, const QString& fileName) {
    const std::string path = QFile::encodeName(fileName).toStdString();
    tavrix::record::RecordingWriter writer;
    const bool created =
        writer.open(path, tavrix::record::headerForMode(operatingMode, centerFrequency, sweepTimeMs,
                                                        samplesPerSweep, bandwidthHz));
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
            ok = writer.write(block.data() + first, std::min(kWriteChunk, block.size() - first));
        }
        ok = writer.close() && ok;
        progress.setValue(chunks);
    }
    if (ok)
        return true;

    // A partial file would read back as a shorter recording; only the samples in memory
    // are complete. Devices and links are not ours to remove.
    const QFileInfo written(fileName);
    if (created && written.isFile() && !written.isSymLink())
        QFile::remove(fileName);
    const QString reason = QString::fromStdString(writer.error());
    ui.recordStatus->setText(
        QStringLiteral("Not saved, %1 samples: %2").arg(block.size()).arg(reason));
    statusBar()->showMessage(tr("Error: Recording not saved: %1").arg(reason));
    return false;
}
