"""Circuits asked for by CNOT budget: overlap, |E - E_exact|, CNOTs, two-qubit depth and wall time.

Each row runs one command line of the package in a subprocess, up to the
synthesis, and reads the quality off its printed lines; the wall time is the
whole command's (electronic structure and DMRG included). E_exact is the
CASCI energy, or the DMRG energy where CASCI is skipped (--state mps). The
rows share every setting but the CNOT budget (three per gate of the layers
the default layer count allows) and, past the dense vector, --state mps.

    python bench/bench_quality_goal.py [h8 h2o h10 h10-capped h16] [--phases K] [--refine-seconds S]

With --phases K the H2O row is repeated K times with the DMRG state
multiplied by a global phase e^(2 pi i k / K) (k = 0 .. K-1) before the
synthesis, and the spread of overlap and energy error is printed: a quality
that swings with rounding shows there. With --refine-seconds S every row
bounds its refinements to S seconds together (--refine-seconds of the
command line).
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from brimvale_chemistry._output import write_text

SETTINGS = ["--gradient", "analytic", "--target", "cvd_dmrg"]

# H chains: atoms 1.0 angstrom apart, sto-3g, every orbital active.
H8_XYZ = "8\nH8 chain, 1.0 A\n" + "".join(f"H 0.0 0.0 {float(i):.1f}\n" for i in range(8))

ROWS = {
    "h8": (
        "H8 chain (16 qubits, dense)",
        ["--xyz", "{h8}", "--active-occupied", "4", "--active-virtual", "4", "--max-cnots", "360"],
    ),
    "h2o": ("H2O preset (14 qubits, dense)", ["--demo", "h2o", "--max-cnots", "273"]),
    "h10": ("h10 (20 qubits, MPS)", ["--demo", "h10", "--state", "mps", "--max-cnots", "570"]),
    # The DMRG settings of the README's preset commands: the state capped at
    # 64 and four sweeps; its overlap is then taken with the capped state.
    "h10-capped": (
        "h10 (20 qubits, MPS, capped at 64)",
        ["--demo", "h10", "--state", "mps", "--max-bond", "64", "--dmrg-max-sweeps", "4", "--max-cnots", "570"],
    ),
    "h16": ("h16 (32 qubits, MPS)", ["--demo", "h16", "--state", "mps", "--max-cnots", "1488"]),
}

# Runs the command line in this process after multiplying the DMRG state by a phase.
PHASED = """
import sys, numpy as np
from brimvale_chemistry import workflow
phase, synthesis = np.exp(2j * np.pi * float(sys.argv[1])), workflow.cvd_dmrg
workflow.cvd_dmrg = lambda source, **kwargs: synthesis(np.asarray(source.psi0) * phase, **kwargs)
sys.argv = ["brimvale-chemistry"] + sys.argv[2:]
workflow.main()
"""


def run(arguments: list[str], phase: float | None = None) -> dict:
    with tempfile.TemporaryDirectory() as workdir:
        arguments = [a.replace("{h8}", os.path.join(workdir, "h8.xyz")) for a in arguments]
        write_text(Path(workdir) / "h8.xyz", H8_XYZ)
        command = ["--workdir", workdir, *arguments]
        if phase is None:
            argv = [sys.executable, "-m", "brimvale_chemistry", *command]
        else:
            argv = [sys.executable, "-c", PHASED, repr(phase), *command]
        start = time.perf_counter()
        out = subprocess.run(argv, check=True, capture_output=True, text=True).stdout
        seconds = time.perf_counter() - start
    layers = re.findall(r"Layer \d+ +: \|⟨ψ_DMRG\|ψ_circuit⟩\|=([0-9.]+), energy=(-?[0-9.]+)", out)
    stopped = re.search(r"Stopped +: (.*); (\d+) CNOTs, two-qubit depth (\d+)", out)
    exact = re.search(r"CASCI energy +: (-?[0-9.]+)", out) or re.search(r"DMRG energy +: (-?[0-9.]+)", out)
    overlap, energy = map(float, layers[-1])
    return {
        "overlap": overlap,
        "error_mha": 1000 * abs(energy - float(exact.group(1))),
        "cnots": int(stopped.group(2)),
        "depth": int(stopped.group(3)),
        "seconds": seconds,
        "stop": stopped.group(1),
        "layers": len(layers) - 1,
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rows", nargs="*", default=["h8", "h2o"], choices=sorted(ROWS))
    parser.add_argument("--phases", type=int, default=0)
    parser.add_argument("--refine-seconds", type=float, default=None)
    options = parser.parse_args()
    settings = SETTINGS + (
        [] if options.refine_seconds is None else ["--refine-seconds", f"{options.refine_seconds:g}"]
    )
    print("| molecule | overlap | abs(E - E_exact) | CNOTs | two-qubit depth | wall time | command |")
    print("|---|---|---|---|---|---|---|")
    for key in options.rows:
        label, arguments = ROWS[key]
        row = run(arguments + settings)
        command = "brimvale-chemistry " + " ".join(arguments + settings)
        print(
            f"| {label} | {row['overlap']:.6f} | {row['error_mha']:.2f} mHa | {row['cnots']} | {row['depth']} "
            f"| {row['seconds']:.0f} s | `{command}` |",
            flush=True,
        )
    if options.phases:
        label, arguments = ROWS["h2o"]
        rows = [run(arguments + settings, phase=k / options.phases) for k in range(options.phases)]
        for k, row in enumerate(rows):
            print(f"phase {k}/{options.phases}: overlap {row['overlap']:.8f}, error {row['error_mha']:.4f} mHa")
        overlaps = [r["overlap"] for r in rows]
        errors = [r["error_mha"] for r in rows]
        print(
            f"spread over {options.phases} phases: overlap {max(overlaps) - min(overlaps):.2e}, "
            f"energy error {max(errors) - min(errors):.3f} mHa"
        )


if __name__ == "__main__":
    main()
