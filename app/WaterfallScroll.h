#pragma once

#include <QObject>

class QEvent;
class Tavrix;

// Scrolls a paused waterfall back through the rows it keeps: over the bottom plot the mouse
// wheel moves a tenth of a screen a notch, Page Up and Page Down a screen (up: older rows).
// While playing, or with no scrolling waterfall, the events go on as usual.
class WaterfallScroll : public QObject {
public:
    // Watches the window's bottom plot and its canvas, as a child of the window.
    explicit WaterfallScroll(Tavrix& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Tavrix& window_;
};
