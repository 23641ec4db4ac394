// Pauli-sum expectation values on an MPS, sharing environments between strings.
#include "core/mps/mps_expectation.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "core/runtime/lapack.hpp"

namespace bvc::mps {

namespace {

// A Pauli matrix as a permutation with phases: P[s][s ^ flip] = phase[s].
struct Action {
    int flip;
    cplx phase[2];
};

Action action_of(std::uint8_t code) {
    const cplx i(0.0, 1.0);
    switch (code) {
        case 1: return {1, {1.0, 1.0}};
        case 2: return {1, {-i, i}};
        case 3: return {0, {1.0, -1.0}};
        default: return {0, {1.0, 1.0}};
    }
}

enum class Side { Left, Right };

// Strings grown from one end of the chain, one site per level (identities
// included). A node stands for the environment of its string at its bond:
// for the left tree the bond right of the string's last site, for the right
// tree the bond left of it. A root is the empty string at one bond.
class Trie {
public:
    explicit Trie(int bonds) : roots_(bonds, -1) {}

    int root(int bond) {
        if (roots_[bond] < 0) roots_[bond] = add(-1, 0, bond);
        return roots_[bond];
    }

    int child(int parent, std::uint8_t code, int bond) {
        if (children_[parent][code] < 0) {
            const int id = add(parent, code, bond);
            children_[parent][code] = id;
        }
        return children_[parent][code];
    }

    // The child if it exists, else -1.
    int find(int parent, std::uint8_t code) const { return parent < 0 ? -1 : children_[parent][code]; }
    int find_root(int bond) const { return roots_[bond]; }

    int size() const { return static_cast<int>(parent_.size()); }
    int parent(int v) const { return parent_[v]; }
    std::uint8_t code(int v) const { return code_[v]; }
    int bond(int v) const { return bond_[v]; }
    int first_child(int v) const { return next_child(v, -1); }
    int next_sibling(int v) const { return next_child(parent_[v], code_[v]); }
    bool is_root(int v) const { return parent_[v] < 0; }
    const std::vector<int>& roots() const { return roots_; }

private:
    int add(int parent, std::uint8_t code, int bond) {
        parent_.push_back(parent);
        code_.push_back(code);
        bond_.push_back(bond);
        children_.push_back({-1, -1, -1, -1});
        return size() - 1;
    }

    int next_child(int v, int after) const {
        for (int c = after + 1; c < 4; ++c) {
            if (children_[v][c] >= 0) return children_[v][c];
        }
        return -1;
    }

    std::vector<int> roots_;
    std::vector<int> parent_, bond_;
    std::vector<std::uint8_t> code_;
    std::vector<std::array<int, 4>> children_;
};

// Where a string is cut: its prefix node, its suffix node and the factor at
// the middle site between them.
struct Cut {
    int left;
    int right;
    int site;
    std::uint8_t code;
};

class Evaluator {
public:
    Evaluator(const Mps& state, Interrupt interrupt)
        : state_(state),
          interrupt_(std::move(interrupt)),
          left_(state.size() + 1),
          right_(state.size() + 1),
          root_halves_(state.size()) {}

    std::vector<double> run(const std::vector<PauliString>& strings, std::size_t memory);

private:
    // Where every string is cut (site -1 for the identity), growing the trees.
    std::vector<Cut> cut_strings(const std::vector<PauliString>& strings);
    // The value of every cut string, in passes that keep at most `memory`
    // bytes of half steps.
    void evaluate(const std::vector<Cut>& cuts, std::size_t memory, std::vector<double>& values);

    // The half step of a node at `bond`: the environment contracted with the
    // site next to it, (left bond of the site) x 2 x (right bond), leading
    // dimension 2 x left bond. For the left tree E * B, for the right tree
    // B * R^dagger.
    int half_site(Side side, int bond) const { return side == Side::Left ? bond : bond - 1; }
    std::size_t half_size(Side side, int bond) const { return state_.sites[half_site(side, bond)].data.size(); }
    const cplx* root_half(Side side, int bond);
    // The products a node's children are made of: for the factors that keep
    // the physical index (I, Z: flip 0) or flip it (X, Y: flip 1),
    //   left tree:  parts[s] = B[s]^dagger half[s ^ flip],
    //   right tree: parts[s] = B[s ^ flip] half[s]^dagger,
    // with B the tensor at the node's site. A child's environment is then
    // phase[0] parts[0] + phase[1] parts[1], so children I and Z (or X and
    // Y) of one node share their products.
    void parts(Side side, int bond, int flip, const cplx* half, std::vector<cplx>& out);
    // The child's half step from the parts of its parent.
    void grow(Side side, int bond, std::uint8_t code, const std::vector<cplx>& parts, std::vector<cplx>& out);
    // Sum_s phase[s] <right[s], left[s ^ flip]> at `site`.
    double meet(int site, std::uint8_t code, const cplx* left_half, const cplx* right_half) const;

    template <class Visit>
    void walk(Side side, const std::vector<char>& wanted, Visit&& visit);

    Trie& trie(Side side) { return side == Side::Left ? left_ : right_; }
    void mark_with_ancestors(const Trie& tree, int v, std::vector<char>& wanted) const;

    const Mps& state_;
    Interrupt interrupt_;
    Trie left_, right_;
    std::vector<std::vector<cplx>> root_halves_;  // diag(schmidt^2) B of every bond, made when needed
    std::vector<std::vector<cplx>> buffers_;      // half steps along the current path of a walk
    std::vector<std::vector<cplx>> parts_;        // parts of the nodes on that path, two per depth
    std::vector<cplx> environment_;
};

const cplx* Evaluator::root_half(Side side, int bond) {
    if (side == Side::Right) return state_.sites[bond - 1].data.data();
    std::vector<cplx>& half = root_halves_[bond];
    if (half.empty()) {
        const Tensor& b = state_.sites[bond];
        const std::vector<double>& lambda = state_.schmidt[bond];
        half = b.data;
        for (std::size_t i = 0; i < half.size(); ++i) {
            const double value = lambda[i % b.left];
            half[i] *= value * value;
        }
    }
    return half.data();
}

void Evaluator::parts(Side side, int bond, int flip, const cplx* half, std::vector<cplx>& out) {
    if (side == Side::Left) {
        const Tensor& b = state_.sites[bond];
        const int chi = b.left, next = b.right, ld = 2 * chi;
        const std::size_t size = static_cast<std::size_t>(next) * next;
        out.resize(2 * size);
        for (int s = 0; s < 2; ++s) {
            lapack::gemm('C', 'N', next, next, chi, 1.0, b.slice(s), ld,
                         half + static_cast<std::size_t>(chi) * (s ^ flip), ld, 0.0, out.data() + size * s, next);
        }
        interrupt_.progress(2 * size * chi);
    } else {
        const Tensor& b = state_.sites[bond - 1];
        const int chi = b.left, ld = 2 * chi;
        const std::size_t size = static_cast<std::size_t>(chi) * chi;
        out.resize(2 * size);
        for (int s = 0; s < 2; ++s) {
            lapack::gemm('N', 'C', chi, chi, b.right, 1.0, b.slice(s ^ flip), ld,
                         half + static_cast<std::size_t>(chi) * s, ld, 0.0, out.data() + size * s, chi);
        }
        interrupt_.progress(2 * size * b.right);
    }
}

void Evaluator::grow(Side side, int bond, std::uint8_t code, const std::vector<cplx>& parts, std::vector<cplx>& out) {
    const Action act = action_of(code);
    const std::size_t size = parts.size() / 2;
    environment_.resize(size);
    for (std::size_t i = 0; i < size; ++i) environment_[i] = act.phase[0] * parts[i] + act.phase[1] * parts[size + i];
    if (side == Side::Left) {
        const Tensor& c = state_.sites[bond + 1];
        const int chi = c.left;
        out.resize(c.data.size());
        lapack::gemm('N', 'N', chi, 2 * c.right, chi, 1.0, environment_.data(), chi, c.data.data(), chi, 0.0,
                     out.data(), chi);
        interrupt_.progress(c.data.size() * chi);
    } else {
        const Tensor& c = state_.sites[bond - 2];
        const int chi = c.right;
        out.resize(c.data.size());
        lapack::gemm('N', 'C', 2 * c.left, chi, chi, 1.0, c.data.data(), 2 * c.left, environment_.data(), chi, 0.0,
                     out.data(), 2 * c.left);
        interrupt_.progress(c.data.size() * chi);
    }
}

double Evaluator::meet(int site, std::uint8_t code, const cplx* left_half, const cplx* right_half) const {
    const Action act = action_of(code);
    const Tensor& t = state_.sites[site];
    const std::size_t chi = t.left, ld = 2 * chi;
    cplx sum = 0.0;
    for (int s = 0; s < 2; ++s) {
        const cplx* h = right_half + chi * s;
        const cplx* f = left_half + chi * (s ^ act.flip);
        double re = 0.0, im = 0.0;
        for (int b = 0; b < t.right; ++b) {
            for (std::size_t a = 0; a < chi; ++a) {
                const cplx x = h[a + ld * b], y = f[a + ld * b];
                re += x.real() * y.real() + x.imag() * y.imag();
                im += x.real() * y.imag() - x.imag() * y.real();
            }
        }
        sum += act.phase[s] * cplx(re, im);
    }
    return sum.real();
}

void Evaluator::mark_with_ancestors(const Trie& tree, int v, std::vector<char>& wanted) const {
    while (v >= 0 && !wanted[v]) {
        wanted[v] = 1;
        v = tree.parent(v);
    }
}

// Depth first through the wanted nodes, so that only the half steps of one
// path are held at a time.
template <class Visit>
void Evaluator::walk(Side side, const std::vector<char>& wanted, Visit&& visit) {
    const Trie& tree = trie(side);
    const auto next_wanted = [&](int v) {
        while (v >= 0 && !wanted[v]) v = tree.next_sibling(v);
        return v;
    };
    struct Frame {
        int node;
        int child;
        bool ready[2];  // parts of flip 0 and flip 1 made
    };
    std::vector<Frame> stack;
    std::vector<const cplx*> halves;
    for (int r : tree.roots()) {
        if (r < 0 || !wanted[r]) continue;
        halves.assign(1, root_half(side, tree.bond(r)));
        visit(r, halves[0]);
        stack.push_back({r, next_wanted(tree.first_child(r)), {false, false}});
        while (!stack.empty()) {
            Frame& top = stack.back();
            const int c = top.child;
            if (c < 0) {
                stack.pop_back();
                continue;
            }
            top.child = next_wanted(tree.next_sibling(c));
            const std::size_t depth = stack.size();
            if (buffers_.size() <= depth) buffers_.resize(depth + 1);
            if (parts_.size() < 2 * depth) parts_.resize(2 * depth);
            if (halves.size() <= depth) halves.resize(depth + 1);
            const int flip = action_of(tree.code(c)).flip;
            std::vector<cplx>& made = parts_[2 * (depth - 1) + flip];
            if (!top.ready[flip]) {
                parts(side, tree.bond(top.node), flip, halves[depth - 1], made);
                top.ready[flip] = true;
            }
            grow(side, tree.bond(top.node), tree.code(c), made, buffers_[depth]);
            halves[depth] = buffers_[depth].data();
            visit(c, halves[depth]);
            stack.push_back({c, next_wanted(tree.first_child(c)), {false, false}});
        }
    }
}

std::vector<double> Evaluator::run(const std::vector<PauliString>& strings, std::size_t memory) {
    std::vector<double> values(strings.size(), 1.0);  // the identity's value stays
    evaluate(cut_strings(strings), memory, values);
    const double norm2 = state_.norm * state_.norm;
    for (double& v : values) v *= norm2;
    return values;
}

// Each string is cut where it costs least given the nodes the strings before
// it left in the trees (ties: nearest the middle of its support).
std::vector<Cut> Evaluator::cut_strings(const std::vector<PauliString>& strings) {
    std::vector<Cut> cuts(strings.size(), Cut{-1, -1, -1, 0});
    // Work of the node a tree gains on each site (its environment and its
    // half step), summed from the left end: a path of new nodes from site x
    // to site y costs a difference of two sums.
    const int n = state_.size();
    const auto chi = [&](int b) -> double { return b <= 0 || b >= n ? 1.0 : state_.sites[b].left; };
    std::vector<double> left_work(n + 1, 0.0), right_work(n + 1, 0.0);
    for (int b = 0; b < n; ++b) {
        left_work[b + 1] =
            left_work[b] + 2 * chi(b) * chi(b + 1) * chi(b + 1) + 2 * chi(b + 1) * chi(b + 1) * chi(b + 2);
        right_work[b + 1] = right_work[b] + 2 * chi(b) * chi(b) * chi(b + 1) + 2 * chi(b - 1) * chi(b) * chi(b);
    }
    // Strings with more factors first: they lay down the longest paths, and
    // the shorter strings then pick the cut that reuses most of them.
    std::vector<std::size_t> order(strings.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return strings[a].size() > strings[b].size(); });
    for (const std::size_t k : order) {
        const PauliString& string = strings[k];
        if (string.empty()) continue;
        const int first = string.front().site, last = string.back().site;
        // How far the existing trees already reach along this string.
        int left_reach = first;  // left nodes exist up to this bond
        {
            std::size_t f = 0;
            for (int node = left_.find_root(first), x = first; node >= 0 && x < last; ++x) {
                const std::uint8_t code = string[f].site == x ? string[f].code : 0;
                node = left_.find(node, code);
                if (node < 0) break;
                if (code != 0) ++f;
                left_reach = x + 1;
            }
        }
        int right_reach = last;  // right nodes exist down to the bond above it
        {
            std::size_t f = string.size() - 1;
            for (int node = right_.find_root(last + 1), x = last; node >= 0 && x > first; --x) {
                const std::uint8_t code = string[f].site == x ? string[f].code : 0;
                node = right_.find(node, code);
                if (node < 0) break;
                if (code != 0) --f;
                right_reach = x - 1;
            }
        }
        std::size_t j = 0;
        double best_work = 0.0;
        long best_offset = 0;
        for (std::size_t c = 0; c < string.size(); ++c) {
            const int m = string[c].site;
            const double work =
                (c > 0 && m > left_reach ? left_work[m] - left_work[left_reach] : 0.0) +
                (c + 1 < string.size() && right_reach > m ? right_work[right_reach + 1] - right_work[m + 1] : 0.0);
            const long offset = std::labs(2L * m - first - last);
            if (c == 0 || work < best_work || (work == best_work && offset < best_offset)) {
                j = c;
                best_work = work;
                best_offset = offset;
            }
        }
        const int m = string[j].site;
        int node = left_.root(j == 0 ? m : first);
        if (j > 0) {
            for (std::size_t f = 0, x = first; static_cast<int>(x) < m; ++x) {
                const std::uint8_t code = f < j && string[f].site == static_cast<int>(x) ? string[f++].code : 0;
                node = left_.child(node, code, static_cast<int>(x) + 1);
            }
        }
        cuts[k].left = node;
        node = right_.root(j + 1 == string.size() ? m + 1 : last + 1);
        if (j + 1 < string.size()) {
            for (int f = static_cast<int>(string.size()) - 1, x = last; x > m; --x) {
                const std::uint8_t code = f > static_cast<int>(j) && string[f].site == x ? string[f--].code : 0;
                node = right_.child(node, code, x);
            }
        }
        cuts[k].right = node;
        cuts[k].site = m;
        cuts[k].code = string[j].code;
    }
    return cuts;
}

void Evaluator::evaluate(const std::vector<Cut>& cuts, std::size_t memory, std::vector<double>& values) {
    // The side whose nodes at the cuts need less memory is walked first and
    // its half steps there are kept; the other side then meets them.
    std::size_t bytes[2] = {0, 0};
    {
        std::vector<char> seen_left(left_.size(), 0), seen_right(right_.size(), 0);
        for (const Cut& cut : cuts) {
            if (cut.site < 0) continue;
            if (!left_.is_root(cut.left) && !seen_left[cut.left]) {
                seen_left[cut.left] = 1;
                bytes[0] += half_size(Side::Left, left_.bond(cut.left)) * sizeof(cplx);
            }
            if (!right_.is_root(cut.right) && !seen_right[cut.right]) {
                seen_right[cut.right] = 1;
                bytes[1] += half_size(Side::Right, right_.bond(cut.right)) * sizeof(cplx);
            }
        }
    }
    const Side kept_side = bytes[0] <= bytes[1] ? Side::Left : Side::Right;
    const Side met_side = kept_side == Side::Left ? Side::Right : Side::Left;
    Trie& kept_tree = trie(kept_side);
    Trie& met_tree = trie(met_side);
    const auto kept_node = [&](const Cut& cut) { return kept_side == Side::Left ? cut.left : cut.right; };
    const auto met_node = [&](const Cut& cut) { return kept_side == Side::Left ? cut.right : cut.left; };

    // Passes: the kept nodes in creation order, cut into groups that fit the
    // memory (at least one node per pass).
    std::vector<int> pass_of(kept_tree.size(), 0);
    int passes = 1;
    {
        std::vector<int> used;
        std::vector<char> seen(kept_tree.size(), 0);
        for (const Cut& cut : cuts) {
            const int v = cut.site < 0 ? -1 : kept_node(cut);
            if (v >= 0 && !kept_tree.is_root(v) && !seen[v]) {
                seen[v] = 1;
                used.push_back(v);
            }
        }
        std::sort(used.begin(), used.end());
        std::size_t filled = 0;
        for (int v : used) {
            const std::size_t size = half_size(kept_side, kept_tree.bond(v)) * sizeof(cplx);
            if (filled > 0 && filled + size > memory) {
                ++passes;
                filled = 0;
            }
            filled += size;
            pass_of[v] = passes - 1;
        }
    }

    // The kept half steps of one pass, one after another in a single pool.
    std::vector<std::size_t> offset(kept_tree.size(), 0);
    std::vector<cplx> pool;
    std::vector<int> first_cut(met_tree.size(), -1), next_cut(cuts.size(), -1);
    for (int pass = 0; pass < passes; ++pass) {
        std::vector<char> kept_wanted(kept_tree.size(), 0), met_wanted(met_tree.size(), 0);
        std::fill(first_cut.begin(), first_cut.end(), -1);
        for (std::size_t k = 0; k < cuts.size(); ++k) {
            const Cut& cut = cuts[k];
            if (cut.site < 0 || pass_of[kept_node(cut)] != pass) continue;
            if (!kept_tree.is_root(kept_node(cut))) mark_with_ancestors(kept_tree, kept_node(cut), kept_wanted);
            mark_with_ancestors(met_tree, met_node(cut), met_wanted);
            next_cut[k] = first_cut[met_node(cut)];
            first_cut[met_node(cut)] = static_cast<int>(k);
        }
        pool.clear();
        walk(kept_side, kept_wanted, [&](int v, const cplx* half) {
            if (kept_tree.is_root(v) || pass_of[v] != pass) return;
            offset[v] = pool.size();
            pool.insert(pool.end(), half, half + half_size(kept_side, kept_tree.bond(v)));
        });
        walk(met_side, met_wanted, [&](int v, const cplx* half) {
            for (int k = first_cut[v]; k >= 0; k = next_cut[k]) {
                const Cut& cut = cuts[k];
                const int u = kept_node(cut);
                const cplx* other =
                    kept_tree.is_root(u) ? root_half(kept_side, kept_tree.bond(u)) : pool.data() + offset[u];
                values[k] = kept_side == Side::Left ? meet(cut.site, cut.code, other, half)
                                                    : meet(cut.site, cut.code, half, other);
                interrupt_.progress(state_.sites[cut.site].data.size());
            }
        });
    }
}

}  // namespace

std::vector<double> pauli_expectations(const Mps& state, const std::vector<PauliString>& strings, Interrupt interrupt,
                                       std::size_t memory) {
    Evaluator evaluator(state, std::move(interrupt));
    return evaluator.run(strings, memory);
}

}  // namespace bvc::mps
