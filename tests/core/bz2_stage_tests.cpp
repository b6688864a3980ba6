// The stages of bz2_length against the plain model (reference_bz2.hpp): code
// lengths, the table choice's vector version, move-to-front coding, where
// blocks close, and the decimal blocks' token transform. The rotation sort is
// in bz2_rotation_tests.cpp, the whole against libbz2 in bz2_length_tests.cpp.
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "bz2_inputs.hpp"
#include "check.hpp"
#include "reference_bz2.hpp"
#include "suites.hpp"

#include "bz2_length/code_lengths.hpp"
#include "bz2_length/decimal_blocks.hpp"
#include "bz2_length/format.hpp"
#include "bz2_length/move_to_front.hpp"
#include "bz2_length/run_length.hpp"
#include "bz2_length/small_selection.hpp"
#include "bz2_length/token_transform.hpp"
#include "bz2_length/workspace.hpp"

namespace {

namespace bz = veltrane::bz2_length;
namespace ref = bz2_reference;
using Bytes = std::vector<std::uint8_t>;

int passed = 0, failed = 0;

// ---- code lengths ----

// The cost of an optimal prefix code, by the textbook merge of the two least counts.
long optimal_cost(const std::vector<long>& counts) {
    std::priority_queue<long, std::vector<long>, std::greater<long>> q;
    for (long c : counts) q.push(std::max(c, 1L));
    long cost = 0;
    while (q.size() > 1) {
        const long a = q.top();
        q.pop();
        const long b = q.top();
        q.pop();
        cost += a + b;
        q.push(a + b);
    }
    return cost;
}

void check_code_lengths(std::mt19937_64& rng) {
    for (int trial = 0; trial < 3000; ++trial) {
        const int alphabet = 2 + static_cast<int>(rng() % (trial % 3 == 0 ? 257 : 20));
        std::vector<long> counts(alphabet);
        const int shape = trial % 4;
        for (int s = 0; s < alphabet; ++s) {
            if (shape == 0) counts[s] = static_cast<long>(rng() % 50);
            if (shape == 1) counts[s] = rng() % 3 ? 0 : static_cast<long>(rng() % 1000);
            // Doubling counts: without the limit their codes would reach the alphabet's size.
            if (shape == 2) counts[s] = 1L << std::min(s, 19);
            if (shape == 3) {
                const long c = static_cast<long>(rng() % 900000);
                counts[s] = c >> (rng() % 20);
            }
        }
        std::vector<std::uint32_t> wide(counts.begin(), counts.end());
        std::vector<std::uint8_t> fast(alphabet);
        bz::make_code_lengths(wide.data(), alphabet, bz::LONGEST_CODE, fast.data());
        const std::vector<int> model = ref::code_lengths(counts, bz::LONGEST_CODE);
        CHECK(std::equal(fast.begin(), fast.end(), model.begin()));
        // A complete code within the limit.
        long kraft = 0, cost = 0;
        int longest = 0;
        for (int s = 0; s < alphabet; ++s) {
            kraft += 1L << (bz::LONGEST_CODE - fast[s]);
            cost += std::max(counts[s], 1L) * fast[s];
            longest = std::max<int>(longest, fast[s]);
        }
        CHECK(kraft == 1L << bz::LONGEST_CODE);
        CHECK(longest <= bz::LONGEST_CODE);
        // Where the limit did not bite, as cheap as any prefix code.
        const std::vector<int> free = ref::code_lengths(counts, 64);
        if (*std::max_element(free.begin(), free.end()) <= bz::LONGEST_CODE) CHECK(cost == optimal_cost(counts));
    }
}

// The table choice over small alphabets: the vector version against the plain one.
void check_small_selection(std::mt19937_64& rng) {
    for (int trial = 0; trial < 500; ++trial) {
        const int tables = 2 + static_cast<int>(rng() % 5);
        const int alphabet = 3 + static_cast<int>(rng() % (bz::SMALL_CODING_ALPHABET - 2));
        bz::TableLengths lengths{};
        for (int t = 0; t < tables; ++t) {
            const bool initial = trial % 5 == 0;  // the first round's 0 and 15
            for (int s = 0; s < alphabet; ++s)
                lengths[t][s] = static_cast<std::uint8_t>(initial ? (rng() % 2) * 15 : 1 + rng() % bz::LONGEST_CODE);
        }
        const std::size_t groups = 1 + rng() % 300;
        std::vector<std::uint8_t> counts(groups * bz::SMALL_CODING_ALPHABET, 0);
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t symbols = g + 1 < groups ? bz::GROUP_SIZE : 1 + rng() % bz::GROUP_SIZE;
            for (std::size_t k = 0; k < symbols; ++k) ++counts[g * bz::SMALL_CODING_ALPHABET + rng() % alphabet];
        }
        std::vector<std::uint8_t> fast(groups), plain(groups);
        bz::SmallCounts fast_coded{}, plain_coded{};
        bz::select_small(counts.data(), groups, tables, lengths, fast.data(), fast_coded);
        bz::detail::select_small_portable(counts.data(), groups, tables, lengths, plain.data(), plain_coded);
        CHECK(fast == plain && fast_coded == plain_coded);
    }
}

// ---- move-to-front and run symbols ----

void check_move_to_front(bool long_form, std::mt19937_64& rng) {
    const bool vector = bz::detail::have_vector_move_to_front();
    for (int trial = 0; trial < (long_form ? 3000 : 600); ++trial) {
        const int alphabet = 1 + static_cast<int>(rng() % bz::SMALL_ALPHABET);
        // Mostly short runs; some of 255 and more zeros, and some inputs long
        // enough for the lanes' step counts to be renumbered.
        std::size_t n = rng() % (trial % 50 == 0 ? 200000 : 2000);
        Bytes letters;
        while (letters.size() < n) {
            const std::size_t longest = trial % 7 == 0 ? 600 : rng() % 3 ? 2 : 9;
            const std::size_t run = 1 + rng() % longest;
            letters.insert(letters.end(), run, static_cast<std::uint8_t>(rng() % alphabet));
        }
        if (trial % 97 == 0) {
            const std::size_t length = 70000 + rng() % 1000;
            letters.assign(length, static_cast<std::uint8_t>(rng() % alphabet));
        }
        n = letters.size();
        std::vector<int> in_use(alphabet);
        std::iota(in_use.begin(), in_use.end(), 0);
        const std::vector<int> model = ref::symbols(letters, in_use);
        std::vector<std::uint16_t> wide(n + 1);
        wide.resize(bz::move_to_front_symbols(letters.data(), n, alphabet, wide.data()));
        CHECK(std::equal(wide.begin(), wide.end(), model.begin(), model.end()));
        // Over small alphabets only each group's symbol counts are kept.
        std::vector<std::uint8_t> expected(bz::detail::groups_for(n) * bz::COUNT_LANES, 0);
        for (std::size_t k = 0; k < model.size(); ++k) ++expected[k / bz::GROUP_SIZE * bz::COUNT_LANES + model[k]];
        std::vector<std::uint8_t> counts;
        CHECK(bz::move_to_front_counts(letters.data(), n, alphabet, counts) == model.size() && counts == expected);
        CHECK(bz::detail::move_to_front_counts_portable(letters.data(), n, alphabet, counts) == model.size() &&
              counts == expected);
    }
    if (!vector) std::fprintf(stderr, "bz2_length: no AVX2 here, the vector move-to-front was not tried\n");
}

// ---- where blocks close ----

void check_run_length_blocks(std::mt19937_64& rng) {
    for (int trial = 0; trial < 4000; ++trial) {
        const std::size_t capacity = 5 + rng() % 60;
        const std::size_t length = rng() % 400;
        const int alphabet = 1 + static_cast<int>(rng() % 4);
        const Bytes text = bz2_inputs::text_with_runs(length, alphabet, 300, rng);
        const std::vector<Bytes> model = ref::blocks(text.data(), text.size(), capacity);
        bz::RunLengthBlocks cut(text.data(), text.size(), capacity);
        std::vector<Bytes> fast;
        // Exactly the room promised, so that the sanitizers see a write past it.
        std::vector<std::uint8_t> block(capacity + bz::BLOCK_OVERRUN);
        while (const std::size_t size = cut.next(block.data())) {
            CHECK(size <= block.size());
            fast.emplace_back(block.begin(), block.begin() + size);
        }
        CHECK(fast == model);
    }
}

// The cyclic text a decimal block stands for: its values, then its wrap token, each with a space.
Bytes cyclic_text(const std::vector<std::uint16_t>& tokens, const bz::DecimalBlock& block) {
    std::string s;
    for (std::size_t k = 0; k < block.values; ++k) s += std::to_string(tokens[k]) + " ";
    s += std::string(block.wrap.digits, block.wrap.length) + " ";
    return Bytes(s.begin(), s.end());
}

bool is_rotation(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return false;
    Bytes twice(a);
    twice.insert(twice.end(), a.begin(), a.end());
    return std::search(twice.begin(), twice.end(), b.begin(), b.end()) != twice.end();
}

void check_decimal_blocks(bool long_form, std::mt19937_64& rng) {
    bz::Workspace ws;
    for (int trial = 0; trial < (long_form ? 20000 : 3000); ++trial) {
        const auto kind = static_cast<bz2_inputs::Kind>(trial % static_cast<int>(bz2_inputs::Kind::count));
        const Bytes values = bz2_inputs::samples(kind, rng() % 60, rng);
        const Bytes text = ref::decimal_text(values.data(), values.size());
        // Small blocks, so that cuts fall everywhere; some large enough for
        // the rotation sort's packing to span several of them.
        const std::size_t capacity = trial % 10 == 0 ? 60 + rng() % 200 : 1 + rng() % 30;
        const std::vector<Bytes> model = ref::blocks(text.data(), text.size(), capacity);
        bz::DecimalBlocks cut(values.data(), values.size(), capacity);
        bz::DecimalBlock block;
        std::vector<std::uint16_t> tokens;
        std::size_t k = 0;
        bool same = true;
        while (cut.next(tokens, block)) {
            if (k >= model.size() || block.length != model[k].size()) {
                same = false;
                break;
            }
            const Bytes& expected = model[k++];
            if (!block.has_space) {
                same = same && std::equal(expected.begin(), expected.end(), block.wrap.digits) &&
                       std::find(expected.begin(), expected.end(), ' ') == expected.end();
                continue;
            }
            same = same && is_rotation(cyclic_text(tokens, block), expected);
            // The token transform against sorting the block's rotations.
            const bz::Letters letters = bz::token_letters(tokens.data(), block.values, block, ws);
            Bytes tails = ref::sorted_rotation_tails(expected);
            int letter_of[256] = {}, alphabet = 0;
            for (std::uint8_t t : tails) letter_of[t] = 1;
            for (int& l : letter_of) l = l ? alphabet++ : -1;
            for (auto& t : tails) t = static_cast<std::uint8_t>(letter_of[t]);
            same = same && letters.alphabet == alphabet && std::equal(tails.begin(), tails.end(), ws.letters.begin());
        }
        if (!same || k != model.size()) std::fprintf(stderr, "decimal blocks: %s, %zu values, capacity %zu\n", bz2_inputs::name(kind), values.size(), capacity);
        CHECK(same && k == model.size());
    }
}

}  // namespace

int run_bz2_stage_tests(bool long_form) {
    passed = failed = 0;
    std::mt19937_64 rng(90);
    check_code_lengths(rng);
    check_small_selection(rng);
    check_move_to_front(long_form, rng);
    check_run_length_blocks(rng);
    check_decimal_blocks(long_form, rng);
    std::printf("bz2_length stages: %d passed, %d failed\n", passed, failed);
    return failed;
}
