#pragma once

// A strip the width of the window showing the overview of the whole recording: time from left
// to right, range or velocity from bottom to top. It marks where playback is and the region
// looped, and a click or drag asks to move playback there. While the overview is being built
// it shows how far that is, and why when it failed.

#include "radar/RecordingOverview.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>
#include <utility>

class OverviewStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 70;

    explicit OverviewStrip(QWidget* parent = nullptr);

    // Colours from the image's own range: from 60 dB below its 99.5th percentile up to that.
    void setImage(const tavrix::radar::OverviewImage& image);
    void setProgress(double fraction);
    void setFailed(const QString& message);
    // Length of the time axis; without one the image's length is taken.
    void setDuration(double seconds);
    void setPosition(double seconds);
    void setLoopRegion(std::optional<std::pair<double, double>> seconds);
    // Back to empty: no image, progress, failure, position or loop.
    void clear();

    // The time at widget column `x`, held inside the recording.
    double timeAt(int x) const;

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    double axisSeconds() const;
    int xAt(double seconds) const;

    QImage picture; // columns x rows, time left to right, first bin at the bottom
    double imageSeconds = 0.0;
    double duration = 0.0;
    std::optional<double> position;
    std::optional<std::pair<double, double>> loop;
    std::optional<double> progress; // while the image is being built
    QString failure;
};
