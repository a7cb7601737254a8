import threading
import time

import pytest

import strokegraph


@pytest.fixture(scope="session")
def sg():
    return strokegraph


@pytest.fixture
def stamps_in_middle():
    """Runs call() while another Python thread records time stamps; returns
    the stamps taken in the middle half of the call (none when the call holds
    the interpreter lock throughout)."""

    def run(call):
        stamps = []
        stop = threading.Event()

        def spin():
            while not stop.is_set():
                stamps.append(time.perf_counter())

        spinner = threading.Thread(target=spin)
        spinner.start()
        try:
            start = time.perf_counter()
            call()
            end = time.perf_counter()
        finally:
            stop.set()
            spinner.join()
        low, high = start + 0.25 * (end - start), start + 0.75 * (end - start)
        return [t for t in stamps if low <= t <= high]

    return run
