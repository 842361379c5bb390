#ifndef TAVRIX_APP_TAVRIXPLAYBACK_H
#define TAVRIX_APP_TAVRIXPLAYBACK_H

// Playback of a recording through the window's processing chains. This object puts the
// parameters it was recorded with into the controls and refuses changes to them, keeps the
// free controls to frames the recording can fill, and drives the player from the playback
// dock: its controls, and an overview of the whole recording that can be clicked to seek.

#include "radar/RecordingPlayer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class OverviewStrip;
class OverviewTask;
class PlaybackBar;
class QDockWidget;
class Tavrix;

class TavrixPlayback : public QObject {
    Q_OBJECT

public:
    // Makes `window` play `player` (before it is activated). Returns why the window's chains
    // cannot play it, or an empty string once attached: then the object is a child of the
    // window, which knows it as `playback`, and the playback dock is shown.
    static QString attach(Tavrix& window, std::unique_ptr<tavrix::radar::RecordingPlayer> player);
    // Why no frame of the recording's mode fits in it (with `fewestSweeps` to a burst), or
    // empty.
    static QString problemPlaying(const tavrix::radar::RecordingPlayer& player, int fewestSweeps);
    ~TavrixPlayback() override;

    tavrix::radar::RecordingPlayer& player() { return *recording; }
    const QString& fileName() const { return name; }

    // Runs before each tick: notices a recording played once to its end.
    void beforeTick();
    // Follows the tick's time message: the position in the recording, then, for a few
    // seconds, the last change refused.
    QString tickSuffix() const;
    // A frame starting `seconds` into the recording is drawn.
    void frameShown(double seconds);

    // Why a frame of display mode `display` (1..5) with `sweeps` sweeps cannot be played:
    // the recording is shorter. Empty when it can.
    QString frameProblem(std::uint32_t display, int sweeps) const;

    // The controls' actions, also for tests.
    void seekTo(double seconds);
    void setPaused(bool paused);
    void step();
    void setSpeed(double speed);
    void setLoop(bool loop);
    // The loop region from the frame shown on (`start`) or up to its end.
    void markRegion(bool start);
    void clearRegion();
    // Asks for a file name and saves the loop region there as a new recording.
    void saveClip();

    PlaybackBar* bar() const { return controls; }
    OverviewStrip* overview() const { return strip; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TavrixPlayback(Tavrix& window, std::unique_ptr<tavrix::radar::RecordingPlayer> player);
    bool oneSweepFrame(std::uint32_t display) const;
    std::uint64_t frameSamples(std::uint32_t display, int sweeps) const;
    void setControls();
    void guardControls();
    void createDock();
    void showRegion();
    void sweepCountChanged(int sweeps);
    void refuse(const QString& reason);
    void playIfStopped();
    void tell(const QString& message);

    Tavrix& window;
    std::unique_ptr<tavrix::radar::RecordingPlayer> recording;
    QString name;                            // the recording's file name
    QHash<QObject*, QString> fixed;          // controls set from the header, by what they choose
    QHash<QObject*, std::uint32_t> displays; // display-mode buttons, by their mode
    int acceptedSweeps = 0;
    QString notice;
    QElapsedTimer noticeAge;
    double shownSeconds = 0.0;
    bool endTold = false;
    QPointer<QDockWidget> dock; // the window may delete it first, when it closes
    PlaybackBar* controls = nullptr;
    OverviewStrip* strip = nullptr;
    OverviewTask* overviewTask = nullptr;
};

#endif
