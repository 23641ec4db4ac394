// Gates applied to a matrix product state. The state is kept in a mixed
// canonical form: the sites left of the orthogonality centre are
// left-isometric, those right of it right-isometric, and the centre carries
// the norm. A two-qubit gate on neighbours contracts the centre pair, applies
// the gate and splits it again by an SVD, truncated as asked; that
// truncation is optimal for the whole state because everything around the
// pair is isometric. `finish` returns the canonical form.
#pragma once

#include <vector>

#include "core/mps/mps.hpp"
#include "core/runtime/interrupt.hpp"
#include "core/runtime/lapack.hpp"
#include "core/statevector/statevector.hpp"

namespace bvc::mps {

class Evolution {
public:
    Evolution(Mps initial, const Truncation& truncation, Interrupt interrupt);

    int size() const { return static_cast<int>(tensors_.size()); }

    // u on qubit `site`; isometries stay isometries, so any site will do.
    void apply_single(int site, const sv::Mat2& u);

    // u on qubits (site, site + 1), in the basis |b(site+1) b(site)>. The
    // centre ends on site + 1 when `centre_right`, else on site.
    void apply_pair(int site, const sv::Mat4& u, bool centre_right);

    double discarded_weight() const { return discarded_; }

    // The site tensors as they stand: their product is the state, norm
    // included, in the mixed canonical form around the centre.
    const std::vector<Tensor>& tensors() const { return tensors_; }

    // Where the caller reports work of its own (see core/runtime/interrupt.hpp).
    Interrupt& interrupt() { return interrupt_; }

    // The canonical form (consumes the evolution).
    Mps finish();

private:
    void move_centre(int target);

    std::vector<Tensor> tensors_;
    int centre_ = 0;
    Truncation truncation_;
    double discarded_ = 0.0;
    Interrupt interrupt_;
    lapack::Workspace ws_;
    std::vector<cplx> theta_, u_, vt_;
    std::vector<double> s_;
};

}  // namespace bvc::mps
