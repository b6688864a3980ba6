#include "bz2_length/code_lengths.hpp"

#include <algorithm>

#include "bz2_length/format.hpp"

namespace veltrane::bz2_length {

namespace {

constexpr int NODES = 2 * MAX_ALPHABET;

// A weight: count in the high 24 bits, subtree depth in the low 8.
std::uint32_t joined(std::uint32_t a, std::uint32_t b) {
    return ((a & 0xffffff00u) + (b & 0xffffff00u)) | (1 + std::max(a & 0xffu, b & 0xffu));
}

struct Tree {
    std::uint32_t weight[NODES + 1];
    int parent[NODES + 1];
    int heap[MAX_ALPHABET + 2];
    int size = 0;

    void sift_up(int at) {
        const int node = heap[at];
        while (weight[node] < weight[heap[at >> 1]]) {
            heap[at] = heap[at >> 1];
            at >>= 1;
        }
        heap[at] = node;
    }

    void sift_down(int at) {
        const int node = heap[at];
        for (;;) {
            int child = at << 1;
            if (child > size) break;
            if (child < size && weight[heap[child + 1]] < weight[heap[child]]) ++child;
            if (weight[node] < weight[heap[child]]) break;
            heap[at] = heap[child];
            at = child;
        }
        heap[at] = node;
    }

    int pop() {
        const int top = heap[1];
        heap[1] = heap[size--];
        sift_down(1);
        return top;
    }

    // Builds the tree over leaves 1..alphabet; true when no leaf is deeper than `longest`.
    bool build(int alphabet, int longest, std::uint8_t* lengths) {
        // Slot 0 is the heap's sentinel: weight 0 stops every sift-up at the root.
        heap[0] = 0;
        weight[0] = 0;
        parent[0] = -2;
        size = 0;
        for (int leaf = 1; leaf <= alphabet; ++leaf) {
            parent[leaf] = -1;
            heap[++size] = leaf;
            sift_up(size);
        }
        int nodes = alphabet;
        while (size > 1) {
            const int a = pop();
            const int b = pop();
            ++nodes;
            parent[a] = parent[b] = nodes;
            weight[nodes] = joined(weight[a], weight[b]);
            parent[nodes] = -1;
            heap[++size] = nodes;
            sift_up(size);
        }
        bool fits = true;
        for (int leaf = 1; leaf <= alphabet; ++leaf) {
            int depth = 0;
            for (int k = leaf; parent[k] >= 0; k = parent[k]) ++depth;
            lengths[leaf - 1] = static_cast<std::uint8_t>(depth);
            fits = fits && depth <= longest;
        }
        return fits;
    }
};

}  // namespace

void make_code_lengths(const std::uint32_t* counts, int alphabet, int longest, std::uint8_t* lengths) {
    Tree tree;
    for (int s = 0; s < alphabet; ++s) tree.weight[s + 1] = std::max<std::uint32_t>(counts[s], 1) << 8;
    while (!tree.build(alphabet, longest, lengths)) {
        for (int leaf = 1; leaf <= alphabet; ++leaf) tree.weight[leaf] = (1 + (tree.weight[leaf] >> 8) / 2) << 8;
    }
}

}  // namespace veltrane::bz2_length
