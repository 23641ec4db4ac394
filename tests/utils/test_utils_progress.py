"""Progress bars: on standard error when it is a terminal, never on standard output."""

import fcntl
import os
import pty
import struct
import subprocess
import sys
import termios
import threading

CHILD = """
import warnings
from brimvale_chemistry.dmrg import dmrg
from brimvale_chemistry.corvinth import cvd_dmrg
from brimvale_chemistry.molecule import Molecule, electronic_structure
import sys
warnings.simplefilter("ignore")
molecule = Molecule(geometry=[("Li", (0, 0, 0)), ("H", (0, 0, 1.5949))], basis="sto-3g",
                    active_occupied=2, active_virtual=2)
structure = electronic_structure(molecule, workdir=sys.argv[1])
cvd_dmrg(dmrg(structure), pauli_terms=structure.pauli_terms, layers=2, maxiter=30)
"""


def run_child(stderr_terminal: bool, workdir):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    if not stderr_terminal:
        done = subprocess.run([sys.executable, "-c", CHILD, str(workdir)], capture_output=True, env=env, check=True)
        return done.stdout, done.stderr
    master, slave = pty.openpty()
    # A fresh pseudo-terminal is zero columns wide; a bar needs room.
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    received = bytearray()

    def pump():
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closed with the child
                return
            if not chunk:
                return
            received.extend(chunk)

    reader = threading.Thread(target=pump)
    reader.start()
    try:
        done = subprocess.run(
            [sys.executable, "-c", CHILD, str(workdir)], stdout=subprocess.PIPE, stderr=slave, env=env, check=True
        )
    finally:
        os.close(slave)
        reader.join(timeout=30)
        os.close(master)
    return done.stdout, bytes(received)


def test_bars_only_on_a_terminal_and_output_unchanged(tmp_path):
    plain_out, plain_err = run_child(False, tmp_path)
    terminal_out, terminal_err = run_child(True, tmp_path)
    assert terminal_out == plain_out and b"Layer 2" in plain_out
    assert plain_err == b""
    assert b"DMRG:" in terminal_err and b"sweep" in terminal_err
    assert b"Layer 1/2:" in terminal_err and b"Layer 2/2:" in terminal_err and b"bond" in terminal_err
