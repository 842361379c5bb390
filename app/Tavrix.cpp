#include "app/Tavrix.h"
#include "app/DetectionsDock.h"
#include "camera/MultimediaCameraSource.h"
#include "device/RadarDevice.h"
#include "display/FrameCachingCanvas.h"
#include "display/Waterfall.h"

#include <QDockWidget>
#include <QPalette>
#include <QPen>
#include <QVideoWidget>

#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>

Tavrix::Tavrix(UsbDriver& usbDriver, QWidget* parent) : QMainWindow(parent) {
    // The resources live in a static library; without this the linker drops them.
    Q_INIT_RESOURCE(tavrix);

    ui.setupUi(this);
    for (QwtPlot* plot : {ui.qwtPlotScope_1, ui.qwtPlotScope_2}) {
        const QBrush background = plot->canvasBackground();
        plot->setCanvas(new FrameCachingCanvas(plot));
        plot->setCanvasBackground(background);
    }

    radarDevice = new RadarDevice(usbDriver);
    deviceFrames = std::make_unique<tavrix::radar::DeviceFrames>(*radarDevice);
    pipeline = std::make_unique<tavrix::radar::Pipeline>();
    on_buttonRefreshDeviceList_clicked();

    updateIntervalMs = static_cast<std::uint32_t>(ui.spinBoxPUpdateRate->value());
    topAxisDirty = 1;
    bottomAxisDirty = 1;
    slidersDirty = true;
    clutterReset = 1;
    waterfallRows = static_cast<std::uint32_t>(ui.SpectrogramRows->value());

    // The chains keep at most 1024 sweeps, although the form allows more.
    ui.spinBoxDopplerQueue->setMaximum(1024);

    connectControls();
    addPlotLegends();

    ui.fskGroupBox->hide();
    ui.filterOptionDCSubtract->setChecked(true);
    // The triangle mode has an operating-word code but no processing.
    ui.radioOperationMode_2->hide();
    setDisplayControlsEnabled(false);

    createCameraDock();

    cameraSource = std::make_unique<tavrix::camera::MultimediaCameraSource>();
    refreshCameraDevices();
    connect(ui.sdrCamera_RefreshDevices, &QPushButton::clicked, this,
            &Tavrix::refreshCameraDevices);
    connect(ui.sdrCamera_DevicesList, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &Tavrix::setActiveCamera);
    connect(ui.sdrCamera_Status, &QPushButton::clicked, this, &Tavrix::setCameraStatus);
    detectionsDock = new DetectionsDock(this);
    addDockWidget(Qt::RightDockWidgetArea, detectionsDock);
    addFileMenu();
    addLayoutMenu();
    setAcceptDrops(true);
}

Tavrix::~Tavrix() {
    stopWorker(); // it holds the device and the pipeline
    delete waterfall;
    delete curveTopI;
    delete curveTopQ;
    delete curveBottom;
    delete markerFskThreshold;
    delete markerFskTarget;
    delete markerCwPeak;
    delete markerRangePeak;
    delete gridBottom;
    delete zoneBottom;
    delete curveDetections;
    delete radarDevice;
    // The camera goes before the view it renders into.
    camera.reset();
    delete cameraView;
}

void Tavrix::connectControls() {
    connect(ui.captureViewTop, &QPushButton::clicked, this, &Tavrix::exportPlotImageTop);
    connect(ui.captureViewBottom, &QPushButton::clicked, this, &Tavrix::exportPlotImageBottom);

    for (QRadioButton* mode : {ui.radioOperationMode_1, ui.radioOperationMode_2,
                               ui.radioOperationMode_4, ui.radioOperationMode_5})
        connect(mode, &QRadioButton::clicked, this, &Tavrix::UpdateDisplayParameters);
    for (QPushButton* display :
         {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2, ui.radioSpectrumDisplay_3,
          ui.radioSpectrumDisplay_4, ui.radioSpectrumDisplay_5})
        connect(display, &QPushButton::clicked, this, &Tavrix::UpdateDisplayParameters);

    const auto indexChanged = QOverload<int>::of(&QComboBox::currentIndexChanged);
    for (QComboBox* parameter : {ui.comboPBandwidth, ui.comboPSampleWindow, ui.comboPSweepTime})
        connect(parameter, indexChanged, this, &Tavrix::UpdateOperatingParameters);
    for (QAbstractButton* option : std::initializer_list<QAbstractButton*>{
             ui.filterOptionDirectClutter, ui.filterOptionDirectClutterAverage,
             ui.filterOptionIQAmplitude})
        connect(option, &QAbstractButton::clicked, this, &Tavrix::UpdateOperatingParameters);

    const auto valueChanged = QOverload<int>::of(&QSpinBox::valueChanged);
    for (QSpinBox* spin : {ui.SpectrogramRows, ui.spinBoxDopplerQueue, ui.spinBoxPUpdateRate})
        connect(spin, valueChanged, this, &Tavrix::UpdateDisplayParameters);
    connect(ui.WaterfallRasterDataMethod, indexChanged, this, &Tavrix::UpdateDisplayParameters);

    connect(ui.recordButtonStart, &QPushButton::clicked, this, &Tavrix::recordBegin);

    connect(ui.DR_Max_Plus, &QPushButton::clicked, this, &Tavrix::Qt_DR_Max_Plus);
    connect(ui.DR_Max_Minus, &QPushButton::clicked, this, &Tavrix::Qt_DR_Max_Minus);
    connect(ui.DR_Min_Plus, &QPushButton::clicked, this, &Tavrix::Qt_DR_Min_Plus);
    connect(ui.DR_Min_Minus, &QPushButton::clicked, this, &Tavrix::Qt_DR_Min_Minus);

    connect(ui.device_centerFrequency, indexChanged, this, &Tavrix::UpdateDisplayParameters);

    connect(ui.rangeFilter_High_Minus, &QPushButton::clicked, this,
            &Tavrix::Qt_rangeFilter_High_Minus);
    connect(ui.rangeFilter_High_Plus, &QPushButton::clicked, this,
            &Tavrix::Qt_rangeFilter_High_Plus);
    connect(ui.rangeFilter_Low_Minus, &QPushButton::clicked, this,
            &Tavrix::Qt_rangeFilter_Low_Minus);
    connect(ui.rangeFilter_Low_Plus, &QPushButton::clicked, this, &Tavrix::Qt_rangeFilter_Low_Plus);

    connect(ui.velocityFilter_High_Minus, &QPushButton::clicked, this,
            &Tavrix::Qt_velocityFilter_High_Minus);
    connect(ui.velocityFilter_High_Plus, &QPushButton::clicked, this,
            &Tavrix::Qt_velocityFilter_High_Plus);
    connect(ui.velocityFilter_Low_Minus, &QPushButton::clicked, this,
            &Tavrix::Qt_velocityFilter_Low_Minus);
    connect(ui.velocityFilter_Low_Plus, &QPushButton::clicked, this,
            &Tavrix::Qt_velocityFilter_Low_Plus);
}

void Tavrix::addPlotLegends() {
    for (QwtPlot* plot : {ui.qwtPlotScope_1, ui.qwtPlotScope_2}) {
        auto* legend = new QwtPlotLegendItem();
        legend->setMaxColumns(1);
        legend->setAlignment(Qt::AlignRight | Qt::AlignTop);
        legend->setTextPen(QPen(Qt::black));

        QColor background = palette().color(QPalette::Button);
        background.setAlphaF(0.8);
        legend->setBackgroundBrush(background);
        legend->setBorderRadius(3.0);
        legend->setBorderPen(QPen(QBrush(palette().color(QPalette::Dark)), 1, Qt::SolidLine,
                                  Qt::SquareCap, Qt::BevelJoin));

        // The plot owns attached items and deletes them with itself.
        legend->attach(plot);
    }
}

void Tavrix::createCameraDock() {
    camera = nullptr;
    cameraView = new QVideoWidget();
    cameraView->setObjectName(QStringLiteral("cameraView"));
    cameraDock = new QDockWidget(tr("Camera"), this);
    cameraDock->setObjectName(QStringLiteral("cameraDock"));
    addDockWidget(Qt::LeftDockWidgetArea, cameraDock);
}
