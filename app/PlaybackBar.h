#ifndef TAVRIX_APP_PLAYBACKBAR_H
#define TAVRIX_APP_PLAYBACKBAR_H

// The controls of a recording being played: play/pause, one frame on, the position with its
// time, speed, looping and a loop region, and saving that region as a clip. It only shows and
// asks; TavrixPlayback acts on what it asks.

#include <QWidget>

#include <optional>
#include <utility>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class PlaybackBar : public QWidget {
    Q_OBJECT

public:
    explicit PlaybackBar(QWidget* parent = nullptr);

    // The recording's length, and the step the slider moves in (a sweep).
    void setDuration(double seconds, double sweepSeconds);
    // Where the frame shown starts; the slider follows unless the user holds it.
    void setPosition(double seconds);
    void setPaused(bool paused);
    void setSpeed(double speed);
    void setLoop(bool loop);
    void setLoopRegion(std::optional<std::pair<double, double>> seconds);
    QString label() const;
    double position() const { return shown; }

    // "12.345 s", or "1:02.345" from a minute on.
    static QString timeText(double seconds);

signals:
    void pausedChanged(bool paused);
    void stepRequested();
    void seekRequested(double seconds);
    void speedChanged(double speed);
    void loopChanged(bool loop);
    void regionStartRequested(); // the loop region starts where the frame shown starts
    void regionEndRequested();   // ... and ends where it ends
    void regionClearRequested();
    void clipRequested();

private:
    void showTime();

    QPushButton* play;
    QPushButton* step;
    QSlider* slider;
    QLabel* time;
    QDoubleSpinBox* speed;
    QCheckBox* loop;
    QPushButton* regionStart;
    QPushButton* regionEnd;
    QPushButton* regionClear;
    QLabel* region;
    QLineEdit* labelEdit;
    QPushButton* clip;
    double duration = 0.0;
    double sweep = 1.0;
    double shown = 0.0;
};

#endif
