#include "sp800_90b_restart/truncated_series.hpp"

#include <algorithm>

#include "pool/cancel.hpp"

namespace veltrane::sp800_90b::restart {

namespace {

void drop_trailing_zeros(Series& s) {
    while (s.size() > 1 && s.back() == 0.0) s.pop_back();
}

}  // namespace

Series truncated_exponential(double c, std::uint64_t x, std::size_t top) {
    const std::size_t last = static_cast<std::size_t>(std::min<std::uint64_t>(x, top));
    Series s(last + 1);
    s[0] = 1.0;
    for (std::size_t j = 1; j <= last; ++j) s[j] = s[j - 1] * c / static_cast<double>(j);
    drop_trailing_zeros(s);
    return s;
}

Series product(const Series& a, const Series& b, std::size_t top) {
    const std::size_t degree = std::min(top, (a.size() - 1) + (b.size() - 1));
    Series c(degree + 1, 0.0);
    // Row by row (c[i + j] += a[i] b[j] over j): each coefficient gathers its
    // terms in the order of i whatever the vector width, and the rows vectorise
    // without reassociating any sum.
    for (std::size_t i = 0; i < a.size() && i <= degree; ++i) {
        const double ai = a[i];
        if (ai == 0.0) continue;
        const std::size_t count = std::min(b.size() - 1, degree - i) + 1;
        double* out = c.data() + i;
        const double* in = b.data();
        for (std::size_t j = 0; j < count; ++j) out[j] += ai * in[j];
        pool::checkpoint();  // a row: at most a few thousand operations
    }
    drop_trailing_zeros(c);
    return c;
}

double coefficient(const Series& a, const Series& b, std::size_t n) {
    if (n > (a.size() - 1) + (b.size() - 1)) return 0.0;
    const std::size_t first = n >= b.size() ? n - (b.size() - 1) : 0;
    const std::size_t last = std::min(n, a.size() - 1);
    double sum = 0.0;
    for (std::size_t i = first; i <= last; ++i) sum += a[i] * b[n - i];
    return sum;
}

}  // namespace veltrane::sp800_90b::restart
