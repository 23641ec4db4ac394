"""The files of the measurement stage survive users, links, interruptions, concurrent runs, and follow the umask."""

import errno
import hashlib
import json
import os
import threading
import time

import pytest
from measurement_support import random_circuit, random_hamiltonian, tree_snapshot

from brimvale_chemistry import _output
from brimvale_chemistry.measurement import files, measurement_QASM

SMALL = (random_circuit(2, 8, 3), random_hamiltonian(2, 6, 3), 2)
LARGE = (random_circuit(3, 12, 4), random_hamiltonian(3, 12, 4), 3)


def run(workdir, system=LARGE, seed=1):
    circuit, terms, n_qubits = system
    return measurement_QASM(circuit, terms, n_qubits, shots=50, seed=seed, workdir=workdir)


def assert_summary_describes_the_files(workdir):
    """The summary, when present, lists exactly the group files there, with their digests and qubit count."""
    present = sorted(f"qasm/{name}" for name in os.listdir(workdir / "qasm")) if (workdir / "qasm").exists() else []
    summary_path = workdir / files.SUMMARY_NAME
    if not summary_path.exists():
        return
    text = summary_path.read_text()
    summary = json.loads(text)
    # The layout other tools may diff against: two-space indents, one final newline.
    assert text == json.dumps(summary, indent=2) + "\n"
    listed = [group["file"] for group in summary["groups"]]
    assert sorted(listed) == [name for name in present if not name.startswith("qasm/.")]
    for group in summary["groups"]:
        content = (workdir / group["file"]).read_bytes()
        assert hashlib.sha256(content).hexdigest() == group["sha256"]
        assert f"qreg q[{summary['n_qubits']}];".encode() in content


class TestForeignFilesAreRefused:
    @pytest.mark.parametrize(
        "planted",
        [
            "own summary of someone",
            "group file",
            "edited group file",
            "link as group file",
            "link as summary",
            "link as qasm folder",
        ],
    )
    def test_nothing_is_replaced_and_the_file_is_named(self, tmp_path, capsys, planted):
        workdir = tmp_path / "run"
        outside = tmp_path / "outside"
        outside.mkdir()
        (outside / "precious").write_text("precious")
        if planted == "edited group file":
            run(workdir)
            (workdir / "qasm" / "group_000.qasm").write_text("// mine now\n")
            capsys.readouterr()
        else:
            (workdir / "qasm").mkdir(parents=True)
        target = {
            "own summary of someone": workdir / "measurement_summary.json",
            "group file": workdir / "qasm" / "group_001.qasm",
            "edited group file": workdir / "qasm" / "group_000.qasm",
            "link as group file": workdir / "qasm" / "group_000.qasm",
            "link as summary": workdir / "measurement_summary.json",
            "link as qasm folder": workdir / "qasm",
        }[planted]
        if planted == "own summary of someone":
            target.write_text(json.dumps({"groups": []}))
        elif planted == "group file":
            target.write_text("OPENQASM 2.0;\n")
        elif planted == "link as qasm folder":
            target.rmdir()
            target.symlink_to(outside, target_is_directory=True)
        elif planted.startswith("link"):
            target.symlink_to(outside / "precious")
        before = tree_snapshot(workdir)
        with pytest.raises(FileExistsError) as info:
            run(workdir)
        assert str(target) in str(info.value)
        assert tree_snapshot(workdir) == before and sorted(os.listdir(outside)) == ["precious"]
        assert (outside / "precious").read_text() == "precious" and capsys.readouterr().out == ""


class Killed(BaseException):
    """What the process sees of SIGKILL: nothing after this point runs, no cleanup."""


class TestInterruptedWrites:
    @pytest.mark.parametrize("fault", ["killed", "disk full"])
    # Six writes: the journal, four group files, the summary (two stale group files are removed before it).
    @pytest.mark.parametrize("failing_write", range(1, 7))
    def test_summary_is_exact_or_absent_and_the_next_run_recovers(
        self, tmp_path, capsys, monkeypatch, fault, failing_write
    ):
        run(tmp_path, LARGE)
        real_write = _output.write_file
        writes = []

        def failing(path, write):
            writes.append(path)
            if len(writes) < failing_write:
                return real_write(path, write)
            if fault == "disk full":
                return real_write(
                    path,
                    lambda stream: (
                        stream.write("half"),
                        stream.flush(),
                        _raise(OSError(errno.ENOSPC, "No space left on device")),
                    ),
                )
            handle, _ = _output._create_temporary(path.parent)
            os.write(handle, b"half")
            os.close(handle)
            raise Killed

        monkeypatch.setattr(_output, "write_file", failing)
        with pytest.raises((Killed, OSError)):
            run(tmp_path, SMALL, seed=2)
        assert_summary_describes_the_files(tmp_path)
        if fault == "disk full":
            assert not [p for p in tmp_path.rglob(_output.TEMPORARY_PREFIX + "*")]

        monkeypatch.setattr(_output, "write_file", real_write)
        # Files this package cannot prove it wrote stay, whatever their names.
        users = ["qasm/.group_000.qasm.k3j_x9a2.tmp", _output.TEMPORARY_PREFIX + "notes"]
        for name in users:
            (tmp_path / name).write_text("the user's")
        result = run(tmp_path, SMALL, seed=3)
        assert_summary_describes_the_files(tmp_path)
        assert sorted(os.listdir(tmp_path)) == sorted(["measurement_summary.json", "qasm", users[1]])
        assert sorted(f"qasm/{p}" for p in os.listdir(tmp_path / "qasm")) == sorted(
            [str(p.relative_to(tmp_path)) for p in result.files] + [users[0]]
        )


def _raise(error):
    raise error


class TestConcurrentRuns:
    def test_two_runs_into_one_directory_take_turns(self, tmp_path, capsys, monkeypatch):
        real_write = _output.write_file

        def slow(path, write):  # widens the window in which unlocked runs would interleave
            time.sleep(0.01)
            real_write(path, write)

        monkeypatch.setattr(_output, "write_file", slow)
        failures = []

        def worker(system, seed):
            try:
                run(tmp_path, system, seed)
            except BaseException as error:  # noqa: BLE001 - reported below
                failures.append(error)

        for _ in range(3):
            threads = [
                threading.Thread(target=worker, args=(LARGE, 1)),
                threading.Thread(target=worker, args=(SMALL, 2)),
            ]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            assert failures == []
            assert_summary_describes_the_files(tmp_path)
            assert sorted(os.listdir(tmp_path)) == ["measurement_summary.json", "qasm"]


class TestFileModes:
    @pytest.mark.parametrize("umask", [0o022, 0o077, 0o002], ids=oct)
    def test_every_file_follows_the_umask(self, tmp_path, capsys, umask):
        previous = os.umask(umask)
        try:
            result = run(tmp_path)
        finally:
            os.umask(previous)
        for path in [*result.files, result.summary_path]:
            assert os.stat(path).st_mode & 0o777 == 0o666 & ~umask, path
