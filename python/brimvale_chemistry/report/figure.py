"""The picture of a run: how the circuit converges layer by layer.

Two panels against the layer: the infidelity 1 − |⟨ψ_DMRG|ψ_circuit⟩| and the
energy error |E_circuit − E_ref|, both on log scales, the second with the
chemical-accuracy line; each carries the circuit's cumulative CNOT count on a
second axis. Rendered off-screen to PNG bytes, so the caller decides how the
file is written.
"""

from __future__ import annotations

import io
from collections.abc import Sequence

CHEMICAL_ACCURACY = 1.6e-3  # Hartree
# Exact zeros cannot sit on a log axis; they are drawn at this floor instead.
_FLOOR = 1e-16


def _floored(values):
    return [max(abs(v), _FLOOR) for v in values]


def render_convergence_png(
    *,
    title: str,
    overlaps: Sequence[float],
    energies: Sequence[float | None],
    reference_energy: float | None,
    reference_label: str,
    cnot_counts: Sequence[int],
    software: str = "brimvale_chemistry",
) -> bytes:
    """PNG bytes of the two-panel convergence figure; entry k of each sequence belongs to layer k."""
    import matplotlib

    matplotlib.use("Agg", force=False)
    from matplotlib.figure import Figure
    from matplotlib.ticker import MaxNLocator

    layers = list(range(len(overlaps)))
    have_energy = reference_energy is not None and all(e is not None for e in energies)
    figure = Figure(figsize=(7.5, 7.0 if have_energy else 4.0), dpi=120, layout="constrained")
    axes = figure.subplots(2 if have_energy else 1, 1, sharex=True, squeeze=False)[:, 0]
    figure.suptitle(title)

    top = axes[0]
    top.semilogy(layers, _floored([1.0 - o for o in overlaps]), "o-", color="tab:blue")
    top.set_ylabel("1 − |⟨ψ_DMRG|ψ_circuit⟩|")
    if have_energy:
        bottom = axes[1]
        bottom.semilogy(
            layers, _floored([e - reference_energy for e in energies]), "s-", color="tab:red", label="circuit"
        )
        bottom.axhline(CHEMICAL_ACCURACY, color="tab:green", linestyle="--", label="chemical accuracy (1.6 mHa)")
        bottom.set_ylabel(f"|E_circuit − E_{reference_label}| (Ha)")
        low, high = bottom.get_ylim()
        bottom.set_ylim(min(low, CHEMICAL_ACCURACY / 2), high)

    for ax in axes:
        ax.grid(True, which="major", alpha=0.3)
        # CNOT bars behind the curves: the curves' axes are drawn on top, transparent.
        twin = ax.twinx()
        twin.bar(layers, cnot_counts, width=0.6, color="0.85", edgecolor="0.6", label="cumulative CNOTs")
        twin.set_ylabel("cumulative CNOTs", color="0.35")
        twin.tick_params(axis="y", colors="0.35")
        twin.set_ylim(0, max(max(cnot_counts, default=0), 1) * 1.1)
        twin.yaxis.set_major_locator(MaxNLocator(integer=True))
        ax.set_zorder(twin.get_zorder() + 1)
        ax.patch.set_visible(False)
    if have_energy:
        handles, labels = axes[1].get_legend_handles_labels()
        bars = figure.axes[-1].get_legend_handles_labels()
        axes[1].legend(handles + bars[0], labels + bars[1], loc="lower left", fontsize="small")
    axes[-1].set_xlabel("layer")
    axes[-1].xaxis.set_major_locator(MaxNLocator(integer=True))

    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", metadata={"Software": software})
    return buffer.getvalue()
