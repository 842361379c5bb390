#include "app/Tavrix.h"
#include "device/FrameStream.h"
#include "device/RadarDevice.h"
#include "record/RecordingFormat.h"
#include "record/RecordingWriter.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QStatusBar>
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
    const auto resume = [&] {
        if (wasStreaming)
            acquisitionTimer->start();
        QApplication::restoreOverrideCursor();
    };

    const int duration = ui.recordTimeSeconds->value();
    const double sampleRate = samplesPerSweep / (sweepTimeMs / 1000.0);
    const auto count = tavrix::record::recordedSampleCount(duration, sampleRate, samplesPerSweep);
    if (!count || *count > std::numeric_limits<std::int32_t>::max() ||
        !FrameTransferBytes(static_cast<std::int32_t>(*count))) {
        // One read cannot hold it: say how long a recording may be instead of overflowing.
        const std::int64_t longest =
            samplesPerSweep == 0 ? 0 : kLargestRead / samplesPerSweep * samplesPerSweep;
        const double longestSeconds = sampleRate > 0.0 ? longest / sampleRate : 0.0;
        ui.recordStatus->setText(
            QStringLiteral("Too long, %1 samples").arg(count ? *count : std::int64_t{0}));
        statusBar()->showMessage(
            tr("Error: A recording of %1 s is too long for one read; at this sample rate "
               "the longest is %2 s.")
                .arg(duration)
                .arg(std::floor(longestSeconds), 0, 'f', 0));
        resume();
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
    const std::int32_t received = radarDevice->ReadFrame(block, wanted, timeoutMs);

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
    SaveFileQuestion question{
        tr("Save Recorded Session"),
        QString::fromStdString(tavrix::record::defaultRecordingName(std::time(nullptr))),
        tr("Complex Samples (*.dat)"), true};
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
            break;
        }
        failedBefore = true;
        question.proposedName = fileName;
    }
    resume();
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
