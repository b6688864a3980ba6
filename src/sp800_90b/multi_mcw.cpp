// 6.3.7, the MultiMCW prediction estimate: four subpredictors, each predicting
// the most common value of the last 63, 255, 1023 or 4095 samples, on a
// scoreboard. Predicted: every sample after the first 63 (N = n - 63).
#include <array>
#include <vector>

#include "estimators.hpp"
#include "pool/cancel.hpp"
#include "prediction_result.hpp"
#include "scoreboard.hpp"

namespace veltrane::sp800_90b {

namespace {

constexpr std::array<std::size_t, 4> WINDOWS = {63, 255, 1023, 4095};

// The most common value of the last `w` samples, kept as the window slides. On
// a tie the value seen most recently wins (the standard's rule, which the
// recorded outputs confirm). Adding a sample can only make it the mode; dropping
// the oldest changes the mode only when it drops the mode itself, and then the
// k counts are searched again.
class WindowMode {
public:
    WindowMode(std::size_t w, unsigned k) : w_(w), count_(k, 0), last_(k, 0) {}

    // Slides the window over data[pos]: the window becomes data[pos+1-w..pos].
    void push(const std::uint8_t* data, std::size_t pos) {
        const std::uint8_t x = data[pos];
        last_[x] = pos;
        if (++count_[x] >= top_) top_ = count_[x], mode_ = x;
        if (pos < w_) return;
        const std::uint8_t old = data[pos - w_];
        --count_[old];
        if (old == mode_) rescan();
    }

    std::uint8_t mode() const { return mode_; }

private:
    void rescan() {
        top_ = 0;
        for (unsigned v = 0; v < count_.size(); ++v) {
            if (count_[v] > top_ || (count_[v] == top_ && top_ > 0 && last_[v] > last_[mode_])) {
                top_ = count_[v], mode_ = static_cast<std::uint8_t>(v);
            }
        }
    }

    std::size_t w_;
    std::vector<std::uint32_t> count_;
    std::vector<std::size_t> last_;
    std::uint32_t top_ = 0;
    std::uint8_t mode_ = 0;
};

// The same for bits: the windows have odd lengths, so a full one never ties and
// its mode is whichever bit fills more than half of it.
class BitWindowMode {
public:
    BitWindowMode(std::size_t w, unsigned /*k: 2*/) : w_(w) {}

    void push(const std::uint8_t* data, std::size_t pos) {
        ones_ += data[pos];
        if (pos >= w_) ones_ -= data[pos - w_];
    }

    std::uint8_t mode() const { return 2 * ones_ > w_; }

private:
    std::size_t w_, ones_ = 0;
};

template <class Window>
void play(Symbols s, CorrectTally& tally) {
    const std::size_t first = WINDOWS[0];
    std::vector<Window> windows;
    for (std::size_t w : WINDOWS) windows.emplace_back(w, std::min(256u, std::max(s.k, 1u)));
    for (std::size_t i = 0; i < first; ++i) {
        for (auto& m : windows) m.push(s.data, i);
    }
    Scoreboard board(WINDOWS.size());
    for (std::size_t start = first; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        std::uint64_t hits[WINDOWS.size()] = {};
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            for (std::size_t j = 0; j < WINDOWS.size(); ++j) {
                // A window not yet full predicts nothing.
                if (i >= WINDOWS[j]) hits[j] |= std::uint64_t{windows[j].mode() == s.data[i]} << t;
                windows[j].push(s.data, i);
            }
        }
        tally.add(board.play(hits, len), len);
        pool::checkpoint();
    }
}

}  // namespace

Prediction multi_mcw(Symbols s) {
    const std::size_t n = s.n > WINDOWS[0] ? s.n - WINDOWS[0] : 0;
    CorrectTally tally;
    if (n > 0) {
        if (s.k <= 2) {
            play<BitWindowMode>(s, tally);
        } else {
            play<WindowMode>(s, tally);
        }
    }
    return prediction_result(tally, n, s.k);
}

}  // namespace veltrane::sp800_90b
