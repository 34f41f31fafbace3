// What the tool benchmarks share: the median of their rounds, and the cost of one answer
// with few and with many tags listed, printed with its ratio.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace rd::bench {

// The median of the figures of the rounds.
inline double Median(std::vector<double> figures) {
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

// Measures the microseconds of one answer (measure(listed)) with few and then with many
// tags listed, and prints "<name>_us_at_<few> U us", "<name>_us_at_<many> U us" and
// "<ratioName> R ratio".
template <class Measure>
void PrintCostAtFewAndMany(Measure measure, int few, int many, const char* name, const char* ratioName) {
    const double fewUs = measure(few);
    const double manyUs = measure(many);
    std::printf("%s_us_at_%d %.3f us\n", name, few, fewUs);
    std::printf("%s_us_at_%d %.3f us\n", name, many, manyUs);
    std::printf("%s %.3f ratio\n", ratioName, manyUs / fewUs);
}

} // namespace rd::bench
