// Scenes: the default one must show in every mode at the program's defaults; files are read
// with every field and refused with a message that says what is wrong where.

#include "sim/Scene.h"
#include "sim/DeviceModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

constexpr double kC = 299792458.0;

} // namespace

TEST(SimScene, DefaultSceneStaysInsideEveryModesDefaultSpans) {
    const sim::Scene scene = sim::defaultScene();
    const sim::DeviceModel& model = sim::deviceModel(scene.deviceModel);
    // Defaults: 128 samples, first bandwidth, 0.5 ms sweeps, 64 sweeps per burst.
    const double rmax = 128 * kC / (4 * model.bandwidthHz[0]);
    const double vmax = kC / (4 * model.carrierHz * 0.5e-3); // FMCW, FSK and CW alike here
    const double fskWrap = kC / (2 * 6e6);
    const double resolution = 2 * vmax / 64;
    ASSERT_EQ(scene.targets.size(), 3u);
    int moving = 0;
    for (const sim::SceneTarget& t : scene.targets) {
        moving += t.velocity != 0;
        EXPECT_GT(std::abs(t.velocity), t.velocity != 0 ? resolution / 2 : -1) << t.name;
        for (double time = 0; time < 300; time += 0.01) {
            const double r = t.rangeAt(time);
            ASSERT_GE(r, t.minRange) << t.name;
            ASSERT_LE(r, t.maxRange) << t.name;
            ASSERT_LT(r, std::min(rmax, fskWrap)) << t.name;
            ASSERT_LT(std::abs(t.velocityAt(time)), vmax) << t.name;
            // Far above the noise of one sample even at its farthest.
            ASSERT_GT(t.amplitudeAt(r), 20 * scene.noise) << t.name;
        }
    }
    EXPECT_EQ(moving, 2);
}

TEST(SimScene, ReadsEveryFieldOfAFile) {
    const std::string path = testing::TempDir() + "scene.json";
    std::ofstream(path) << R"({
      "deviceModel": "Hazel", "noise": 2.5, "seed": 42, "bounds": [2, 30],
      "imperfections": {"dcOffsetI": 100, "dcOffsetQ": -50, "gainImbalanceDb": 0.5,
                        "phaseErrorDeg": 3, "leakage": 700, "leakageRange": 0.4},
      "targets": [
        {"name": "wall", "range": 12, "strength": 3000},
        {"name": "car", "range": 25, "velocity": -8, "strength": 900, "bounds": [5, 60]}
      ]})";
    std::string error;
    const auto scene = sim::loadSceneFile(path, &error);
    ASSERT_TRUE(scene) << error;
    EXPECT_EQ(scene->deviceModel, 7);
    EXPECT_EQ(scene->seed, 42u);
    EXPECT_EQ(scene->imperfections.leakage, 700);
    ASSERT_EQ(scene->targets.size(), 2u);
    // A target without its own bounds or velocity takes the scene's and stands still.
    EXPECT_EQ(scene->targets[0].velocity, 0);
    EXPECT_EQ(scene->targets[0].maxRange, 30);
    EXPECT_EQ(scene->targets[1].velocity, -8);
    EXPECT_EQ(scene->targets[1].maxRange, 60);

    const auto shipped = sim::loadSceneFile(TAVRIX_SCENES_DIR "/street.json", &error);
    ASSERT_TRUE(shipped) << error;
    EXPECT_EQ(shipped->deviceModel, 3);
    EXPECT_EQ(shipped->targets.size(), 5u);
}

TEST(SimScene, RefusesMalformedScenesSayingWhereAndWhy) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {"{\n  \"targets\": [\n    {\"range\": 5,, }\n  ]\n}", "line 3, column"},
        {R"({"targets": [{"range": 5}]})", "targets[0].strength: missing"},
        {R"({"targets": [{"range": 5, "strength": 1}, {"range": 95, "strength": 1}]})",
         "targets[1].range: outside the target's bounds"},
        {R"({"targets": [{"rnage": 5, "strength": 1}]})", "unknown key \"rnage\""},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(sim::parseScene(c.json, &error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.json << "\n -> " << error;
    }
    std::string error;
    EXPECT_FALSE(sim::loadSceneFile("/nonexistent/scene.json", &error));
    EXPECT_NE(error.find("/nonexistent/scene.json"), std::string::npos) << error;
}
