#include "app/DetectionsDock.h"
#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "device/RadarDevice.h"

#include <QDateTime>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

namespace radar = tavrix::radar;

radar::Settings Tavrix::currentSettings() const {
    radar::Settings s;
    s.operatingMode = static_cast<int>(operatingMode);
    s.displayMode = static_cast<int>(displayMode);
    s.deviceModel = ui.device_centerFrequency->currentIndex();
    s.sweepTimeCode = static_cast<int>(sweepTimeCode);
    s.bandwidthChoice = static_cast<int>((bandwidthCode + 3) % 4);
    s.sampleWindowCode = static_cast<int>(sampleWindowCode);
    s.subtractDC = ui.filterOptionDCSubtract->isChecked();
    s.correctAmplitude = ui.filterOptionIQAmplitude->isChecked();
    s.hammingWindow = ui.filterOptionHammingWindow->isChecked();
    s.rangeWeighting = ui.isRangeWeighting->isChecked();
    if (ui.filterOptionDirectClutter->isChecked())
        s.clutter = tavrix::dsp::ClutterMode::Reference;
    else if (ui.filterOptionDirectClutterAverage->isChecked())
        s.clutter = tavrix::dsp::ClutterMode::MovingAverage;
    s.clutterAverage = ui.filterOptionDirectClutterAvgCount->value();
    s.rangeWindow = {ui.rangeFilter_Low->value(), ui.rangeFilter_High->value()};
    s.velocityWindow = {ui.velocityFilter_Low->value(), ui.velocityFilter_High->value()};
    s.sweepCount = static_cast<std::uint32_t>(ui.spinBoxDopplerQueue->value());
    s.fskThreshold = ui.counterFSKDetectionThreshold->value();
    if (detectionsDock)
        s.detector = detectionsDock->settings();
    s.autoMaximum = ui.DynamicRange_Maximum_EN->isChecked();
    s.autoMinimum = ui.DynamicRange_Minimum_EN->isChecked();
    return s;
}

void Tavrix::publishSettings(const radar::Settings& settings) {
    const bool reset = clutterReset != 0;
    if (settings == publishedSettings && !reset)
        return;
    // A frame in flight still fits the axes after a change of filters, windows or detection:
    // only a change of what frames are drops it (a long frame is seconds of data).
    if (!radar::SameFrames(settings, publishedSettings))
        ++settingsGeneration;
    publishedSettings = settings;
    clutterReset = 0;
    worker->Update(settings, settingsGeneration, reset);
}

void Tavrix::startWorker() {
    if (!acquisitionOnWorker)
        return;
    if (!worker || &worker->Source() != &frameSource())
        worker = std::make_unique<radar::AcquisitionWorker>(frameSource(), *pipeline);
    publishedSettings = currentSettings();
    ++settingsGeneration;
    if (clutterReset != 0) {
        pipeline->ResetClutter(); // the pipeline is still ours
        clutterReset = 0;
    }
    worker->Start(publishedSettings, settingsGeneration);
}

void Tavrix::stopWorker() {
    if (worker)
        worker->Stop();
}

radar::FrameSource& Tavrix::frameSource() {
    if (playback != nullptr)
        return playback->player();
    return *deviceFrames;
}

bool Tavrix::acquireFrame(const QString& failure, radar::Result& result, bool rateAfterRead) {
    const radar::Settings settings = currentSettings();
    if (worker && worker->Running()) {
        // The worker reads and processes; this tick draws the newest frame it finished.
        publishSettings(settings);
        std::optional<radar::FrameOutcome> outcome = worker->TakeNewest();
        if (!outcome)
            return false;
        if (outcome->readFailed) {
            stopAcquisition(outcome->failure.empty() ? failure
                                                     : QString::fromStdString(outcome->failure));
            return false;
        }
        // A frame read before the last seek is not drawn after it.
        if (playback != nullptr && outcome->seeks < playback->player().Seeks())
            return false;
        if (outcome->jumped)
            clearWaterfallHistory(); // no row from before a jump beside one after it
        UpdateRecordData(outcome->request.sampleRate);
        // A frame of settings that have changed since would be drawn on the new axes.
        if (!outcome->processed || outcome->generation != settingsGeneration)
            return false;
        result = std::move(outcome->result);
        frameSettings = outcome->settings;
        frameTime = outcome->recordingSeconds ? FrameTime{*outcome->recordingSeconds, true}
                                              : FrameTime{outcome->takenAt, false};
        if (playback != nullptr && outcome->recordingSeconds)
            playback->frameShown(*outcome->recordingSeconds);
        lastFrameSeconds = outcome->seconds;
        ++framesDrawn;
        return true;
    }
    const std::optional<radar::FrameRequest> request = radar::Pipeline::Request(settings);
    if (!request)
        return false;
    if (!rateAfterRead)
        UpdateRecordData(request->sampleRate);
    SampleBlock frame;
    const std::atomic<bool> never{false};
    const radar::FrameRead read = frameSource().Read(settings, *request, frame, never);
    if (read.idle)
        return false;
    if (read.received != request->count) {
        stopAcquisition(read.failure.empty() ? failure : QString::fromStdString(read.failure));
        return false;
    }
    if (rateAfterRead)
        UpdateRecordData(request->sampleRate);
    frameTime =
        read.recordingSeconds
            ? FrameTime{*read.recordingSeconds, true}
            : FrameTime{static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1e3, false};
    if (read.jumped) {
        clutterReset = 1;
        clearWaterfallHistory();
    }
    if (playback != nullptr && read.recordingSeconds)
        playback->frameShown(*read.recordingSeconds);
    if (clutterReset != 0) {
        pipeline->ResetClutter();
        clutterReset = 0;
    }
    frameSettings = settings;
    return pipeline->Process(settings, read.packed, frame, result);
}

void Tavrix::UpdateTimeScope(const radar::TimeScope& scope) {
    const std::size_t n = scope.i.size();
    const auto fillTimes = [this, n, &scope] {
        topXData.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            topXData[k] = static_cast<double>(k) * scope.interval;
    };
    if (topAxisDirty == 1) {
        fillTimes();
        const double end =
            scope.span ? *scope.span : static_cast<double>(n) * scope.interval * 9.0 / 10.0;
        ui.qwtPlotScope_1->setAxisScale(QwtPlot::xBottom, 0.0001, end, 0);
        ui.qwtPlotScope_1->setAxisAutoScale(QwtPlot::yLeft, true);
        topAxisDirty = 0;
    } else if (topXData.size() != n) {
        // A block of another length without a parameter change: new times rather than
        // reading past the old ones; the axis stays as it was.
        fillTimes();
    }
    if (curveTopI)
        curveTopI->setSamples(topXData.data(), scope.i.data(), static_cast<int>(n));
    if (curveTopQ)
        curveTopQ->setSamples(topXData.data(), scope.q.data(), static_cast<int>(n));
}

void Tavrix::drawDetections(const radar::Result& result) {
    if (!detectionsDock)
        return;
    detectionsDock->show(result.detections);
    if (!curveDetections)
        return;
    // Where each display puts a target: range scope (range, level), velocity scopes (velocity,
    // level), map (velocity, range).
    QVector<QPointF> points;
    for (const radar::Detection& d : result.detections) {
        if (displayMode == 3 && d.range_m && d.velocity_mps)
            points << QPointF(*d.velocity_mps, *d.range_m);
        else if (displayMode == 1 && d.range_m)
            points << QPointF(*d.range_m, d.level_db);
        else if (displayMode == 2 && d.velocity_mps)
            points << QPointF(*d.velocity_mps, d.level_db);
    }
    curveDetections->setSamples(points);
}
