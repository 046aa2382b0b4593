"""What a query through the package costs over the C calls it makes.

Times, in microseconds per query (the least of 7 runs of 20,000), a query of
"*IDN?" on the simulator through System.query, the same five C calls
(ZelCommandset, GetError, ZelGetAnswerSize, ZelGetAnswer, GetError) made
through bare ctypes, and one ctypes call that returns at once, to tell the
cost of ctypes from the C work. Run it on the bench build (Release, no
sanitizers):

    cmake --preset bench && cmake --build --preset bench --target Zelbridge Simulator
    /usr/bin/python3 python/benchmarks/query_overhead.py
"""
import argparse
import ctypes
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import zelbridge  # noqa: E402

REPOSITORY = os.path.dirname(os.path.dirname(HERE))
BENCH = os.path.join(REPOSITORY, "build", "bench", "bin")
STAGE = os.path.join(REPOSITORY, "drivers", "simulator", "examples", "two_axis_stage.json")


def per_call(actions, calls: int, runs: int = 7):
    """Microseconds per call of each action: the least of `runs` runs of
    `calls`, the runs of the actions interleaved, so that a busy machine
    slows them alike and the least is the one least disturbed."""
    best = [float("inf")] * len(actions)
    for _ in range(runs):
        for number, action in enumerate(actions):
            start = time.perf_counter_ns()
            for _ in range(calls):
                action()
            best[number] = min(best[number], (time.perf_counter_ns() - start) / calls / 1000)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridge", default=os.path.join(BENCH, zelbridge.LIBRARY_FILE))
    parser.add_argument("--driver", default=os.path.join(BENCH, "libSimulator.so"))
    parser.add_argument("--calls", type=int, default=20000)
    options = parser.parse_args()

    system = zelbridge.System(options.driver, "SIM_", bridge=options.bridge).connect_usb(STAGE)
    generic = system.bridge.generic
    command, get_error = generic("ZelCommandset"), generic("GetError")
    answer_size, answer = generic("ZelGetAnswerSize"), generic("ZelGetAnswer")
    is_connected = generic("IsConnected")
    index, size, buffer = system.index, ctypes.c_int(0), ctypes.create_string_buffer(256)
    size_pointer = ctypes.byref(size)

    def bare_query() -> bytes:
        command(index, b"*IDN?")
        get_error(index)
        answer_size(index, size_pointer)
        answer(index, buffer, len(buffer))
        get_error(index)
        return buffer.value

    assert bare_query().decode() == system.query("*IDN?")
    # An index that names no system: Zelbridge answers 0 at once.
    package, bare, one_call = per_call([lambda: system.query("*IDN?"), bare_query, lambda: is_connected(-5)],
                                       options.calls)
    native = bare - 5 * one_call
    print(f"query through System.query:                {package:6.2f} us")
    print(f"the same 5 C calls through bare ctypes:    {bare:6.2f} us")
    print(f"one ctypes call that returns at once:      {one_call:6.2f} us")
    print(f"the 5 C calls themselves (bare - 5 calls): {native:6.2f} us")
    print(f"package over bare ctypes:                  {package - bare:6.2f} us")
    print(f"package over the C calls:                  {package - native:6.2f} us")
    system.close()


if __name__ == "__main__":
    main()
