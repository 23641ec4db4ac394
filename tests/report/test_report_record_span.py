"""The run record against interruptions and a second run writing into the same directory."""

import json
import os
import threading
import types

import pytest

from brimvale_chemistry import _output
from brimvale_chemistry.report import summary


def own_record(workdir, run):
    (workdir / summary.SUMMARY_NAME).write_text(json.dumps({"format": summary.SUMMARY_FORMAT, "run": run}))


@pytest.fixture
def records(monkeypatch):
    """write_run_record replaced by one that notes which run wrote, through the package's writer."""
    written = []

    def write(workflow, result, *, synthesis_seed):
        written.append(("record", workflow.name))
        own_record(workflow.workdir, workflow.name)

    monkeypatch.setattr(summary, "write_run_record", write)
    return written


class TestRecordSpan:
    @pytest.mark.parametrize("stop", [KeyboardInterrupt, OSError])
    def test_an_interrupted_measurement_leaves_no_earlier_record(self, tmp_path, records, stop):
        own_record(tmp_path, "earlier")

        def measure():
            (tmp_path / "qasm").mkdir()  # the new run has begun to change the files
            raise stop

        with pytest.raises(stop):
            summary.measure_and_record(
                types.SimpleNamespace(workdir=tmp_path, name="new"), None, measure, synthesis_seed=1
            )
        assert not os.path.lexists(tmp_path / summary.SUMMARY_NAME)
        assert records == [] and sorted(os.listdir(tmp_path)) == ["qasm"]

    def test_a_second_run_waits_for_the_first_ones_record(self, tmp_path, records):
        events = records
        second = types.SimpleNamespace(workdir=tmp_path, name="second")

        def measure_second():
            events.append(("measure", "second"))

        def measure_first():
            events.append(("measure", "first"))
            other = threading.Thread(
                target=summary.measure_and_record, args=(second, None, measure_second), kwargs={"synthesis_seed": 1}
            )
            other.start()
            other.join(timeout=1.0)
            # Held off by the lock: it cannot finish while this run is between stage 4 and its record.
            assert other.is_alive()
            threads.append(other)

        threads = []
        summary.measure_and_record(
            types.SimpleNamespace(workdir=tmp_path, name="first"), None, measure_first, synthesis_seed=1
        )
        threads[0].join()
        assert events == [("measure", "first"), ("record", "first"), ("measure", "second"), ("record", "second")]
        assert json.loads((tmp_path / summary.SUMMARY_NAME).read_text())["run"] == "second"

    def test_a_users_lock_file_is_neither_used_nor_deleted(self, tmp_path, records):
        lock = tmp_path / _output.LOCK_NAME
        lock.write_text("my notes\n")
        with pytest.raises(FileExistsError, match="was not written by this package; refusing to use it as the lock"):
            summary.measure_and_record(
                types.SimpleNamespace(workdir=tmp_path, name="run"), None, lambda: None, synthesis_seed=1
            )
        assert lock.read_text() == "my notes\n" and records == []
