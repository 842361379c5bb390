#include "display/ColorSchemes.h"

#include <qwt_color_map.h>

namespace {

std::unique_ptr<QwtLinearColorMap> Standard() {
    return std::make_unique<QwtLinearColorMap>(QColor(Qt::darkBlue), QColor(Qt::yellow),
                                               QwtColorMap::RGB);
}

std::unique_ptr<QwtLinearColorMap> Rgb() {
    auto map = std::make_unique<QwtLinearColorMap>(QColor(Qt::darkCyan), QColor(Qt::red),
                                                   QwtColorMap::RGB);
    map->addColorStop(0.1, Qt::cyan);
    map->addColorStop(0.6, Qt::green);
    map->addColorStop(0.95, Qt::yellow);
    return map;
}

std::unique_ptr<QwtLinearColorMap> BlackWhite() {
    return std::make_unique<QwtLinearColorMap>(QColor(Qt::black), QColor(Qt::white),
                                               QwtColorMap::RGB);
}

// Steps of 1/13 with no stop at 11/13, and a last stop at 1.0 that the map weighs against
// its end colour by its own rules; the picture users know depends on both.
std::unique_ptr<QwtLinearColorMap> Jet() {
    auto map =
        std::make_unique<QwtLinearColorMap>(QColor(0, 0, 189), QColor(132, 0, 0), QwtColorMap::RGB);
    const struct {
        int step;
        QColor color;
    } stops[] = {{1, QColor(0, 0, 255)},     {2, QColor(0, 66, 255)},   {3, QColor(0, 132, 255)},
                 {4, QColor(0, 189, 255)},   {5, QColor(0, 255, 255)},  {6, QColor(66, 255, 189)},
                 {7, QColor(132, 255, 132)}, {8, QColor(189, 255, 66)}, {9, QColor(255, 255, 0)},
                 {10, QColor(255, 189, 0)},  {12, QColor(255, 66, 0)}};
    for (const auto& stop : stops)
        map->addColorStop(stop.step / 13.0, stop.color);
    map->addColorStop(1.0, QColor(189, 0, 0));
    return map;
}

} // namespace

std::unique_ptr<QwtLinearColorMap> CreateColorMap(unsigned index) {
    switch (index) {
    case 0:
        return Standard();
    case 1:
        return Rgb();
    case 2:
        return BlackWhite();
    case 3:
        return Jet();
    default:
        return nullptr;
    }
}
