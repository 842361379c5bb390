#ifndef TAVRIX_APP_TAVRIXPLAYBACK_H
#define TAVRIX_APP_TAVRIXPLAYBACK_H

// Playback of a recording through the window's processing chains. The emulated board streams
// the recording; this object puts the parameters it was recorded with into the controls,
// refuses changes to them, and keeps the free controls to frames the recording can fill.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class Tavrix;

namespace sim {
class PlaybackSource;
}

class TavrixPlayback : public QObject {
    Q_OBJECT

public:
    // Makes `window` play `source` (before it is activated). Returns why the window's chains
    // cannot play it, or an empty string once attached: then the object is a child of the
    // window, which knows it as `playback`.
    static QString attach(Tavrix& window, std::shared_ptr<sim::PlaybackSource> source);

    // Runs before each tick. A recording played once ends when what is left cannot fill the
    // next frame: streaming stops as if the user deactivated, the status bar says so, and the
    // result is false.
    bool beforeTick();
    // Follows the tick's time message: the position in the recording, then, for a few
    // seconds, the last change refused.
    QString tickSuffix() const;

    // Why a frame of display mode `display` (1..5) with `sweeps` sweeps cannot be played:
    // the recording is shorter, or at the playback speed it arrives slower than the chain
    // waits for it. Empty when it can.
    QString frameProblem(std::uint32_t display, int sweeps) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TavrixPlayback(Tavrix& window, std::shared_ptr<sim::PlaybackSource> source);
    bool oneSweepFrame(std::uint32_t display) const;
    std::uint64_t frameSamples(std::uint32_t display, int sweeps) const;
    void setControls();
    void guardControls();
    void sweepCountChanged(int sweeps);
    void refuse(const QString& reason);

    Tavrix& window;
    std::shared_ptr<sim::PlaybackSource> source;
    QString name;                            // the recording's file name
    QHash<QObject*, QString> fixed;          // controls set from the header, by what they choose
    QHash<QObject*, std::uint32_t> displays; // display-mode buttons, by their mode
    int acceptedSweeps = 0;
    QString notice;
    QElapsedTimer noticeAge;
};

#endif
