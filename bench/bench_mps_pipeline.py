"""Whole demo runs from the command line, one per preset, as a table of stages, memory and circuit quality.

Every preset runs ``python -m brimvale_chemistry --demo KEY <options>`` in a
fresh process with a fresh working directory; its run record
(run_summary.json) gives the time of each stage and the circuit's figures,
the process's peak memory comes from ru_maxrss of that child alone. Printed
per preset: seconds per stage and in total, peak MiB, the final overlap with
the DMRG state, the circuit's energy error against the DMRG energy, the
DMRG energy against CASCI (n/a where the stage skipped it), CNOTs and
two-qubit depth.

    python bench/bench_mps_pipeline.py [--presets h10 h12 ...] -- <command-line options>

for example ``-- --state mps --gradient analytic --max-bond 64 --dmrg-max-sweeps 4``.
"""

from __future__ import annotations

import argparse
import json
import resource
import subprocess
import sys
import tempfile
from pathlib import Path

STAGES = ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")


def run_one(key: str, options: list[str]) -> dict:
    """The run record of one demo run, with the child's peak memory in MiB."""
    with tempfile.TemporaryDirectory() as workdir:
        command = [sys.executable, "-m", "brimvale_chemistry", "--demo", key, "--workdir", workdir, *options]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        record = json.loads((Path(workdir) / "run_summary.json").read_text())
    record["peak_mib"] = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
    return record


def row(key: str, record: dict) -> str:
    seconds = record["stage_seconds"]
    energies = record["energies"]
    casci = energies["casci"]
    versus_casci = "n/a" if casci is None else f"{energies['dmrg'] - casci:+.2e}"
    circuit = record["circuit"]
    return (
        f"{key:<6} "
        + " ".join(f"{seconds.get(stage, 0.0):>8.1f}" for stage in STAGES)
        + f" {sum(seconds.values()):>8.1f} {record['peak_mib']:>8.0f} {circuit['overlap']:>9.6f}"
        f" {abs(energies['circuit'] - energies['dmrg']):>10.2e} {versus_casci:>10} {circuit['cnot_count']:>6}"
        f" {circuit['two_qubit_depth']:>6}"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--presets", nargs="+", default=["h10", "h12"])
    parser.add_argument("--one", help=argparse.SUPPRESS)
    parser.add_argument("options", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    options = arguments.options[1:] if arguments.options[:1] == ["--"] else arguments.options
    if arguments.one:
        print(json.dumps(run_one(arguments.one, options)))
        return
    print("options:", " ".join(options) or "(defaults)", flush=True)
    print(
        f"{'preset':<6} {'ES s':>8} {'DMRG s':>8} {'CVD s':>8} {'meas. s':>8} {'total s':>8} {'peak MiB':>8}"
        f" {'overlap':>9} {'|E-E_DMRG|':>10} {'DMRG-CASCI':>10} {'CNOTs':>6} {'depth':>6}",
        flush=True,
    )
    for key in arguments.presets:
        # A process of its own per preset, so that ru_maxrss is that run's alone.
        output = subprocess.run(
            [sys.executable, __file__, "--one", key, "--", *options], check=True, capture_output=True, text=True
        )
        print(row(key, json.loads(output.stdout)), flush=True)


if __name__ == "__main__":
    main()
