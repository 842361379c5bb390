#include "app/DetectionsDock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString kEnabled = QStringLiteral("detector/enabled");
const QString kVariant = QStringLiteral("detector/variant");
const QString kGuard = QStringLiteral("detector/guard");
const QString kTraining = QStringLiteral("detector/training");
const QString kPfaExponent = QStringLiteral("detector/pfaExponent");
const QString kCross = QStringLiteral("detector/cross");

constexpr int kFirstExponent = 3; // Pfa 1e-3 .. 1e-6
constexpr int kLastExponent = 6;

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QString Number(const std::optional<double>& value, int decimals) {
    return value ? QString::number(*value, 'f', decimals) : QStringLiteral("—");
}

} // namespace

DetectionsDock::DetectionsDock(QWidget* parent) : QDockWidget(tr("Detections"), parent) {
    setObjectName(QStringLiteral("detectionsDock"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    auto* form = new QFormLayout;

    enabled = new QCheckBox(tr("Detect targets"), body);
    enabled->setObjectName(QStringLiteral("detectorEnabled"));
    form->addRow(enabled);

    variant = new QComboBox(body);
    variant->setObjectName(QStringLiteral("detectorVariant"));
    variant->addItem(tr("CA (cell averaging)"));
    variant->addItem(tr("OS (ordered statistic)"));
    variant->setToolTip(tr("CA averages the training cells; OS takes their 3/4 quantile, which "
                           "a second target among them does not lift. OS is slower on the map."));
    form->addRow(tr("Variant"), variant);

    guard = new QSpinBox(body);
    guard->setObjectName(QStringLiteral("detectorGuard"));
    guard->setRange(0, 16);
    guard->setValue(tavrix::radar::DetectorSettings{}.guard);
    guard->setToolTip(tr("Resolution cells on each side kept out of the noise estimate"));
    form->addRow(tr("Guard cells"), guard);

    training = new QSpinBox(body);
    training->setObjectName(QStringLiteral("detectorTraining"));
    training->setRange(1, 64);
    training->setValue(tavrix::radar::DetectorSettings{}.training);
    training->setToolTip(tr("Resolution cells on each side, beyond the guard cells, that "
                            "estimate the noise"));
    form->addRow(tr("Training cells"), training);

    pfa = new QComboBox(body);
    pfa->setObjectName(QStringLiteral("detectorPfa"));
    for (int n = kFirstExponent; n <= kLastExponent; ++n)
        pfa->addItem(QStringLiteral("1e-%1").arg(n), n);
    pfa->setCurrentIndex(std::lround(-std::log10(tavrix::radar::DetectorSettings{}.pfa)) -
                         kFirstExponent);
    pfa->setToolTip(tr("False-alarm probability of each cell"));
    form->addRow(tr("False alarms"), pfa);

    cross = new QCheckBox(tr("Cross on the map"), body);
    cross->setObjectName(QStringLiteral("detectorCross"));
    cross->setToolTip(tr("Train on the cell's row and column instead of a window around it"));
    form->addRow(cross);
    layout->addLayout(form);

    table = new QTableWidget(0, 3, body);
    table->setObjectName(QStringLiteral("detectionsTable"));
    // Units under the names: on one line "Velocity (m/s)" alone takes more than a third of
    // the dock's width, and the three would not fit beside a scroll bar.
    table->setHorizontalHeaderLabels({tr("Range\n(m)"), tr("Velocity\n(m/s)"), tr("SNR\n(dB)")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(table, 1);

    count = new QLabel(body);
    count->setObjectName(QStringLiteral("detectionsCount"));
    layout->addWidget(count);
    setWidget(body);

    connect(enabled, &QCheckBox::toggled, this, &DetectionsDock::settingsChanged);
    connect(cross, &QCheckBox::toggled, this, &DetectionsDock::settingsChanged);
    connect(variant, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &DetectionsDock::settingsChanged);
    connect(pfa, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &DetectionsDock::settingsChanged);
    connect(guard, qOverload<int>(&QSpinBox::valueChanged), this, &DetectionsDock::settingsChanged);
    connect(training, qOverload<int>(&QSpinBox::valueChanged), this,
            &DetectionsDock::settingsChanged);
}

tavrix::radar::DetectorSettings DetectionsDock::settings() const {
    tavrix::radar::DetectorSettings s;
    s.enabled = enabled->isChecked();
    s.variant = variant->currentIndex() == 1 ? tavrix::radar::DetectorSettings::OS
                                             : tavrix::radar::DetectorSettings::CA;
    s.guard = guard->value();
    s.training = training->value();
    s.pfa = std::pow(10.0, -pfa->currentData().toInt());
    s.cross = cross->isChecked();
    return s;
}

void DetectionsDock::show(const std::vector<tavrix::radar::Detection>& detections) {
    const int rows = static_cast<int>(std::min<std::size_t>(detections.size(), kMaxRows));
    table->setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        const tavrix::radar::Detection& d = detections[static_cast<std::size_t>(i)];
        table->setItem(i, 0, Cell(Number(d.range_m, 2)));
        table->setItem(i, 1, Cell(Number(d.velocity_mps, 2)));
        table->setItem(i, 2, Cell(QString::number(d.snr_db, 'f', 1)));
    }
    count->setText(detections.size() > static_cast<std::size_t>(rows)
                       ? tr("%1 targets, the %2 strongest shown").arg(detections.size()).arg(rows)
                   : rows == 1 ? tr("1 target")
                               : tr("%1 targets").arg(rows));
}

void DetectionsDock::restore(QSettings& store) {
    // One notification for the whole set, not one per control.
    const tavrix::radar::DetectorSettings before = settings();
    const QSignalBlocker blockEnabled(enabled), blockVariant(variant), blockGuard(guard),
        blockTraining(training), blockPfa(pfa), blockCross(cross);
    enabled->setChecked(store.value(kEnabled, enabled->isChecked()).toBool());
    cross->setChecked(store.value(kCross, cross->isChecked()).toBool());
    const QString v = store.value(kVariant).toString();
    if (v == QLatin1String("CA") || v == QLatin1String("OS"))
        variant->setCurrentIndex(v == QLatin1String("OS") ? 1 : 0);
    bool ok = false;
    const int g = store.value(kGuard).toInt(&ok);
    if (ok && g >= guard->minimum() && g <= guard->maximum())
        guard->setValue(g);
    const int t = store.value(kTraining).toInt(&ok);
    if (ok && t >= training->minimum() && t <= training->maximum())
        training->setValue(t);
    const int n = store.value(kPfaExponent).toInt(&ok);
    if (ok && n >= kFirstExponent && n <= kLastExponent)
        pfa->setCurrentIndex(n - kFirstExponent);
    if (settings() != before)
        emit settingsChanged();
}

void DetectionsDock::store(QSettings& store) const {
    store.setValue(kEnabled, enabled->isChecked());
    store.setValue(kVariant,
                   variant->currentIndex() == 1 ? QStringLiteral("OS") : QStringLiteral("CA"));
    store.setValue(kGuard, guard->value());
    store.setValue(kTraining, training->value());
    store.setValue(kPfaExponent, pfa->currentData().toInt());
    store.setValue(kCross, cross->isChecked());
}
