#ifndef TAVRIX_APP_DETECTIONSDOCK_H
#define TAVRIX_APP_DETECTIONSDOCK_H

#include "radar/Detection.h"

#include <QDockWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSettings;
class QSpinBox;
class QTableWidget;

// The "Detections" dock: the detector's settings and a table of the targets of the last frame,
// strongest first. It holds no radar state; the window reads settings() when settingsChanged()
// fires and hands each frame's detections to show().
class DetectionsDock : public QDockWidget {
    Q_OBJECT

public:
    explicit DetectionsDock(QWidget* parent = nullptr);

    tavrix::radar::DetectorSettings settings() const;
    // Fills the table, "—" where the chain has no range or no velocity; at most kMaxRows rows.
    void show(const std::vector<tavrix::radar::Detection>& detections);
    using QDockWidget::show;

    // The settings between runs, under "detector/"; values out of range keep the controls'.
    void restore(QSettings& store);
    void store(QSettings& store) const;

    static constexpr int kMaxRows = 200;

signals:
    void settingsChanged();

private:
    QCheckBox* enabled = nullptr;
    QComboBox* variant = nullptr;
    QSpinBox* guard = nullptr;
    QSpinBox* training = nullptr;
    QComboBox* pfa = nullptr; // exponents 3..6 of 10^-n
    QCheckBox* cross = nullptr;
    QTableWidget* table = nullptr;
    QLabel* count = nullptr;
};

#endif
