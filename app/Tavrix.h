#ifndef TAVRIX_APP_TAVRIX_H
#define TAVRIX_APP_TAVRIX_H

#include "camera/CameraSource.h"
#include "dsp/FmcwRange.h"
#include "radar/AcquisitionWorker.h"
#include "radar/FrameSource.h"
#include "radar/Pipeline.h"
#include "radar/Readings.h"
#include "radar/Settings.h"
#include "ui_tavrix.h"

#include <QMainWindow>

#include <complex>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QMenu;
class QDockWidget;
class QSettings;
class QLabel;
class QTimer;
class QVideoWidget;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotGrid;
class QwtPlotMarker;
class QwtPlotRenderer;
class QwtPlotZoneItem;

class DetectionsDock;
class RadarDevice;
class TavrixPlayback;
class UsbDriver;
class Waterfall;

// The main window: the user interface and, at the same time, the holder of the radar
// connection and of all processing state. The processing chains are member operations that
// read the members below and the form's controls directly.
class Tavrix : public QMainWindow {
    Q_OBJECT

public:
    // `usbDriver` reaches the radar boards (libusb or the emulated board); it must outlive
    // the window.
    explicit Tavrix(UsbDriver& usbDriver, QWidget* parent = nullptr);
    ~Tavrix() override;

    // Acquisition and processing on a worker thread while streaming (the program's way); off,
    // each tick reads and processes on the calling thread, which tests step frame by frame.
    void setAcquisitionOnWorker(bool on) { acquisitionOnWorker = on; }

    // Enables or disables, together, the display-mode buttons and the control tool box.
    void setDisplayControlsEnabled(bool on);

    // Loads the embedded controller program into the board; true when every record arrived.
    bool UpdateFirmware();

    // Restores the window's geometry and dock layout, the folders last used, the device model
    // and the camera from `store`, and keeps it to store them again when the window closes.
    // True when `store` held a window to restore. Without a store nothing is remembered.
    bool rememberStateIn(QSettings* store);
    // Writes what rememberStateIn() restores.
    void storeState();
    // Back to the layout the window was built with.
    void resetLayout();

    // Plays the recording at `path` (text or SigMF) instead of the board: the recording's
    // parameters go into the controls and it starts playing, with the playback dock. Returns
    // why it cannot (also shown in the status bar), or an empty string.
    QString openRecording(const QString& path);
    // Back to the board, if a recording plays.
    void closeRecording();
    // The recordings opened lately, newest first (remembered with the window's state).
    QStringList recentRecordings() const;

    // Where the boards come from, for switching between them in the File menu: the real boards
    // (false) or the emulated one (true); the provider owns them. Without a provider the window
    // keeps its first driver.
    using BoardProvider = std::function<UsbDriver&(bool emulated)>;
    void setBoardProvider(BoardProvider provider, bool emulatedNow);
    // Closes any recording and lists the boards of that kind.
    void useBoard(bool emulated);

    // Replaces where the cameras come from (tests give a fake) and refreshes the list.
    void setCameraSource(std::unique_ptr<tavrix::camera::CameraSource> source);

    // A save dialog's question; an empty answer means cancelled. Tests answer through
    // saveFileDialog, which replaces the modal file dialog when set.
    struct SaveFileQuestion {
        QString caption;
        QString proposedName;
        QString filter;
        bool confirmOverwrite = true;
    };
    std::function<QString(const SaveFileQuestion&)> saveFileDialog;
    QString askSaveFileName(const SaveFileQuestion& question);
    // An open dialog's answer, as saveFileDialog: tests answer through openFileDialog.
    std::function<QString()> openFileDialog;

    // Recordings above either limit are read in parts into a temporary file beside the
    // proposed name, under a progress dialog (object name "recordProgress") that can cancel
    // them; the others in one read. Tests lower the limits and the request size.
    struct RecordingLimits {
        std::int64_t partedAboveSamples = std::int64_t{4} << 20; // 64 MiB as complex doubles
        int partedAboveSeconds = 5;
        std::uint32_t requestBytes = 0; // per stream request; 0: about a tenth of a second
    };
    RecordingLimits recordingLimits;

public slots:
    // Activation and acquisition cycle.
    void on_buttonRefreshDeviceList_clicked();
    void on_buttonActivateDevice_clicked();
    void on_spinBoxPUpdateRate_valueChanged(int value);
    void ReadStream();
    // Operating and display parameters.
    bool UpdateOperatingParameters();
    void UpdateDisplayParameters();
    // Recording of the raw stream and export of the plots.
    void UpdateRecordData(double samp_rate);
    void recordBegin();
    void exportPlotImageTop();
    void exportPlotImageBottom();
    // The numbers each plot holds, as the image buttons' neighbours save them.
    void exportPlotDataTop();
    void exportPlotDataBottom();

    // Step buttons beside the dynamic-range and window sliders.
    void Qt_DR_Max_Plus();
    void Qt_DR_Max_Minus();
    void Qt_DR_Min_Plus();
    void Qt_DR_Min_Minus();
    void Qt_rangeFilter_High_Minus();
    void Qt_rangeFilter_High_Plus();
    void Qt_rangeFilter_Low_Minus();
    void Qt_rangeFilter_Low_Plus();
    void Qt_velocityFilter_High_Minus();
    void Qt_velocityFilter_High_Plus();
    void Qt_velocityFilter_Low_Minus();
    void Qt_velocityFilter_Low_Plus();

    // Camera dock.
    void refreshCameraDevices();
    void setCameraStatus();
    void setActiveCamera();

public:
    // Ends streaming after a failed frame read: timer stopped, "Activate" unchecked,
    // `message` shown, device list refreshed, display controls disabled.
    void stopAcquisition(const QString& message);
    // Sends the command block of `operatingWord`; true when all of it reached the board.
    bool writeCommandBlock();

protected:
    void closeEvent(QCloseEvent* event) override;
    // A recording dropped on the window is played.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Construction helpers, in the order the constructor runs them.
    void connectControls();
    // Lists the boards found (or "No Devices Found"); the number found.
    std::int32_t refreshDeviceList();
    void addLayoutMenu();
    void addFileMenu();
    void rememberRecording(const QString& path);
    QString playRecording(const QString& path);
    bool openingRecording = false;
    void fillRecentMenu();
    void addPlotLegends();
    void createCameraDock();

    // Activation steps and their two failure paths.
    void activate();
    // The display timer and the worker, once the source is ready.
    void startStreaming();
    void deactivate();
    void failActivation(const QString& message);
    void abandonActivation();

    // Parts of UpdateDisplayParameters.
    void applyDeviceModel();
    void applyDisplayModeRules();
    void rebuildPlotItems();
    void createWaterfall(std::uint32_t columns, std::uint32_t rows);

    // Shared steps of the FMCW chains: the top plot's set-up, and the range window's
    // re-ranging (after a parameter change), ordering and labels.
    void setUpFmcwTimeScope();
    tavrix::dsp::SliderWindow updateRangeWindowSliders(bool dirty, double rmax);

    // Recording and export helpers.
    // Records `count` samples in parts; false when streaming has ended with it.
    bool recordInParts(std::int64_t count, int durationSeconds, double sampleRate);
    void exportPlotImage(QwtPlot* plot, const QString& baseName);
    void exportPlotData(QwtPlot* plot, const QString& baseName);
    void renderPlot(QwtPlotRenderer& renderer, QwtPlot* plot, const QString& fileName);
    // Shows a failed export in the status bar and in exportStatus until an export succeeds.
    void reportExportFailure(const QString& message);

public:
    // Window state. Public because the chains' helpers and the tests read and write it;
    // the window is its only holder.
    using SampleBlock = std::vector<std::complex<double>>;

    Ui::Tavrix ui;
    RadarDevice* radarDevice = nullptr;
    // Playback of a recording (a child of the window); null on a live board.
    TavrixPlayback* playback = nullptr;

    // 1: rebuild the plot's x vector and axis on the next draw.
    std::uint8_t topAxisDirty = 1;
    std::uint8_t bottomAxisDirty = 1;
    std::vector<double> topXData;
    std::vector<double> bottomXData;

    // Plot items, owned; null when the current mode has no such item.
    Waterfall* waterfall = nullptr;
    QwtPlotCurve* curveTopI = nullptr;
    QwtPlotCurve* curveTopQ = nullptr;
    QwtPlotCurve* curveBottom = nullptr;
    QwtPlotMarker* markerFskThreshold = nullptr;
    QwtPlotMarker* markerFskTarget = nullptr;
    QwtPlotMarker* markerCwPeak = nullptr;
    QwtPlotMarker* markerRangePeak = nullptr;
    QwtPlotGrid* gridBottom = nullptr;
    QwtPlotZoneItem* zoneBottom = nullptr;
    QwtPlotCurve* curveDetections = nullptr; // a symbol at each detection

    // The processing of every chain, with the state it keeps from frame to frame.
    std::unique_ptr<tavrix::radar::Pipeline> pipeline;

    // Camera: the camera object is owned; the view has no parent until it is docked.
    std::unique_ptr<tavrix::camera::Camera> camera;
    std::unique_ptr<tavrix::camera::CameraSource> cameraSource; // where the cameras come from
    QVideoWidget* cameraView = nullptr;
    QDockWidget* cameraDock = nullptr;

    // Every target of the frame drawn last, and the detector's settings.
    DetectionsDock* detectionsDock = nullptr;
    void drawDetections(const tavrix::radar::Result& result);

    // Remembered between runs when the program gives a store.
    QSettings* settings = nullptr;
    QByteArray originalLayout;
    QString recordingFolder; // empty: the working folder
    QString exportFolder;
    // When the samples of the recording being saved began (ISO 8601 UTC); empty otherwise.
    std::string recordingStartUtc;

    QTimer* acquisitionTimer = nullptr;
    std::uint32_t updateIntervalMs = 0;
    std::uint64_t acquisitionStops = 0; // how often stopAcquisition ran, to spot it in a cycle
    // The window sliders follow new scales once per change, before the frame of the new
    // parameters; the axes follow when that frame is drawn (bottomAxisDirty).
    bool slidersDirty = true;
    bool takeRerange() { return std::exchange(slidersDirty, false); }

    // Acquisition on a worker thread (the program's way; tests may step frames themselves).
    std::unique_ptr<tavrix::radar::AcquisitionWorker> worker;
    bool acquisitionOnWorker = false;
    tavrix::radar::Settings publishedSettings; // the last the worker was given
    std::uint64_t settingsGeneration = 0;
    double lastFrameSeconds = 0.0;         // read and processing of the frame drawn last
    tavrix::radar::Settings frameSettings; // those the frame being drawn was read with
    std::uint64_t framesDrawn = 0;
    // When the frame being drawn was taken: seconds into the recording while one plays,
    // otherwise seconds since 1970 (UTC) by the computer's clock when its read ended.
    struct FrameTime {
        double seconds = 0.0;
        bool inRecording = false;
    };
    FrameTime frameTime;
    // Playback paused: no new frames come, and the waterfalls can be scrolled back.
    bool displayPaused = false;
    // Paused, the scrolling waterfalls can be scrolled back through the rows they keep;
    // playing again shows the newest rows. Redraws the waterfall.
    void setDisplayPaused(bool paused);
    // Forgets a scrolling waterfall's rows, so rows after a jump in the recording do not join
    // those before it.
    void clearWaterfallHistory();
    // While paused, moves a scrolling waterfall's view `rows` older (negative: newer), as far
    // as its kept rows go; false when there is nothing to scroll.
    bool scrollWaterfall(int rows);
    // The scrolling waterfalls' row axis labelled with times: installed (or a plain axis back),
    // the frame's row added with frameTime, the shown rows' times put on it, the raster and
    // times drawn again after the view moved.
    void useWaterfallTimeAxis(bool on);
    void addWaterfallRow(const std::vector<double>& values);
    void showWaterfallTimes();
    void redrawWaterfall();
    QObject* waterfallScroll = nullptr; // wheel and Page keys over the bottom plot, a child
    // Hands the worker `settings` when they differ from the last it got.
    void publishSettings(const tavrix::radar::Settings& settings);
    // The board's frames; a recording's player replaces them while it plays.
    std::unique_ptr<tavrix::radar::DeviceFrames> deviceFrames;
    tavrix::radar::FrameSource& frameSource();
    // The File menu's board choices; null without a provider.
    BoardProvider boardProvider;
    QMenu* recentMenu = nullptr;
    QAction* closeRecordingAction = nullptr;
    QAction* realBoardsAction = nullptr;
    QAction* emulatedBoardAction = nullptr;
    QStringList recent; // without a store
    void startWorker();
    void stopWorker();

    // Operating parameters, set at activation and by the parameter slots.
    std::uint32_t operatingMode = 0; // 0 FMCW sawtooth, 1 FMCW triangle, 2 FSK, 3 CW
    double centerFrequency = 0.0;    // Hz
    std::uint32_t modeCode = 0;
    std::uint32_t sweepTimeCode = 0;
    std::uint32_t sampleWindowCode = 0;
    std::uint32_t bandwidthCode = 0;
    std::uint32_t samplesPerSweep = 0;
    double sweepTimeMs = 0.0;
    double bandwidthHz = 0.0;
    std::uint16_t operatingWord = 0;
    std::uint8_t clutterReset = 1;

    // Display parameters.
    double updatePeriodSeconds = 0.0;
    std::uint32_t waterfallRows = 0;
    std::uint32_t displayMode = 0; // number at the end of the display button's object name

    // The processing parameters as the controls and the operating slots have set them.
    tavrix::radar::Settings currentSettings() const;
    // One frame of the current settings: the command block, the read and the pipeline. After
    // a short read the acquisition-failure stop runs with `failure`, and false comes back;
    // false too when the pipeline refuses the frame. The recording page's sample rate is
    // shown before the read, or after a full one with `rateAfterRead`.
    bool acquireFrame(const QString& failure, tavrix::radar::Result& result,
                      bool rateAfterRead = false);
    // Draws I and Q of the time scope on the top plot. The x axis runs to the scope's span,
    // or to nine tenths of the block without one.
    void UpdateTimeScope(const tavrix::radar::TimeScope& scope);

    // Writes `block` as a recording file of the current operating parameters. On failure
    // nothing of it is left on disk, and recordStatus and the status bar say why.
    bool WriteRecording(const SampleBlock& block, const QString& fileName);
    // Status-bar note of the last failed plot export, null until one failed.
    QLabel* exportStatus = nullptr;

    // Processing chains of the two Doppler modes, one acquisition cycle each: CW velocity
    // (velocity scope or waterfall) and FSK velocity and range (panel, velocity scope,
    // velocity waterfall or range track).
    void ProcessCwVelocity();
    void ProcessFsk();

    // Processing chains of FMCW sawtooth: one sweep to the range scope or range waterfall
    // (display modes 1 and 5), a burst of sweeps to the range-velocity map or velocity
    // waterfall (modes 2 to 4). Their cores keep buffers and plans from cycle to cycle.
    void ProcessFmcwRange();
    void ProcessFmcwRangeVelocity();

    // The automatic dynamic range the chains share: where its "Auto" box was checked at the
    // start of the cycle, the maximum or minimum slider (and zMax / zMin) follows `values`,
    // or the newest values of the waterfall history.
    void autoDynamicRange(const double* values, std::size_t count, bool autoMax, bool autoMin,
                          std::int32_t& zMax, std::int32_t& zMin);
    // The same with the figures already worked out (the map's come with its result): each end
    // given follows its figure.
    void applyAutoDynamicRange(std::optional<std::int32_t> top, std::optional<std::int32_t> mean,
                               std::int32_t& zMax, std::int32_t& zMin);
    void autoDynamicRangeOfHistory(std::size_t maxCount, std::size_t minCount, bool autoMax,
                                   bool autoMin, std::int32_t& zMax, std::int32_t& zMin);
};

#endif
