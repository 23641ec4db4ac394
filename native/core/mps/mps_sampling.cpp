// Drawing measurement outcomes from an MPS, one qubit after another.
#include "core/mps/mps_sampling.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "core/runtime/lapack.hpp"
#include "core/statevector/sampling.hpp"

namespace bvc::mps {

namespace {

// The site tensor after the basis change of its qubit (a unitary on the
// physical index keeps it right-isometric).
Tensor rotated(const Tensor& b, Basis basis) {
    Tensor out = b;
    if (basis == Basis::Z) return out;
    const double r = 1.0 / std::sqrt(2.0);
    const cplx i(0.0, 1.0);
    // Rows of H, resp. H S^dagger.
    const cplx u[4] = {r, basis == Basis::X ? cplx(r) : -i * r, r, basis == Basis::X ? cplx(-r) : i * r};
    const std::size_t left = b.left;
    for (int c = 0; c < b.right; ++c) {
        const cplx* zero = b.data.data() + 2 * left * c;
        cplx* out_zero = out.data.data() + 2 * left * c;
        for (std::size_t a = 0; a < left; ++a) {
            out_zero[a] = u[0] * zero[a] + u[1] * zero[a + left];
            out_zero[a + left] = u[2] * zero[a] + u[3] * zero[a + left];
        }
    }
    return out;
}

double squared_norm(const cplx* v, int count) {
    double sum = 0.0;
    for (int i = 0; i < count; ++i) sum += v[i].real() * v[i].real() + v[i].imag() * v[i].imag();
    return sum;
}

// Prefix groups of one chunk of shots.
struct Groups {
    std::vector<std::uint64_t> count;
    std::vector<std::uint64_t> bits;  // words per group
    std::vector<cplx> vectors;        // bond x groups, one column per group
};

// Sorts the outcomes ascending (comparing from the most significant word
// down) and adds up the counts of equal ones.
void merge_equal_outcomes(Samples& samples) {
    const int words = samples.words;
    const std::vector<std::uint64_t> bits = std::move(samples.outcomes);
    const std::vector<std::uint64_t> counts = std::move(samples.counts);
    std::vector<std::size_t> order(counts.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (int w = words - 1; w >= 0; --w) {
            const std::uint64_t x = bits[a * words + w], y = bits[b * words + w];
            if (x != y) return x < y;
        }
        return false;
    });
    samples.outcomes.clear();
    samples.counts.clear();
    for (const std::size_t index : order) {
        const std::uint64_t* outcome = bits.data() + index * words;
        const std::size_t distinct = samples.counts.size();
        if (distinct > 0 && std::equal(outcome, outcome + words, samples.outcomes.data() + (distinct - 1) * words)) {
            samples.counts.back() += counts[index];
        } else {
            samples.outcomes.insert(samples.outcomes.end(), outcome, outcome + words);
            samples.counts.push_back(counts[index]);
        }
    }
}

}  // namespace

Samples sample(const Mps& state, std::uint64_t shots, std::uint64_t seed, const std::vector<Basis>& bases,
               Interrupt interrupt) {
    const int n = state.size();
    Samples out;
    out.words = (n + 63) / 64;
    const int words = out.words;
    if (shots == 0) return out;
    int widest = 1;
    for (const Tensor& t : state.sites) widest = std::max(widest, t.right);
    const std::uint64_t per_shot = static_cast<std::uint64_t>(widest) * 4 * sizeof(cplx) + 8 * (words + 1);
    const std::uint64_t chunk = std::max<std::uint64_t>(1, kSamplingMemory / per_shot);

    sampling::Xoshiro256 rng(seed);
    std::vector<cplx> w0, w1, v1;
    std::vector<std::uint64_t> zeros;
    std::vector<int> branching;  // groups with shots on the 1 branch
    for (std::uint64_t done = 0; done < shots; done += std::min(chunk, shots - done)) {
        Groups groups;
        groups.count.assign(1, std::min(chunk, shots - done));
        groups.bits.assign(words, 0);
        groups.vectors.assign(1, 1.0);
        for (int k = 0; k < n; ++k) {
            const Tensor b = rotated(state.sites[k], bases.empty() ? Basis::Z : bases[k]);
            const int g = static_cast<int>(groups.count.size());
            const int chi = b.left, next = b.right;
            // Every group vector has unit norm and the tensor is right-isometric,
            // so the squared norm of v B[0] is the probability of a 0; v B[1]
            // is formed only for the groups that draw a 1.
            w0.resize(static_cast<std::size_t>(next) * g);
            lapack::gemm('T', 'N', next, g, chi, 1.0, b.slice(0), 2 * chi, groups.vectors.data(), chi, 0.0, w0.data(),
                         next);
            zeros.resize(g);
            branching.clear();
            for (int i = 0; i < g; ++i) {
                const double p0 = squared_norm(w0.data() + static_cast<std::size_t>(next) * i, next);
                std::uint64_t hits = 0;
                for (std::uint64_t shot = 0; shot < groups.count[i]; ++shot) hits += rng.uniform_open() < p0;
                interrupt.progress(groups.count[i]);
                zeros[i] = hits;
                if (hits < groups.count[i]) branching.push_back(i);
            }
            const int g1 = static_cast<int>(branching.size());
            v1.resize(static_cast<std::size_t>(chi) * g1);
            for (int j = 0; j < g1; ++j) {
                std::copy_n(groups.vectors.data() + static_cast<std::size_t>(chi) * branching[j], chi,
                            v1.data() + static_cast<std::size_t>(chi) * j);
            }
            w1.resize(static_cast<std::size_t>(next) * g1);
            lapack::gemm('T', 'N', next, g1, chi, 1.0, b.slice(1), 2 * chi, v1.data(), chi, 0.0, w1.data(), next);

            Groups grown;
            grown.count.reserve(g + g1);
            grown.bits.reserve(static_cast<std::size_t>(words) * (g + g1));
            grown.vectors.resize(static_cast<std::size_t>(next) * (g + g1));
            const std::uint64_t bit = std::uint64_t{1} << (k % 64);
            const auto add = [&](int i, std::uint64_t hits, const cplx* v, bool one) {
                const double scale = 1.0 / std::sqrt(squared_norm(v, next));
                cplx* target = grown.vectors.data() + static_cast<std::size_t>(next) * grown.count.size();
                for (int j = 0; j < next; ++j) target[j] = v[j] * scale;
                grown.count.push_back(hits);
                const std::uint64_t* prefix = groups.bits.data() + static_cast<std::size_t>(words) * i;
                grown.bits.insert(grown.bits.end(), prefix, prefix + words);
                if (one) grown.bits[grown.bits.size() - words + k / 64] |= bit;
            };
            for (int i = 0, j = 0; i < g; ++i) {
                const cplx* one = nullptr;
                if (j < g1 && branching[j] == i) {
                    one = w1.data() + static_cast<std::size_t>(next) * j++;
                    // A 1 of exactly zero amplitude can only be drawn when
                    // rounding left the probability of 0 a hair below 1.
                    if (squared_norm(one, next) == 0.0) {
                        zeros[i] = groups.count[i];
                        one = nullptr;
                    }
                }
                if (zeros[i] > 0) add(i, zeros[i], w0.data() + static_cast<std::size_t>(next) * i, false);
                if (one != nullptr) add(i, groups.count[i] - zeros[i], one, true);
            }
            grown.vectors.resize(static_cast<std::size_t>(next) * grown.count.size());
            groups = std::move(grown);
            interrupt.progress(static_cast<std::uint64_t>(g + g1) * chi * next + groups.count.size() * words);
        }
        // Merged after every chunk, so that memory follows the distinct outcomes.
        out.outcomes.insert(out.outcomes.end(), groups.bits.begin(), groups.bits.end());
        out.counts.insert(out.counts.end(), groups.count.begin(), groups.count.end());
        merge_equal_outcomes(out);
    }

    return out;
}

}  // namespace bvc::mps
