// Plot data saved through the window on the emulated board, frames stepped on the test's
// thread: the file holds the numbers the plot holds, for the curves of the range scope and for
// what the spectrogram draws of the range waterfall and the map.

#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/FmcwRange.h"
#include "sim/SimUsbDriver.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <qwt_matrix_raster_data.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_spectrogram.h>

#include <gtest/gtest.h>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

namespace {

using Cells = std::vector<std::vector<std::string>>;

// The cells of a CSV file, line by line; no cell of the exports compared here is quoted.
Cells csvCells(const QString& file) {
    QFile in(file);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
    Cells cells;
    for (const QByteArray& line : in.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        cells.emplace_back();
        for (const QByteArray& cell : line.split(','))
            cells.back().push_back(cell.toStdString());
    }
    return cells;
}

double number(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
    return value;
}

class PlotDataExport : public ::testing::Test {
protected:
    void SetUp() override {
        driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                                           std::make_shared<sim::VirtualClock>()));
        window = std::make_unique<Tavrix>(driver);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            return answer;
        };
        click(window->ui.buttonActivateDevice);
    }

    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i)
            window->ReadStream();
    }
    // Answers the save dialog of `button` with `name` in the test's folder.
    QString save(QAbstractButton* button, const QString& name) {
        answer = dir.filePath(name);
        click(button);
        return answer;
    }
    std::string status() const { return window->statusBar()->currentMessage().toStdString(); }

    // The first row and column of a matrix export against the spectrogram's cells, and each
    // value against what the spectrogram gives in the middle of its cell.
    void expectSpectrogram(const Cells& cells) const {
        const auto* raster =
            dynamic_cast<const QwtMatrixRasterData*>(window->waterfall->spectrogram->data());
        ASSERT_NE(raster, nullptr);
        const auto rows = static_cast<std::size_t>(raster->numRows());
        const auto columns = static_cast<std::size_t>(raster->numColumns());
        ASSERT_EQ(cells.size(), rows + 1);
        const QwtInterval x = raster->interval(Qt::XAxis);
        const QwtInterval y = raster->interval(Qt::YAxis);
        const double dx = x.width() / static_cast<double>(columns);
        const double dy = y.width() / static_cast<double>(rows);
        ASSERT_EQ(cells[0].size(), columns + 1);
        for (std::size_t c = 0; c < columns; ++c)
            EXPECT_NEAR(number(cells[0][c + 1]), x.minValue() + static_cast<double>(c) * dx,
                        1e-12 * x.width());
        std::size_t wrong = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_EQ(cells[r + 1].size(), columns + 1) << "row " << r;
            for (std::size_t c = 0; c < columns; ++c) {
                const double shown =
                    raster->value(x.minValue() + (static_cast<double>(c) + 0.5) * dx,
                                  y.minValue() + (static_cast<double>(r) + 0.5) * dy);
                wrong += number(cells[r + 1][c + 1]) != shown;
            }
        }
        EXPECT_EQ(wrong, 0u);
    }

    QTemporaryDir dir;
    sim::SimUsbDriver driver; // outlives the window
    std::unique_ptr<Tavrix> window;
    QString answer;
    std::vector<Tavrix::SaveFileQuestion> questions;
};

TEST_F(PlotDataExport, CurvesOfBothPlotsAreSavedWithTheirAxes) {
    ASSERT_EQ(window->displayMode, 1u); // range scope under the time scope
    cycles(2);
    const QString range = save(window->ui.buttonExportDataBottom, QStringLiteral("range.csv"));
    EXPECT_EQ(status(), "Plot data exported to " + range.toStdString());
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_FALSE(questions[0].filter.contains(QStringLiteral("*.npy")));
    const Cells bottom = csvCells(range);
    ASSERT_EQ(bottom.size(), window->curveBottom->dataSize() + 1);
    EXPECT_EQ(bottom[0],
              (std::vector<std::string>{"Range (meters)", "FMCW Range: Intensity (dB)"}));
    for (std::size_t i = 0; i < window->curveBottom->dataSize(); ++i) {
        const QPointF point = window->curveBottom->sample(i);
        ASSERT_EQ(bottom[i + 1].size(), 2u);
        EXPECT_EQ(number(bottom[i + 1][0]), point.x()) << i;
        EXPECT_EQ(number(bottom[i + 1][1]), point.y()) << i;
    }

    const Cells top = csvCells(save(window->ui.buttonExportDataTop, QStringLiteral("scope.csv")));
    ASSERT_EQ(top.size(), window->curveTopI->dataSize() + 1);
    EXPECT_EQ(top[0], (std::vector<std::string>{"Time (seconds)", "I-Channel: Amplitude",
                                                "Q-Channel: Amplitude"}));
    EXPECT_EQ(number(top.back()[2]), window->curveTopQ->sample(top.size() - 2).y());

    // A folder in the file's place: reported as the image export's failures are, until an
    // export succeeds.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.csv")));
    const QString taken = save(window->ui.buttonExportDataBottom, QStringLiteral("taken.csv"));
    EXPECT_EQ(status().rfind("Error: Plot data not exported: ", 0), 0u) << status();
    EXPECT_NE(status().find(taken.toStdString()), std::string::npos) << status();
    ASSERT_NE(window->exportStatus, nullptr);
    EXPECT_FALSE(window->exportStatus->isHidden());
    save(window->ui.buttonExportDataBottom, QStringLiteral("again.csv"));
    EXPECT_TRUE(window->exportStatus->isHidden());
}

TEST_F(PlotDataExport, WaterfallRowsAndMapAreSavedAsTheSpectrogramDrawsThem) {
    ASSERT_EQ(window->ui.WaterfallRasterDataMethod->currentIndex(), 1); // nearest neighbour
    window->ui.SpectrogramRows->setValue(8);
    click(window->ui.radioSpectrumDisplay_5);
    ASSERT_NE(window->waterfall, nullptr);
    cycles(13); // the history's ring has turned
    const Cells waterfall =
        csvCells(save(window->ui.buttonExportDataBottom, QStringLiteral("waterfall.csv")));
    ASSERT_FALSE(waterfall.empty());
    EXPECT_EQ(waterfall[0][0], "Intensity (dB): Row (0: newest shown) \\ Range (meters)");
    expectSpectrogram(waterfall);
    for (std::size_t r = 1; r < waterfall.size(); ++r)
        EXPECT_EQ(waterfall[r][0], std::to_string(r - 1));

    click(window->ui.radioSpectrumDisplay_3);
    cycles(2);
    const Cells map = csvCells(save(window->ui.buttonExportDataBottom, QStringLiteral("map.csv")));
    ASSERT_FALSE(map.empty());
    EXPECT_EQ(map[0][0], "Intensity (dB): Range (meters) \\ Radial Velocity (meters per second)");
    expectSpectrogram(map);
    const std::vector<double> ranges = tavrix::dsp::FmcwRangeAxis(
        tavrix::dsp::FmcwMaxRange(window->samplesPerSweep, window->bandwidthHz));
    ASSERT_EQ(map.size(), ranges.size() + 1);
    for (std::size_t r = 0; r < ranges.size(); ++r)
        EXPECT_DOUBLE_EQ(number(map[r + 1][0]), ranges[r]) << r;

    // As NumPy arrays: the values and an array for each axis.
    questions.clear();
    const QString npy = save(window->ui.buttonExportDataBottom, QStringLiteral("map.npy"));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].filter.contains(QStringLiteral("*.npy")));
    EXPECT_EQ(QFile(npy).size(), 128 + 513 * 1024 * 8);
    for (const char* axis : {"map_range.npy", "map_radial_velocity.npy"}) {
        EXPECT_TRUE(QFile::exists(dir.filePath(axis))) << axis;
        EXPECT_NE(status().find(dir.filePath(axis).toStdString()), std::string::npos) << status();
    }
}

} // namespace
