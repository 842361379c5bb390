#include "app/Tavrix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <qwt_plot_renderer.h>

namespace {

// The page the plot is redrawn on, whatever its size on screen: 300 mm x 200 mm at 85 dpi,
// about 1004 x 669 pixels for the image formats.
const QSizeF kPageSizeMm(300, 200);
constexpr int kResolutionDpi = 85;

QList<QByteArray> imageFormats() {
    return QImageWriter::supportedImageFormats();
}

bool rendererWrites(const QString& suffix) {
    return suffix == QLatin1String("pdf") || suffix == QLatin1String("svg") ||
           imageFormats().contains(suffix.toLatin1());
}

} // namespace

void Tavrix::exportPlotImageTop() {
    exportPlotImage(ui.qwtPlotScope_1, QStringLiteral("Tavrix_TopView"));
}

void Tavrix::exportPlotImageBottom() {
    exportPlotImage(ui.qwtPlotScope_2, QStringLiteral("Tavrix_BottomView"));
}

void Tavrix::exportPlotImage(QwtPlot* plot, const QString& baseName) {
    const bool wasStreaming = acquisitionTimer != nullptr && acquisitionTimer->isActive();
    if (acquisitionTimer != nullptr)
        acquisitionTimer->stop();
    QwtPlotRenderer renderer;

    QString suffix;
    if (ui.captureFormat_1->isChecked())
        suffix = QStringLiteral("pdf");
    else if (ui.captureFormat_2->isChecked())
        suffix = QStringLiteral("jpg");
    else if (ui.captureFormat_3->isChecked())
        suffix = QStringLiteral("png");

    if (!suffix.isEmpty()) {
        QStringList filters{tr("PDF Documents (*.pdf)"), tr("SVG Documents (*.svg)")};
        QStringList images;
        for (const QByteArray& format : imageFormats())
            images << QStringLiteral("*.") + QString::fromLatin1(format);
        if (!images.isEmpty())
            filters << tr("Images (%1)").arg(images.join(QLatin1Char(' ')));
        // Exports of the same view and format replace each other without asking.
        const QString name = baseName + QLatin1Char('.') + suffix;
        const QString fileName =
            askSaveFileName({tr("Export File Name"),
                             exportFolder.isEmpty() ? name : QDir(exportFolder).filePath(name),
                             filters.join(QStringLiteral(";;")), false});
        if (!fileName.isEmpty()) {
            exportFolder = QFileInfo(fileName).absolutePath();
            renderPlot(renderer, plot, fileName);
        }
    }

    if (wasStreaming)
        acquisitionTimer->start();
}

void Tavrix::renderPlot(QwtPlotRenderer& renderer, QwtPlot* plot, const QString& fileName) {
    const QString shownName = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    // The renderer reports nothing, so the file is checked before and after: a file it
    // cannot write stays empty.
    QString failure;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    QFile file(fileName);
    if (!rendererWrites(suffix)) {
        failure = tr("no document or image format is called \"%1\"").arg(suffix);
    } else if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failure = file.errorString();
    } else {
        file.close();
        renderer.renderDocument(plot, fileName, kPageSizeMm, kResolutionDpi);
        if (QFileInfo(fileName).size() <= 0) {
            QFile::remove(fileName);
            failure = tr("nothing could be written");
        }
    }

    if (failure.isEmpty()) {
        if (exportStatus != nullptr)
            exportStatus->hide();
        return;
    }
    reportExportFailure(tr("Error: Plot not exported to %1: %2").arg(shownName, failure));
}

void Tavrix::reportExportFailure(const QString& message) {
    statusBar()->showMessage(message);
    // The next acquisition cycle replaces the message above; this one stays until an
    // export succeeds.
    if (exportStatus == nullptr) {
        exportStatus = new QLabel(statusBar());
        exportStatus->setObjectName(QStringLiteral("exportStatus"));
        statusBar()->addPermanentWidget(exportStatus);
    }
    exportStatus->setText(message);
    exportStatus->show();
}
