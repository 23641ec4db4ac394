// Fidelity and exact gradient of a reverse-preparation circuit against a matrix product state.
#include "core/synthesis/mps_adjoint_gradient.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/mps/mps_evolution.hpp"
#include "core/runtime/lapack.hpp"
#include "core/statevector/small_matrix.hpp"

namespace bvc::synthesis {

namespace {

using bvc::mps::Tensor;
using bvc::sv::Mat2;
using bvc::sv::Mat4;
using Tensors = std::vector<Tensor>;

// An environment: rows x cols, column-major.
struct Matrix {
    int rows = 1;
    int cols = 1;
    std::vector<cplx> data{1.0};
};

// One site (d = 2) or a pair of neighbouring sites (d = 4, local index
// s0 + 2 s1) of a chain: element (a, j, b) at a + left (j + d b).
struct Local {
    int left = 1;
    int right = 1;
    int d = 2;
    const cplx* data = nullptr;
    std::vector<cplx> merged;  // the pair's own storage

    static Local site(const Tensor& t) { return Local{t.left, t.right, 2, t.data.data(), {}}; }

    static Local pair(const Tensor& a, const Tensor& b) {
        Local out{a.left, b.right, 4, nullptr, std::vector<cplx>(4 * static_cast<std::size_t>(a.left) * b.right)};
        lapack::gemm('N', 'N', 2 * a.left, 2 * b.right, a.right, 1.0, a.data.data(), 2 * a.left, b.data.data(), b.left,
                     0.0, out.merged.data(), 2 * a.left);
        out.data = out.merged.data();
        return out;
    }

    std::uint64_t work() const { return static_cast<std::uint64_t>(left) * d * right * (left + right); }
};

// The pair's local index of t (element x + width (j + 4 y), x < width,
// y < count) mixed by u.
void apply_local(const Mat4& u, cplx* t, std::size_t width, std::size_t count) {
    for (std::size_t y = 0; y < count; ++y) {
        cplx* base = t + 4 * width * y;
        for (std::size_t x = 0; x < width; ++x) {
            const cplx v[4] = {base[x], base[x + width], base[x + 2 * width], base[x + 3 * width]};
            for (int a = 0; a < 4; ++a) {
                base[x + a * width] =
                    u.m[4 * a] * v[0] + u.m[4 * a + 1] * v[1] + u.m[4 * a + 2] * v[2] + u.m[4 * a + 3] * v[3];
            }
        }
    }
}

// l times the ket: rows of the bra's left bond, columns (j, ket's right bond).
std::vector<cplx> left_times_ket(const Matrix& l, const Local& ket) {
    std::vector<cplx> y(static_cast<std::size_t>(l.rows) * ket.d * ket.right);
    lapack::gemm('N', 'N', l.rows, ket.d * ket.right, ket.left, 1.0, l.data.data(), l.rows, ket.data, ket.left, 0.0,
                 y.data(), l.rows);
    return y;
}

// The left environment one block further: sum over (a', j) of conj(bra) times y.
Matrix close_left(const Local& bra, const std::vector<cplx>& y, int ket_right) {
    Matrix out{bra.right, ket_right, std::vector<cplx>(static_cast<std::size_t>(bra.right) * ket_right)};
    lapack::gemm('C', 'N', bra.right, ket_right, bra.d * bra.left, 1.0, bra.data, bra.d * bra.left, y.data(),
                 bra.d * bra.left, 0.0, out.data.data(), bra.right);
    return out;
}

// The right environment (rows: ket's bond, columns: bra's) one block further
// left, the block's gate `u` (pairs only) inside.
Matrix right_block(const Matrix& rt, const Local& bra, const Local& ket, const Mat4* u) {
    std::vector<cplx> g(static_cast<std::size_t>(ket.d) * ket.left * bra.right);
    lapack::gemm('N', 'N', ket.d * ket.left, bra.right, ket.right, 1.0, ket.data, ket.d * ket.left, rt.data.data(),
                 rt.rows, 0.0, g.data(), ket.d * ket.left);
    if (u != nullptr) apply_local(*u, g.data(), ket.left, bra.right);
    Matrix out{ket.left, bra.left, std::vector<cplx>(static_cast<std::size_t>(ket.left) * bra.left)};
    lapack::gemm('N', 'C', ket.left, bra.left, ket.d * bra.right, 1.0, g.data(), ket.left, bra.data, bra.left, 0.0,
                 out.data.data(), ket.left);
    return out;
}

// <bra|ket> of two chains of equal length.
cplx contract(const Tensors& bra, const Tensors& ket, Interrupt& interrupt) {
    Matrix l;
    for (std::size_t k = 0; k < bra.size(); ++k) {
        const Local b = Local::site(bra[k]), t = Local::site(ket[k]);
        l = close_left(b, left_times_ket(l, t), t.right);
        interrupt.progress(b.work() + t.work());
    }
    return l.data[0];
}

struct Block {
    bool gate = false;
    std::size_t row = 0;
    Local bra, ket;
};

// For every row of `group` (by ascending qubit), its transition matrix t:
// <bra| G |ket> = sum_ab U[a][b] t[4 a + b], U the row's gate and G the
// group's product.
std::vector<std::array<cplx, 16>> group_transitions(const Tensors& bra, const Tensors& ket,
                                                    const std::vector<std::size_t>& group,
                                                    const std::vector<std::array<int, 2>>& pairs,
                                                    const std::vector<Mat4>& unitaries, Interrupt& interrupt) {
    const int n = static_cast<int>(bra.size());
    std::vector<Block> blocks;
    std::size_t next = 0;
    for (int k = 0; k < n;) {
        if (next < group.size() && pairs[group[next]][0] == k) {
            blocks.push_back(
                Block{true, group[next], Local::pair(bra[k], bra[k + 1]), Local::pair(ket[k], ket[k + 1])});
            ++next;
            k += 2;
        } else {
            blocks.push_back(Block{false, 0, Local::site(bra[k]), Local::site(ket[k])});
            ++k;
        }
    }
    std::vector<Matrix> right(blocks.size() + 1);
    for (std::size_t b = blocks.size(); b-- > 0;) {
        const Block& block = blocks[b];
        right[b] = right_block(right[b + 1], block.bra, block.ket, block.gate ? &unitaries[block.row] : nullptr);
        interrupt.progress(block.bra.work() + block.ket.work());
    }

    std::vector<std::array<cplx, 16>> transitions;
    Matrix left;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const Block& block = blocks[b];
        const Local& lb = block.bra;
        const Local& lk = block.ket;
        std::vector<cplx> y = left_times_ket(left, lk);
        if (block.gate) {
            // z = y times the right environment: element a' + bl (j + 4 b').
            const Matrix& rt = right[b + 1];
            std::vector<cplx> z(4 * static_cast<std::size_t>(lb.left) * lb.right);
            lapack::gemm('N', 'N', 4 * lb.left, lb.right, lk.right, 1.0, y.data(), 4 * lb.left, rt.data.data(), rt.rows,
                         0.0, z.data(), 4 * lb.left);
            std::array<cplx, 16> t{};
            const std::size_t width = lb.left;
            for (int rb = 0; rb < lb.right; ++rb) {
                for (int a = 0; a < 4; ++a) {
                    const cplx* bra_column = lb.data + width * (a + 4 * static_cast<std::size_t>(rb));
                    for (int c = 0; c < 4; ++c) {
                        const cplx* z_column = z.data() + width * (c + 4 * static_cast<std::size_t>(rb));
                        cplx sum = 0.0;
                        for (std::size_t x = 0; x < width; ++x) sum += std::conj(bra_column[x]) * z_column[x];
                        t[4 * a + c] += sum;
                    }
                }
            }
            transitions.push_back(t);
            apply_local(unitaries[block.row], y.data(), lb.left, lk.right);
        }
        left = close_left(lb, y, lk.right);
        interrupt.progress(2 * (lb.work() + lk.work()));
    }
    return transitions;
}

// The gates of `group` applied to `state`, sweeping the chain in the given
// direction so that the orthogonality centre travels once across it.
void apply_group(mps::Evolution& state, const std::vector<std::size_t>& group,
                 const std::vector<std::array<int, 2>>& pairs, const std::vector<Mat4>& matrices, bool ascending) {
    if (ascending) {
        for (std::size_t k : group) state.apply_pair(pairs[k][0], matrices[k], true);
    } else {
        for (std::size_t i = group.size(); i-- > 0;) state.apply_pair(pairs[group[i]][0], matrices[group[i]], false);
    }
}

}  // namespace

MpsReversePreparationFidelity::MpsReversePreparationFidelity(mps::Mps target, std::vector<std::array<int, 2>> pairs,
                                                             const mps::Truncation& truncation, Interrupt interrupt)
    : target_(std::move(target)),
      pairs_(std::move(pairs)),
      truncation_(truncation),
      interrupt_(std::move(interrupt)),
      gates_(pairs_.size()),
      derivatives_(pairs_.size() * kEntanglerParams) {
    const int n = target_.size();
    std::vector<bool> busy(n, false);
    std::vector<std::size_t> current;
    auto close_group = [&] {
        std::sort(current.begin(), current.end(),
                  [&](std::size_t a, std::size_t b) { return pairs_[a][0] < pairs_[b][0]; });
        for (std::size_t k : current) busy[pairs_[k][0]] = busy[pairs_[k][1]] = false;
        groups_.push_back(std::move(current));
        current.clear();
    };
    // Newest row first: the order in which the circuit applies them.
    for (std::size_t k = pairs_.size(); k-- > 0;) {
        const int q0 = pairs_[k][0], q1 = pairs_[k][1];
        if (q0 < 0 || q1 != q0 + 1 || q1 >= n) {
            throw std::invalid_argument("gate row " + std::to_string(k) +
                                        " must act on neighbouring qubits (q, q + 1) "
                                        "with q + 1 < " +
                                        std::to_string(n));
        }
        if (busy[q0] || busy[q1]) close_group();
        current.push_back(k);
        busy[q0] = busy[q1] = true;
    }
    if (!current.empty()) close_group();
}

double MpsReversePreparationFidelity::value_and_gradient(const double* x, double* gradient) {
    const int n = target_.size();
    const double* rows = x + 3 * n;
    std::vector<Mat2> rotations(n);
    mps::Mps product = mps::product_zero(n);
    for (int q = 0; q < n; ++q) {
        rotations[q] = axis_rotation_matrix(x + 3 * q);
        product.sites[q].data = {rotations[q].m[0], rotations[q].m[2]};
    }
    std::vector<Mat4> unitaries(pairs_.size());
    for (std::size_t k = 0; k < pairs_.size(); ++k) {
        entangler_matrix_derivatives(rows + kEntanglerParams * k, gates_[k], &derivatives_[kEntanglerParams * k]);
        unitaries[k] = bvc::sv::adjoint(gates_[k]);
    }

    // Forward: psi = G_{h-1} ... G_0 |P>, and <T|psi>.
    mps::Evolution ket(std::move(product), truncation_, interrupt_);
    bool ket_ascending = true;
    for (const auto& group : groups_) {
        apply_group(ket, group, pairs_, unitaries, ket_ascending);
        ket_ascending = !ket_ascending;
    }
    mps::Evolution bra(target_, truncation_, interrupt_);
    Interrupt& interrupt = bra.interrupt();
    const cplx overlap = contract(bra.tensors(), ket.tensors(), interrupt);
    const auto store = [&](double* out, cplx d_overlap) { *out = 2.0 * std::real(std::conj(overlap) * d_overlap); };

    // Backward, the last group first. The inverse of U_k is E_k.
    bool bra_ascending = true;
    for (std::size_t g = groups_.size(); g-- > 0;) {
        const auto& group = groups_[g];
        apply_group(ket, group, pairs_, gates_, ket_ascending);
        ket_ascending = !ket_ascending;
        const auto transitions = group_transitions(bra.tensors(), ket.tensors(), group, pairs_, unitaries, interrupt);
        for (std::size_t i = 0; i < group.size(); ++i) {
            const std::size_t k = group[i];
            const std::array<cplx, 16>& t = transitions[i];
            for (int j = 0; j < kEntanglerParams; ++j) {
                // dU = (dE)^dagger: sum_ab conj(dE[b][a]) t[a][b].
                const Mat4& d = derivatives_[kEntanglerParams * k + j];
                cplx sum = 0.0;
                for (int a = 0; a < 4; ++a)
                    for (int b = 0; b < 4; ++b) sum += std::conj(d.m[4 * b + a]) * t[4 * a + b];
                store(gradient + 3 * n + kEntanglerParams * k + j, sum);
            }
        }
        apply_group(bra, group, pairs_, gates_, bra_ascending);
        bra_ascending = !bra_ascending;
    }

    // The rotations: <lambda|P> with the product state itself, from vectors
    // contracted in from the left (e) and from the right (f).
    const Tensors& lambda = bra.tensors();
    std::vector<std::vector<cplx>> e(n + 1);
    e[0] = {1.0};
    std::vector<cplx> h;
    for (int q = 0; q < n; ++q) {
        const Tensor& t = lambda[q];
        const cplx p[2] = {rotations[q].m[0], rotations[q].m[2]};
        h.resize(2 * static_cast<std::size_t>(t.left));
        for (int a = 0; a < t.left; ++a) h[a] = e[q][a] * p[0], h[a + t.left] = e[q][a] * p[1];
        e[q + 1].resize(t.right);
        lapack::gemm('C', 'N', t.right, 1, 2 * t.left, 1.0, t.data.data(), 2 * t.left, h.data(), 2 * t.left, 0.0,
                     e[q + 1].data(), t.right);
    }
    std::vector<cplx> f{1.0}, r;
    for (int q = n; q-- > 0;) {
        const Tensor& t = lambda[q];
        // r[a, s] = sum_b conj(t[a, s, b]) f[b].
        for (cplx& z : f) z = std::conj(z);
        r.resize(2 * static_cast<std::size_t>(t.left));
        lapack::gemm('N', 'N', 2 * t.left, 1, t.right, 1.0, t.data.data(), 2 * t.left, f.data(), t.right, 0.0, r.data(),
                     2 * t.left);
        cplx local[2] = {0.0, 0.0};
        for (int a = 0; a < t.left; ++a) {
            r[a] = std::conj(r[a]);
            r[a + t.left] = std::conj(r[a + t.left]);
            local[0] += e[q][a] * r[a];
            local[1] += e[q][a] * r[a + t.left];
        }
        Mat2 d[3];
        axis_rotation_derivatives(x + 3 * q, d);
        for (int j = 0; j < 3; ++j) store(gradient + 3 * q + j, d[j].m[0] * local[0] + d[j].m[2] * local[1]);
        const cplx p[2] = {rotations[q].m[0], rotations[q].m[2]};
        f.resize(t.left);
        for (int a = 0; a < t.left; ++a) f[a] = p[0] * r[a] + p[1] * r[a + t.left];
    }
    return std::norm(overlap);
}

}  // namespace bvc::synthesis
