#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "device/RadarDevice.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>

namespace {

const QString kRecentRecordings = QStringLiteral("files/recentRecordings");
constexpr int kRecentKept = 8;

// The first local file among the dropped or dragged URLs.
QString droppedFile(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

} // namespace

void Tavrix::addFileMenu() {
    QMenu* file = new QMenu(tr("&File"), this);
    menuBar()->insertMenu(menuBar()->actions().value(0), file);
    QAction* open = file->addAction(tr("&Open recording..."), this, [this] {
        const QString path = openFileDialog
                                 ? openFileDialog()
                                 : QFileDialog::getOpenFileName(
                                       this, tr("Open Recording"), recordingFolder,
                                       tr("Recordings (*.dat *.txt *.sigmf-meta *.sigmf-data);;All "
                                          "files (*)"));
        if (!path.isEmpty())
            openRecording(path);
    });
    open->setObjectName(QStringLiteral("actionOpenRecording"));
    open->setShortcut(QKeySequence::Open);
    recentMenu = file->addMenu(tr("Recent recordings"));
    recentMenu->setObjectName(QStringLiteral("menuRecentRecordings"));
    connect(recentMenu, &QMenu::aboutToShow, this, &Tavrix::fillRecentMenu);
    closeRecordingAction = file->addAction(tr("&Close recording"), this, &Tavrix::closeRecording);
    closeRecordingAction->setObjectName(QStringLiteral("actionCloseRecording"));
    closeRecordingAction->setEnabled(false);

    file->addSeparator();
    auto* boards = new QActionGroup(this);
    realBoardsAction = file->addAction(tr("Radar boards (USB)"), this, [this] { useBoard(false); });
    emulatedBoardAction = file->addAction(tr("Emulated board"), this, [this] { useBoard(true); });
    for (QAction* a : {realBoardsAction, emulatedBoardAction}) {
        a->setCheckable(true);
        a->setVisible(false); // until a provider offers both
        boards->addAction(a);
    }
    realBoardsAction->setObjectName(QStringLiteral("actionRealBoards"));
    emulatedBoardAction->setObjectName(QStringLiteral("actionEmulatedBoard"));

    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
}

QStringList Tavrix::recentRecordings() const {
    return settings ? settings->value(kRecentRecordings).toStringList() : recent;
}

void Tavrix::rememberRecording(const QString& path) {
    QStringList list = recentRecordings();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > kRecentKept)
        list.removeLast();
    recent = list;
    if (settings)
        settings->setValue(kRecentRecordings, list);
}

void Tavrix::fillRecentMenu() {
    recentMenu->clear();
    const QStringList list = recentRecordings();
    if (list.isEmpty()) {
        recentMenu->addAction(tr("(none yet)"))->setEnabled(false);
        return;
    }
    for (const QString& path : list)
        recentMenu
            ->addAction(QFileInfo(path).fileName(), this, [this, path] { openRecording(path); })
            ->setToolTip(path);
}

QString Tavrix::openRecording(const QString& path) {
    // The progress dialog lets events through: a second open (a drop, the menu) waits its turn.
    if (openingRecording)
        return tr("Another recording is being opened");
    openingRecording = true;
    const QString problem = playRecording(path);
    openingRecording = false;
    return problem;
}

QString Tavrix::playRecording(const QString& path) {
    // A text recording is indexed first: seconds for a large one.
    QProgressDialog progress(tr("Opening %1").arg(QFileInfo(path).fileName()), tr("Cancel"), 0,
                             1000, this);
    progress.setObjectName(QStringLiteral("openProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    std::string error;
    std::unique_ptr<tavrix::radar::RecordingPlayer> player =
        tavrix::radar::RecordingPlayer::Open(path.toStdString(), error, [&](double fraction) {
            progress.setValue(static_cast<int>(fraction * 1000));
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        });
    progress.reset();
    if (!player) {
        const QString message =
            tr("Cannot open the recording: %1").arg(QString::fromStdString(error));
        statusBar()->showMessage(message);
        return message;
    }
    // Without the worker the reads run on this thread, and must not sleep.
    player->SetPaced(acquisitionOnWorker);
    // Refused before anything that plays now is stopped.
    const QString problem =
        TavrixPlayback::problemPlaying(*player, ui.spinBoxDopplerQueue->minimum());
    if (!problem.isEmpty()) {
        const QString message = tr("Cannot play %1: %2").arg(QFileInfo(path).fileName(), problem);
        statusBar()->showMessage(message);
        return message;
    }

    if (ui.buttonActivateDevice->isChecked()) {
        ui.buttonActivateDevice->setChecked(false);
        deactivate();
    }
    closeRecording();
    TavrixPlayback::attach(*this, std::move(player));
    rememberRecording(path);
    closeRecordingAction->setEnabled(true);
    refreshDeviceList();
    ui.buttonActivateDevice->setChecked(true);
    activate();
    return {};
}

void Tavrix::closeRecording() {
    if (playback == nullptr)
        return;
    if (ui.buttonActivateDevice->isChecked()) {
        ui.buttonActivateDevice->setChecked(false);
        deactivate();
    }
    stopWorker();
    worker.reset(); // it reads from the player
    const QString name = playback->fileName();
    delete playback;
    playback = nullptr;
    setDisplayPaused(false);
    closeRecordingAction->setEnabled(false);
    refreshDeviceList();
    statusBar()->showMessage(tr("Closed %1").arg(name));
}

void Tavrix::setBoardProvider(BoardProvider provider, bool emulatedNow) {
    boardProvider = std::move(provider);
    for (QAction* a : {realBoardsAction, emulatedBoardAction})
        a->setVisible(static_cast<bool>(boardProvider));
    (emulatedNow ? emulatedBoardAction : realBoardsAction)->setChecked(true);
}

void Tavrix::useBoard(bool emulated) {
    if (!boardProvider)
        return;
    UsbDriver& driver = boardProvider(emulated);
    if (ui.buttonActivateDevice->isChecked()) {
        ui.buttonActivateDevice->setChecked(false);
        deactivate();
    }
    closeRecording();
    stopWorker();
    worker.reset(); // it reads from the old board's frames
    deviceFrames.reset();
    delete radarDevice;
    radarDevice = new RadarDevice(driver);
    deviceFrames = std::make_unique<tavrix::radar::DeviceFrames>(*radarDevice);
    (emulated ? emulatedBoardAction : realBoardsAction)->setChecked(true);
    on_buttonRefreshDeviceList_clicked();
}

void Tavrix::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Tavrix::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    openRecording(path);
}
