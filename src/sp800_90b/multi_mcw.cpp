// 6.3.7, the MultiMCW prediction estimate: four subpredictors, each predicting
// the most common value of the last 63, 255, 1023 or 4095 samples, on a
// scoreboard. Predicted: every sample after the first 63 (N = n - 63).
#include <algorithm>
#include <array>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "estimators.hpp"
#include "packed_bits.hpp"
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

// On bits the windows have odd lengths, so a full one never ties and its mode
// is whichever bit fills more than half of it: 1 where the count of ones
// reaches (w + 1) / 2. The count at each place of a block of 64 is the count
// at the block's start plus the running sum of (bit entering - bit leaving),
// which sixteen byte lanes add up in four shifted additions, and the
// comparison of that sum with what the start's count lacks gives sixteen modes
// at once. Blocks whose window is not full everywhere go a place at a time.
class BitWindow {
public:
    explicit BitWindow(std::size_t w) : w_(w) {}

    // Bit t of the result: the mode before start + t was data[start + t] (0
    // where the window is not yet full); moves the window past the block.
    std::uint64_t block(const std::uint8_t* data, std::size_t start, unsigned len, std::uint64_t bits) {
#ifdef __SSE2__
        if (len == 64 && start >= w_) return ~(full_block(data, start) ^ bits);
#endif
        (void)bits;
        std::uint64_t hits = 0;
        for (unsigned t = 0; t < len; ++t) {
            const std::size_t i = start + t;
            if (i >= w_) hits |= std::uint64_t{(2 * ones_ > w_) == data[i]} << t;
            ones_ += data[i];
            if (i >= w_) ones_ -= data[i - w_];
        }
        return hits;
    }

private:
#ifdef __SSE2__
    // The modes before start .. start + 63 (the window full before start).
    std::uint64_t full_block(const std::uint8_t* data, std::size_t start) {
        const std::int64_t lacking = static_cast<std::int64_t>((w_ + 1) / 2) - static_cast<std::int64_t>(ones_);
        // mode 1 where the running sum exceeds lacking - 1, which the sums (-64..64) meet always or never outside a byte
        const __m128i bar = _mm_set1_epi8(static_cast<char>(std::clamp<std::int64_t>(lacking - 1, -128, 127)));
        std::uint64_t modes = 0;
        int carry = 0;  // the running sum before this quarter
        for (unsigned q = 0; q < 4; ++q) {
            const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start + 16 * q));
            const __m128i out = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + start - w_ + 16 * q));
            const __m128i step = _mm_sub_epi8(in, out);
            __m128i sum = _mm_add_epi8(step, _mm_slli_si128(step, 1));
            sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 2));
            sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 4));
            sum = _mm_add_epi8(sum, _mm_slli_si128(sum, 8));
            sum = _mm_add_epi8(sum, _mm_set1_epi8(static_cast<char>(carry)));
            const __m128i before = _mm_sub_epi8(sum, step);  // the sums before each place
            modes |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(before, bar)))} << (16 * q);
            carry = static_cast<std::int8_t>(_mm_extract_epi16(sum, 7) >> 8);
        }
        ones_ = static_cast<std::size_t>(static_cast<std::int64_t>(ones_) + carry);
        return modes;
    }
#endif

    std::size_t w_, ones_ = 0;  // ones: of the window before the next place
};

// The predictions of data[63..n) on bits into `tally`.
void play_bits(Symbols s, CorrectTally& tally) {
    const std::size_t first = WINDOWS[0];
    std::vector<BitWindow> windows(WINDOWS.begin(), WINDOWS.end());
    Scoreboard board(WINDOWS.size());
    for (BitWindow& w : windows) w.block(s.data, 0, first, 0);  // none is full before the first prediction
    for (std::size_t start = first; start < s.n; start += 64) {
        const auto len = static_cast<unsigned>(std::min<std::size_t>(64, s.n - start));
        const std::uint64_t bits = pack_low_first(s.data + start, len);
        std::uint64_t hits[WINDOWS.size()];
        for (std::size_t j = 0; j < WINDOWS.size(); ++j) hits[j] = windows[j].block(s.data, start, len, bits);
        tally.add(board.play(hits, len), len);
        pool::checkpoint();
    }
}

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
            play_bits(s, tally);
        } else {
            play<WindowMode>(s, tally);
        }
    }
    return prediction_result(tally, n, s.k);
}

}  // namespace veltrane::sp800_90b
