#pragma once

// What the emulated radar looks at: point targets with range, radial velocity and strength,
// the receiver's noise and the front-end's imperfections, and which device model the board is.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct SceneTarget {
    std::string name;
    double range = 10;   // m, at time 0
    double velocity = 0; // radial speed, m/s; positive moves away from the radar
    // Echo amplitude in ADC counts that the target returns from 10 m; the amplitude falls
    // with the square of the range (a point target's power falls with its fourth power).
    double strength = 0;
    // The target moves back and forth between these ranges, reversing at each end.
    double minRange = 1;
    double maxRange = 90;

    double rangeAt(double t) const;
    double velocityAt(double t) const;
    double amplitudeAt(double range) const;
};

struct Imperfections {
    double dcOffsetI = 0;       // counts, away from mid-scale
    double dcOffsetQ = 0;       // counts
    double gainImbalanceDb = 0; // Q gain relative to I
    double phaseErrorDeg = 0;   // Q's deviation from quadrature
    double leakage = 0;         // amplitude of the direct transmitter-to-receiver coupling
    double leakageRange = 0.2;  // m, its apparent range (path through the board)
};

struct Scene {
    int deviceModel = 0; // index into the device models
    double noise = 0;    // standard deviation of each channel's noise, counts
    std::uint64_t seed = 1;
    Imperfections imperfections;
    std::vector<SceneTarget> targets;
};

// A lively scene for the demo: a strong static reflector, a walker and a faster target,
// all inside the spans that every mode shows at the program's default settings.
Scene defaultScene();

// Reads a scene from JSON text. On failure returns nullopt and puts a message into `error`
// naming what is wrong and where.
std::optional<Scene> parseScene(const std::string& json, std::string* error);
std::optional<Scene> loadSceneFile(const std::string& path, std::string* error);

} // namespace sim
