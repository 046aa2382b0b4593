"""What a query costs through `zelbridge serve` against the same query in process.

Starts the bench build's `zelbridge serve` on a free loopback port, then
times "*IDN?" on the simulator: each query's wall time through the server
(zelbridge.connect) and in process (zelbridge.System), interleaved in rounds
so that a busy machine slows both alike, giving the median and the 99th
percentile; then the queries per second that 8 client processes, each with
its own session and system, get together, with the median and 99th
percentile of their queries. Run it on the bench build:

    cmake --preset bench && cmake --build --preset bench --target Zelbridge Simulator zelbridge
    /usr/bin/python3 python/benchmarks/serve_overhead.py
"""
import argparse
import multiprocessing
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import zelbridge  # noqa: E402
from zelbridge import remote  # noqa: E402

REPOSITORY = os.path.dirname(os.path.dirname(HERE))
STAGE = os.path.join(REPOSITORY, "drivers", "simulator", "examples", "two_axis_stage.json")


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def timed(action, calls):
    times = []
    for _ in range(calls):
        start = time.perf_counter_ns()
        action()
        times.append((time.perf_counter_ns() - start) / 1000)
    return times


def client(url, token, simulator, seconds, results):
    with remote.Server(url, token) as server:
        with server.System(simulator, "SIM_").connect_usb(STAGE) as stage:
            stage.query("*IDN?")
            times, end = [], time.monotonic() + seconds
            while time.monotonic() < end:
                times += timed(lambda: stage.query("*IDN?"), 1)
    results.put(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(REPOSITORY, "build", "bench", "bin"))
    parser.add_argument("--calls", type=int, default=2000, help="queries per round")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=5.0, help="of the run with several clients")
    options = parser.parse_args()
    simulator = os.path.join(options.build, "libSimulator.so")
    token_file = os.path.join(tempfile.mkdtemp(), "token")
    server_process = subprocess.Popen(
        [os.path.join(options.build, "zelbridge"), "serve", "--listen", "127.0.0.1:0", "--token-file", token_file,
         "--allow-library", options.build, "--allow-data", os.path.dirname(STAGE)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        url = re.search(r"http://[0-9.:]+", server_process.stdout.readline()).group(0)
        token = open(token_file).read().strip()
        local = zelbridge.System(simulator, "SIM_", bridge=os.path.join(options.build, "libZelbridge.so"))
        local.connect_usb(STAGE)
        with remote.Server(url, token) as server, local:
            served = server.System(simulator, "SIM_").connect_usb(STAGE)
            times = {"in process": [], "through the server": []}
            for _ in range(options.rounds):
                times["in process"] += timed(lambda: local.query("*IDN?"), options.calls)
                times["through the server"] += timed(lambda: served.query("*IDN?"), options.calls)
            print(f"*IDN? on the simulator, {options.rounds} rounds of {options.calls} queries, µs per query:")
            print(f"{'':20} {'median':>8} {'p99':>8}")
            for name, values in times.items():
                print(f"{name:20} {statistics.median(values):8.1f} {percentile(values, 0.99):8.1f}")
            print(f"{'difference':20} {statistics.median(times['through the server']) - statistics.median(times['in process']):8.1f}")
        results = multiprocessing.Queue()
        clients = [multiprocessing.Process(target=client, args=(url, token, simulator, options.seconds, results))
                   for _ in range(options.clients)]
        for process in clients:
            process.start()
        times = [t for _ in clients for t in results.get()]
        for process in clients:
            process.join()
        print(f"{options.clients} clients, each its own session and system: {len(times) / options.seconds:.0f} queries/s, "
              f"median {statistics.median(times):.1f} µs, p99 {percentile(times, 0.99):.1f} µs")
    finally:
        server_process.terminate()
        server_process.wait()


if __name__ == "__main__":
    main()
