#include "app/PlaybackBar.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>
#include <limits>

namespace {

QPushButton* button(const QString& text, const QString& name, const QString& tip, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    return b;
}

} // namespace

PlaybackBar::PlaybackBar(QWidget* parent)
    : QWidget(parent), play(button(tr("Pause"), QStringLiteral("playbackPlay"),
                                   tr("Pause or go on playing (Space)"), this)),
      step(button(tr("Step"), QStringLiteral("playbackStep"), tr("One frame on, while paused"),
                  this)),
      slider(new QSlider(Qt::Horizontal, this)), time(new QLabel(this)),
      speed(new QDoubleSpinBox(this)), loop(new QCheckBox(tr("Loop"), this)),
      regionStart(button(tr("From here"), QStringLiteral("playbackRegionStart"),
                         tr("The loop region starts at the frame shown"), this)),
      regionEnd(button(tr("To here"), QStringLiteral("playbackRegionEnd"),
                       tr("The loop region ends after the frame shown"), this)),
      regionClear(button(tr("Whole"), QStringLiteral("playbackRegionClear"),
                         tr("Loop over the whole recording"), this)),
      region(new QLabel(this)), labelEdit(new QLineEdit(this)),
      clip(button(tr("Save clip..."), QStringLiteral("playbackClip"),
                  tr("Save the loop region as a new recording"), this)) {
    play->setCheckable(true);
    play->setShortcut(Qt::Key_Space);
    slider->setObjectName(QStringLiteral("playbackSlider"));
    // Seeks when let go, not at every pixel of a drag.
    slider->setTracking(false);
    slider->setMinimumWidth(200);
    time->setObjectName(QStringLiteral("playbackTime"));
    speed->setObjectName(QStringLiteral("playbackSpeed"));
    speed->setRange(0.25, 10.0);
    speed->setSingleStep(0.25);
    speed->setDecimals(2);
    speed->setSuffix(QStringLiteral(" x"));
    speed->setValue(1.0);
    speed->setToolTip(tr("Times the rate the recording was taken at"));
    loop->setObjectName(QStringLiteral("playbackLoop"));
    region->setObjectName(QStringLiteral("playbackRegion"));
    labelEdit->setObjectName(QStringLiteral("playbackLabel"));
    labelEdit->setPlaceholderText(tr("label of the clip"));
    labelEdit->setMaximumWidth(160);

    // Where it is on top, what to do with a part of it below: one row is too wide for a
    // laptop's screen.
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    auto* position = new QHBoxLayout();
    for (QWidget* w : std::initializer_list<QWidget*>{play, step, slider, time})
        position->addWidget(w, w == slider ? 1 : 0);
    auto* part = new QHBoxLayout();
    for (QWidget* w : std::initializer_list<QWidget*>{speed, loop, regionStart, regionEnd,
                                                      regionClear, region, labelEdit, clip})
        part->addWidget(w);
    part->insertStretch(6);
    rows->addLayout(position);
    rows->addLayout(part);

    connect(play, &QPushButton::toggled, this, [this](bool checked) {
        // Checked means paused: the button then offers to play.
        play->setText(checked ? tr("Play") : tr("Pause"));
        step->setEnabled(checked);
        emit pausedChanged(checked);
    });
    connect(step, &QPushButton::clicked, this, &PlaybackBar::stepRequested);
    connect(slider, &QSlider::valueChanged, this,
            [this](int value) { emit seekRequested(value * sweep); });
    connect(speed, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &PlaybackBar::speedChanged);
    connect(loop, &QCheckBox::toggled, this, &PlaybackBar::loopChanged);
    connect(regionStart, &QPushButton::clicked, this, &PlaybackBar::regionStartRequested);
    connect(regionEnd, &QPushButton::clicked, this, &PlaybackBar::regionEndRequested);
    connect(regionClear, &QPushButton::clicked, this, &PlaybackBar::regionClearRequested);
    connect(clip, &QPushButton::clicked, this, &PlaybackBar::clipRequested);
    step->setEnabled(false);
    setLoopRegion(std::nullopt);
}

QString PlaybackBar::timeText(double seconds) {
    if (!(seconds >= 0))
        seconds = 0;
    if (seconds < 60)
        return QString::number(seconds, 'f', 3) + QStringLiteral(" s");
    const auto minutes = static_cast<long long>(seconds / 60);
    const double rest = seconds - 60.0 * static_cast<double>(minutes);
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 6, 'f', 3, QLatin1Char('0'));
}

void PlaybackBar::setDuration(double seconds, double sweepSeconds) {
    duration = seconds;
    sweep = sweepSeconds > 0 ? sweepSeconds : 1.0;
    const double steps = std::floor(duration / sweep);
    const QSignalBlocker quiet(slider);
    slider->setRange(0, static_cast<int>(std::min(steps, double{std::numeric_limits<int>::max()})));
    // A long recording has more sweeps than the slider has values: it then moves in bigger
    // steps, which seek to the sweep they land in.
    if (steps > std::numeric_limits<int>::max())
        sweep = duration / std::numeric_limits<int>::max();
    slider->setPageStep(std::max(1, slider->maximum() / 20));
    showTime();
}

void PlaybackBar::setPosition(double seconds) {
    shown = seconds;
    if (!slider->isSliderDown()) {
        const QSignalBlocker quiet(slider);
        slider->setValue(static_cast<int>(std::lround(seconds / sweep)));
    }
    showTime();
}

void PlaybackBar::showTime() {
    time->setText(timeText(shown) + QStringLiteral(" / ") + timeText(duration));
}

void PlaybackBar::setPaused(bool paused) {
    if (play->isChecked() == paused)
        return;
    const QSignalBlocker quiet(play);
    play->setChecked(paused);
    play->setText(paused ? tr("Play") : tr("Pause"));
    step->setEnabled(paused);
}

void PlaybackBar::setSpeed(double value) {
    const QSignalBlocker quiet(speed);
    speed->setValue(value);
}

void PlaybackBar::setLoop(bool on) {
    const QSignalBlocker quiet(loop);
    loop->setChecked(on);
}

void PlaybackBar::setLoopRegion(std::optional<std::pair<double, double>> seconds) {
    regionClear->setEnabled(seconds.has_value());
    clip->setEnabled(seconds.has_value());
    region->setText(seconds ? timeText(seconds->first) + QStringLiteral(" – ") +
                                  timeText(seconds->second)
                            : tr("whole recording"));
}

QString PlaybackBar::label() const {
    return labelEdit->text().trimmed();
}
