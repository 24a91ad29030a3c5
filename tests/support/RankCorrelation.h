#pragma once
// Spearman's rank correlation of two series of equal length: the Pearson correlation of
// their ranks, tied values sharing the mean of their ranks. 0 for fewer than two values or a
// series without spread.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

inline std::vector<double> averageRanks(const std::vector<double>& v) {
    std::vector<size_t> order(v.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return v[a] < v[b]; });
    std::vector<double> ranks(v.size());
    for (size_t i = 0; i < order.size();) {
        size_t j = i;
        while (j + 1 < order.size() && v[order[j + 1]] == v[order[i]]) ++j;
        const double mean = (static_cast<double>(i) + static_cast<double>(j)) / 2.0;
        for (size_t k = i; k <= j; ++k) ranks[order[k]] = mean;
        i = j + 1;
    }
    return ranks;
}

inline double spearman(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size() || a.size() < 2) return 0;
    const std::vector<double> ra = averageRanks(a), rb = averageRanks(b);
    const double n = static_cast<double>(a.size());
    const double ma = std::accumulate(ra.begin(), ra.end(), 0.0) / n;
    const double mb = std::accumulate(rb.begin(), rb.end(), 0.0) / n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < ra.size(); ++i) {
        sab += (ra[i] - ma) * (rb[i] - mb);
        saa += (ra[i] - ma) * (ra[i] - ma);
        sbb += (rb[i] - mb) * (rb[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}
