#pragma once

#include <memory>

class QwtLinearColorMap;

// The colour schemes of the waterfall displays, by their position in the "Color Scheme"
// list: 0 "Standard", 1 "RGB", 2 "B&W", 3 "Jet".
inline constexpr unsigned kColorSchemeCount = 4;

// A new colour map of scheme `index`; null for an index outside the list.
std::unique_ptr<QwtLinearColorMap> CreateColorMap(unsigned index);
