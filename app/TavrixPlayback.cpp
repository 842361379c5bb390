#include "app/TavrixPlayback.h"

#include "app/Tavrix.h"
#include "sim/PlaybackSource.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStatusBar>

namespace {

// A refused change stays readable this long behind the ticks' time messages.
constexpr qint64 kNoticeMs = 5000;
// Every frame read skips the first 2048 words (1024 samples) of its transfer.
constexpr std::uint64_t kSkippedSamples = 1024;
// The FMCW range chain waits this long for its sweep; the burst chains wait twice the
// burst's duration plus this.
constexpr double kReadSlackSeconds = 1.0;
// Leeway for the event loop between a tick and its read on a paced board.
constexpr double kSchedulingSeconds = 0.1;

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

bool isFocusKey(int key) {
    return key == Qt::Key_Tab || key == Qt::Key_Backtab;
}

} // namespace

TavrixPlayback::TavrixPlayback(Tavrix& w, std::shared_ptr<sim::PlaybackSource> s)
    : QObject(&w), window(w), source(std::move(s)),
      name(QFileInfo(QString::fromStdString(source->path())).fileName()) {}

QString TavrixPlayback::attach(Tavrix& window, std::shared_ptr<sim::PlaybackSource> source) {
    auto* playback = new TavrixPlayback(window, std::move(source));
    // The mode's smallest frame: one sweep for the range displays of FMCW, the fewest
    // sweeps of a burst for CW and FSK.
    const bool fmcw = playback->source->recorded().mode == sim::Mode::FmcwSawtooth;
    const QString problem =
        playback->frameProblem(fmcw ? 1 : 2, window.ui.spinBoxDopplerQueue->minimum());
    if (!problem.isEmpty()) {
        delete playback;
        return problem;
    }
    playback->setControls();
    playback->guardControls();
    window.playback = playback;
    return {};
}

bool TavrixPlayback::oneSweepFrame(std::uint32_t display) const {
    return source->recorded().mode == sim::Mode::FmcwSawtooth && (display == 1 || display == 5);
}

std::uint64_t TavrixPlayback::frameSamples(std::uint32_t display, int sweeps) const {
    const auto perSweep = static_cast<std::uint64_t>(source->recorded().samplesPerSweep);
    return oneSweepFrame(display) ? perSweep : perSweep * static_cast<std::uint64_t>(sweeps);
}

QString TavrixPlayback::frameProblem(std::uint32_t display, int sweeps) const {
    const sim::Acquisition& recorded = source->recorded();
    const auto perSweep = static_cast<std::uint64_t>(recorded.samplesPerSweep);
    const std::uint64_t count = frameSamples(display, sweeps);
    if (count > source->sampleCount())
        return QStringLiteral("%1 holds %2 sweeps, fewer than the %3 of one %4 frame")
            .arg(name)
            .arg(source->sampleCount() / perSweep)
            .arg(count / perSweep)
            .arg(QLatin1String(displayName(display)));

    const double rate = recorded.sampleRate();
    const double waits = oneSweepFrame(display)
                             ? kReadSlackSeconds
                             : 2.0 * static_cast<double>(count) / rate + kReadSlackSeconds;
    const double arrives =
        static_cast<double>(count + 2 * kSkippedSamples) / (rate * source->options().speed);
    if (arrives + kSchedulingSeconds >= waits)
        return QStringLiteral("%1 at %2 times its rate takes %3 s to deliver one %4 frame, "
                              "longer than the chain waits for it (%5 s)")
            .arg(name)
            .arg(source->options().speed)
            .arg(arrives, 0, 'f', 2)
            .arg(QLatin1String(displayName(display)))
            .arg(waits, 0, 'f', 2);
    return {};
}

void TavrixPlayback::setControls() {
    Ui::Tavrix& ui = window.ui;
    const sim::PlaybackSettings& s = source->settings();
    // Activation and the parameter slots take everything from the controls; no slot needs
    // to run before that.
    const QSignalBlocker blockers[] = {
        QSignalBlocker(ui.radioOperationMode_1),   QSignalBlocker(ui.radioOperationMode_2),
        QSignalBlocker(ui.radioOperationMode_4),   QSignalBlocker(ui.radioOperationMode_5),
        QSignalBlocker(ui.device_centerFrequency), QSignalBlocker(ui.comboPSweepTime),
        QSignalBlocker(ui.comboPSampleWindow),     QSignalBlocker(ui.comboPBandwidth),
        QSignalBlocker(ui.spinBoxDopplerQueue)};
    switch (s.mode) {
    case sim::Mode::FmcwSawtooth:
        ui.radioOperationMode_1->setChecked(true);
        ui.comboPBandwidth->setCurrentIndex(s.bandwidthChoice);
        break;
    case sim::Mode::Fsk:
        ui.radioOperationMode_4->setChecked(true);
        break;
    case sim::Mode::Cw:
        ui.radioOperationMode_5->setChecked(true);
        break;
    case sim::Mode::FmcwTriangle:
        break; // such recordings have no header and never get here
    }
    ui.device_centerFrequency->setCurrentIndex(s.deviceModel);
    ui.comboPSweepTime->setCurrentIndex(s.sweepCode);
    ui.comboPSampleWindow->setCurrentIndex(s.windowCode);

    // Start with a burst the recording can fill, so the first burst display plays.
    const std::uint32_t burstDisplay = s.mode == sim::Mode::FmcwSawtooth ? 3 : 2;
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
    for (QObject* control : fixed.keys() + displays.keys())
        control->installEventFilter(this);
    // Connected after the window's own slot, so this has the last word.
    connect(ui.spinBoxDopplerQueue, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TavrixPlayback::sweepCountChanged);
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
    notice = QStringLiteral("Refused: ") + reason;
    noticeAge.start();
    window.statusBar()->showMessage(notice);
}

bool TavrixPlayback::beforeTick() {
    if (source->options().loop)
        return true;
    const std::uint64_t needed =
        frameSamples(window.displayMode, window.ui.spinBoxDopplerQueue->value()) +
        2 * kSkippedSamples + static_cast<std::uint64_t>(source->recorded().samplesPerSweep);
    if (source->remainingSamples() >= needed)
        return true;
    window.ui.buttonActivateDevice->click(); // deactivates, as the user would
    window.statusBar()->showMessage(
        QStringLiteral("Playback of %1 finished (%2 s); Activate plays it again")
            .arg(name)
            .arg(source->durationSeconds(), 0, 'f', 3));
    return false;
}

QString TavrixPlayback::tickSuffix() const {
    QString text = QStringLiteral(" | Playback %1 / %2 s")
                       .arg(source->positionSeconds(), 0, 'f', 3)
                       .arg(source->durationSeconds(), 0, 'f', 3);
    if (!notice.isEmpty() && noticeAge.isValid() && noticeAge.elapsed() < kNoticeMs)
        text += QStringLiteral(" | ") + notice;
    return text;
}
