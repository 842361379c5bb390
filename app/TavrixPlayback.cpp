#include "app/TavrixPlayback.h"

#include "app/OverviewStrip.h"
#include "app/OverviewTask.h"
#include "app/PlaybackBar.h"
#include "app/Tavrix.h"
#include "record/RecordingCursor.h"

#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <thread>

namespace radar = tavrix::radar;

namespace {

// A refused change stays readable this long behind the ticks' time messages.
constexpr qint64 kNoticeMs = 5000;
// Columns of the overview: about a screen's width.
constexpr std::uint32_t kOverviewColumns = 1600;

const char* displayName(std::uint32_t display) {
    switch (display) {
    case 1:
        return "Range & Time Scope";
    case 2:
        return "Velocity Scope";
    case 3:
        return "Range-Velocity Map";
    case 4:
        return "Velocity Waterfall";
    case 5:
        return "Range Waterfall";
    default:
        return "display";
    }
}

bool oneSweepFrame(const radar::RecordingPlayer& r, std::uint32_t display) {
    return r.Recorded().operatingMode == radar::kFmcwSawtooth && (display == 1 || display == 5);
}

std::uint64_t frameSamplesOf(const radar::RecordingPlayer& r, std::uint32_t display, int sweeps) {
    const std::uint64_t perSweep = r.Recorded().samplesPerSweep();
    return oneSweepFrame(r, display) ? perSweep : perSweep * static_cast<std::uint64_t>(sweeps);
}

QString frameProblemOf(const radar::RecordingPlayer& r, const QString& name, std::uint32_t display,
                       int sweeps) {
    const std::uint64_t perSweep = r.Recorded().samplesPerSweep();
    const std::uint64_t count = frameSamplesOf(r, display, sweeps);
    if (count <= r.SampleCount())
        return {};
    return QStringLiteral("%1 holds %2 sweeps, fewer than the %3 of one %4 frame")
        .arg(name)
        .arg(r.SampleCount() / perSweep)
        .arg(count / perSweep)
        .arg(QLatin1String(displayName(display)));
}

QString fileNameOf(const radar::RecordingPlayer& r) {
    return QFileInfo(QString::fromStdString(r.Path())).fileName();
}

bool isFocusKey(int key) {
    return key == Qt::Key_Tab || key == Qt::Key_Backtab;
}

} // namespace

TavrixPlayback::TavrixPlayback(Tavrix& w, std::unique_ptr<radar::RecordingPlayer> p)
    : QObject(&w), window(w), recording(std::move(p)), name(fileNameOf(*recording)) {}

TavrixPlayback::~TavrixPlayback() {
    delete overviewTask; // stops its thread before the strip it reports to goes
    delete dock;
}

QString TavrixPlayback::problemPlaying(const radar::RecordingPlayer& player, int fewestSweeps) {
    // The mode's smallest frame: one sweep for the range displays of FMCW, the fewest
    // sweeps of a burst for CW and FSK.
    const bool fmcw = player.Recorded().operatingMode == radar::kFmcwSawtooth;
    return frameProblemOf(player, fileNameOf(player), fmcw ? 1 : 2, fewestSweeps);
}

QString TavrixPlayback::attach(Tavrix& window, std::unique_ptr<radar::RecordingPlayer> player) {
    const QString problem = problemPlaying(*player, window.ui.spinBoxDopplerQueue->minimum());
    if (!problem.isEmpty())
        return problem;
    auto* playback = new TavrixPlayback(window, std::move(player));
    playback->setControls();
    playback->guardControls();
    playback->createDock();
    window.playback = playback;
    return {};
}

bool TavrixPlayback::oneSweepFrame(std::uint32_t display) const {
    return ::oneSweepFrame(*recording, display);
}

std::uint64_t TavrixPlayback::frameSamples(std::uint32_t display, int sweeps) const {
    return frameSamplesOf(*recording, display, sweeps);
}

QString TavrixPlayback::frameProblem(std::uint32_t display, int sweeps) const {
    return frameProblemOf(*recording, name, display, sweeps);
}

void TavrixPlayback::setControls() {
    Ui::Tavrix& ui = window.ui;
    const radar::Settings& s = recording->Recorded();
    // Activation and the parameter slots take everything from the controls; no slot needs
    // to run before that.
    const QSignalBlocker blockers[] = {
        QSignalBlocker(ui.radioOperationMode_1),   QSignalBlocker(ui.radioOperationMode_2),
        QSignalBlocker(ui.radioOperationMode_4),   QSignalBlocker(ui.radioOperationMode_5),
        QSignalBlocker(ui.device_centerFrequency), QSignalBlocker(ui.comboPSweepTime),
        QSignalBlocker(ui.comboPSampleWindow),     QSignalBlocker(ui.comboPBandwidth),
        QSignalBlocker(ui.spinBoxDopplerQueue)};
    switch (s.operatingMode) {
    case radar::kFmcwSawtooth:
        ui.radioOperationMode_1->setChecked(true);
        ui.comboPBandwidth->setCurrentIndex(s.bandwidthChoice);
        break;
    case radar::kFsk:
        ui.radioOperationMode_4->setChecked(true);
        break;
    case radar::kCw:
        ui.radioOperationMode_5->setChecked(true);
        break;
    default:
        break; // such recordings have no header and never get here
    }
    ui.device_centerFrequency->setCurrentIndex(s.deviceModel);
    ui.comboPSweepTime->setCurrentIndex(s.sweepTimeCode);
    ui.comboPSampleWindow->setCurrentIndex(s.sampleWindowCode);

    // Start with a burst the recording can fill, so the first burst display plays.
    const std::uint32_t burstDisplay = s.operatingMode == radar::kFmcwSawtooth ? 3 : 2;
    QSpinBox* sweeps = ui.spinBoxDopplerQueue;
    int count = sweeps->value();
    while (count - sweeps->singleStep() >= sweeps->minimum() &&
           !frameProblem(burstDisplay, count).isEmpty())
        count -= sweeps->singleStep();
    sweeps->setValue(count);
    acceptedSweeps = count;
}

void TavrixPlayback::guardControls() {
    Ui::Tavrix& ui = window.ui;
    const QString mode = QStringLiteral("operating mode");
    for (QObject* button : {ui.radioOperationMode_1, ui.radioOperationMode_2,
                            ui.radioOperationMode_4, ui.radioOperationMode_5})
        fixed.insert(button, mode);
    fixed.insert(ui.device_centerFrequency, QStringLiteral("device model"));
    fixed.insert(ui.comboPSweepTime, QStringLiteral("sweep time"));
    fixed.insert(ui.comboPSampleWindow, QStringLiteral("number of samples per sweep"));
    fixed.insert(ui.comboPBandwidth, QStringLiteral("bandwidth"));
    QObject* const displayButtons[] = {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2,
                                       ui.radioSpectrumDisplay_3, ui.radioSpectrumDisplay_4,
                                       ui.radioSpectrumDisplay_5};
    for (std::uint32_t n = 1; n <= 5; ++n)
        displays.insert(displayButtons[n - 1], n);
    // Filters go with this object when the recording is closed.
    for (QObject* control : fixed.keys() + displays.keys())
        control->installEventFilter(this);
    // Connected after the window's own slot, so this has the last word.
    connect(ui.spinBoxDopplerQueue, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TavrixPlayback::sweepCountChanged);
}

void TavrixPlayback::createDock() {
    dock = new QDockWidget(tr("Playback: %1").arg(name), &window);
    dock->setObjectName(QStringLiteral("playbackDock"));
    auto* content = new QWidget(dock);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    strip = new OverviewStrip(content);
    controls = new PlaybackBar(content);
    column->addWidget(strip);
    column->addWidget(controls);
    dock->setWidget(content);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);

    const double sweepSeconds = recording->Seconds(recording->Recorded().samplesPerSweep());
    controls->setDuration(recording->DurationSeconds(), sweepSeconds);
    controls->setSpeed(recording->Speed());
    controls->setLoop(recording->Loop());
    controls->setPaused(recording->Paused());
    strip->setDuration(recording->DurationSeconds());

    connect(controls, &PlaybackBar::pausedChanged, this, &TavrixPlayback::setPaused);
    connect(controls, &PlaybackBar::stepRequested, this, &TavrixPlayback::step);
    connect(controls, &PlaybackBar::seekRequested, this, &TavrixPlayback::seekTo);
    connect(strip, &OverviewStrip::seekRequested, this, &TavrixPlayback::seekTo);
    connect(controls, &PlaybackBar::speedChanged, this, &TavrixPlayback::setSpeed);
    connect(controls, &PlaybackBar::loopChanged, this, &TavrixPlayback::setLoop);
    connect(controls, &PlaybackBar::regionStartRequested, this, [this] { markRegion(true); });
    connect(controls, &PlaybackBar::regionEndRequested, this, [this] { markRegion(false); });
    connect(controls, &PlaybackBar::regionClearRequested, this, &TavrixPlayback::clearRegion);
    connect(controls, &PlaybackBar::clipRequested, this, &TavrixPlayback::saveClip);

    // The overview is made in the background from a reader of its own.
    overviewTask = new OverviewTask();
    connect(overviewTask, &OverviewTask::progress, strip, &OverviewStrip::setProgress);
    connect(overviewTask, &OverviewTask::finished, strip, &OverviewStrip::setImage);
    connect(overviewTask, &OverviewTask::failed, strip, &OverviewStrip::setFailed);
    overviewTask->start(QString::fromStdString(recording->Path()), kOverviewColumns);
}

bool TavrixPlayback::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const auto control = fixed.constFind(watched);
    if (control != fixed.constEnd()) {
        switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (isFocusKey(static_cast<QKeyEvent*>(event)->key()))
                return false;
            if (type == QEvent::KeyPress)
                refuse(QStringLiteral("the %1 is fixed by the recording %2").arg(*control, name));
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            refuse(QStringLiteral("the %1 is fixed by the recording %2").arg(*control, name));
            return true;
        case QEvent::MouseButtonRelease:
            return true;
        default:
            return false;
        }
    }
    const auto display = displays.constFind(watched);
    if (display != displays.constEnd()) {
        const bool press =
            type == QEvent::MouseButtonPress ||
            (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space);
        if (!press)
            return false;
        const QString problem = frameProblem(*display, window.ui.spinBoxDopplerQueue->value());
        if (problem.isEmpty())
            return false;
        refuse(problem);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TavrixPlayback::sweepCountChanged(int sweeps) {
    // The range displays of FMCW take one sweep, whatever the count.
    const QString problem =
        oneSweepFrame(window.displayMode) ? QString() : frameProblem(window.displayMode, sweeps);
    if (problem.isEmpty()) {
        acceptedSweeps = sweeps;
        return;
    }
    // The chains read the count at their next tick, which cannot come before this.
    window.ui.spinBoxDopplerQueue->setValue(acceptedSweeps);
    refuse(problem);
}

void TavrixPlayback::refuse(const QString& reason) {
    tell(QStringLiteral("Refused: ") + reason);
}

void TavrixPlayback::tell(const QString& message) {
    notice = message;
    noticeAge.start();
    window.statusBar()->showMessage(notice);
}

void TavrixPlayback::beforeTick() {
    if (!recording->AtEnd()) {
        endTold = false;
        return;
    }
    if (endTold)
        return;
    endTold = true;
    controls->setPaused(true);
    window.setDisplayPaused(true);
    tell(QStringLiteral("Playback of %1 reached its end (%2); Play starts it again")
             .arg(name, PlaybackBar::timeText(recording->DurationSeconds())));
}

QString TavrixPlayback::tickSuffix() const {
    QString text = QStringLiteral(" | Playback %1 / %2 s")
                       .arg(shownSeconds, 0, 'f', 3)
                       .arg(recording->DurationSeconds(), 0, 'f', 3);
    if (!notice.isEmpty() && noticeAge.isValid() && noticeAge.elapsed() < kNoticeMs)
        text += QStringLiteral(" | ") + notice;
    return text;
}

void TavrixPlayback::frameShown(double seconds) {
    shownSeconds = seconds;
    controls->setPosition(seconds);
    strip->setPosition(seconds);
}

void TavrixPlayback::seekTo(double seconds) {
    const std::uint64_t sample = recording->SampleAt(seconds);
    std::string why;
    if (!recording->Seek(sample, &why)) {
        refuse(QString::fromStdString(why));
        return;
    }
    endTold = false;
    frameShown(recording->Seconds(sample));
}

void TavrixPlayback::setPaused(bool paused) {
    recording->SetPaused(paused);
    controls->setPaused(paused);
    window.setDisplayPaused(paused);
    if (paused)
        return;
    endTold = false;
    playIfStopped();
}

void TavrixPlayback::step() {
    if (recording->AtEnd()) {
        tell(QStringLiteral("Playback of %1 is at its end; Play starts it again").arg(name));
        return;
    }
    recording->Step();
    playIfStopped();
}

void TavrixPlayback::playIfStopped() {
    // The dock's controls work on a stopped stream too: they start it again, as Activate does.
    if (!window.ui.buttonActivateDevice->isChecked())
        window.ui.buttonActivateDevice->click();
}

void TavrixPlayback::setSpeed(double speed) {
    recording->SetSpeed(speed);
    controls->setSpeed(recording->Speed());
}

void TavrixPlayback::setLoop(bool loop) {
    recording->SetLoop(loop);
    controls->setLoop(loop);
    endTold = false;
}

void TavrixPlayback::markRegion(bool start) {
    const std::uint64_t shown = recording->SampleAt(shownSeconds);
    std::optional<radar::RecordingPlayer::Region> region = recording->LoopRegion();
    const std::uint64_t frame =
        frameSamples(window.displayMode, window.ui.spinBoxDopplerQueue->value());
    if (!region)
        region = radar::RecordingPlayer::Region{0, recording->SampleCount()};
    if (start)
        region->first = shown;
    else
        region->end = shown + frame;
    std::string why;
    if (!recording->SetLoopRegion(region, &why)) {
        refuse(QString::fromStdString(why));
        return;
    }
    showRegion();
}

void TavrixPlayback::clearRegion() {
    recording->SetLoopRegion(std::nullopt);
    showRegion();
}

void TavrixPlayback::showRegion() {
    const std::optional<radar::RecordingPlayer::Region> region = recording->LoopRegion();
    std::optional<std::pair<double, double>> seconds;
    if (region)
        seconds =
            std::make_pair(recording->Seconds(region->first), recording->Seconds(region->end));
    controls->setLoopRegion(seconds);
    strip->setLoopRegion(seconds);
}

void TavrixPlayback::saveClip() {
    const std::optional<radar::RecordingPlayer::Region> region = recording->LoopRegion();
    if (!region) {
        refuse(QStringLiteral("a clip is the loop region: mark one first"));
        return;
    }
    const QFileInfo source(QString::fromStdString(recording->Path()));
    const bool sigmf = source.fileName().contains(QStringLiteral(".sigmf"));
    const QString base = source.completeBaseName().section(QLatin1Char('.'), 0, 0);
    const QString proposed =
        QStringLiteral("%1-clip-%2s%3")
            .arg(base)
            .arg(recording->Seconds(region->first), 0, 'f', 3)
            .arg(sigmf ? QStringLiteral(".sigmf-meta") : QStringLiteral(".dat"));
    const QString chosen = window.askSaveFileName(
        {tr("Save Clip"), source.dir().filePath(proposed),
         tr("Text recording (*.dat *.txt);;SigMF recording (*.sigmf-meta)"), true});
    if (chosen.isEmpty())
        return;
    // Written on a thread of its own (a long clip of a text recording takes seconds) while the
    // window goes on drawing under a modal busy note; only the outcome comes back.
    QProgressDialog busy(tr("Saving the clip as %1").arg(chosen), QString(), 0, 0, &window);
    busy.setObjectName(QStringLiteral("clipProgress"));
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(300);
    std::string error;
    bool saved = false;
    std::atomic<bool> done{false};
    std::thread writer([&, path = recording->Path(), out = chosen.toStdString(),
                        label = controls->label().toStdString(), first = region->first,
                        count = region->end - region->first] {
        saved = tavrix::record::writeClip(path, out, first, count, label, error);
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writer.join();
    busy.reset();
    if (!saved) {
        tell(QStringLiteral("Clip not saved: ") + QString::fromStdString(error));
        return;
    }
    tell(QStringLiteral("Clip of %1 (%2 from %3) saved as %4")
             .arg(name, PlaybackBar::timeText(recording->Seconds(region->end - region->first)),
                  PlaybackBar::timeText(recording->Seconds(region->first)), chosen));
}
