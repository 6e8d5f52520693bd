#!/usr/bin/python3
"""usbink-query supplies over SNMP v2c GetBulk against snmpbulkwalk -v2c of
the same two tables (prtMarkerSuppliesTable, prtMarkerColorantValue), as
whole processes, side by side in one run against one snmpd serving a
four-colour printer in a private network namespace. Prints the median wall
time of each, their ratio (target <= 0.5) and the round trips each needs
(requests counted in snmpd's log).

    sudo bench/supplies_walk.py [BUILD_DIR] [RUNS]      (default build, 50)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

if os.environ.get("SUPPLIES_BENCH_NS") != "1":
    os.environ["SUPPLIES_BENCH_NS"] = "1"
    os.execvp("unshare", ["unshare", "-n", sys.executable] + sys.argv)

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 50
query = os.path.join(build, "src/query/usbink-query")
address = "127.0.17.2"
entry = "1.3.6.1.2.1.43.11.1.1"
colorant = "1.3.6.1.2.1.43.12.1.1.4"
rows = [("Cyan Toner", 3, 3, 100, 40, 1), ("Magenta Toner", 3, 3, 100, 65, 2),
        ("Yellow Toner", 3, 3, 100, 15, 3), ("Black Toner", 3, 3, 100, 8, 4),
        ("Waste Toner Box", 4, 4, 100, 80, 0), ("Drum Unit", 3, 9, -2, -3, 0)]

subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
work = tempfile.mkdtemp(prefix="usbink-bench-")
conf = [f"[snmp] persistentDir {work}/state", f"agentaddress udp:{address}:161", "rocommunity public"]
for i, (text, cls, kind, cap, level, col) in enumerate(rows, 1):
    for column, value in ((1, f"integer {i}"), (2, "integer 1"), (3, f"integer {col}"),
                          (4, f"integer {cls}"), (5, f"integer {kind}"), (6, f'octet_str "{text}"'),
                          (7, "integer 19"), (8, f"integer {cap}"), (9, f"integer {level}")):
        conf.append(f"override .{entry}.{column}.1.{i} {value}")
for i, name in enumerate(["cyan", "magenta", "yellow", "black"], 1):
    conf.append(f'override .{colorant}.1.{i} octet_str "{name}"')
with open(f"{work}/snmpd.conf", "w") as f:
    f.write("\n".join(conf) + "\n")
log = f"{work}/snmpd.log"
agent = subprocess.Popen(["snmpd", "-f", "-Lf", log, "-C", "-c", f"{work}/snmpd.conf", "-I", "-smux",
                          "-m", "", "-p", f"{work}/snmpd.pid"], env=dict(os.environ, MIBS=""))
try:
    while not os.path.exists(log) or "NET-SNMP version" not in open(log).read():
        time.sleep(0.01)
    ours = [[query, "supplies", address]]
    theirs = [["snmpbulkwalk", "-v2c", "-c", "public", "-On", address, oid] for oid in (entry, colorant)]

    def requests():
        return open(log).read().count("Connection from UDP")

    def once(commands):
        start = time.perf_counter()
        for argv in commands:
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        return time.perf_counter() - start

    trips = {}
    for name, commands in (("usbink-query supplies", ours), ("snmpbulkwalk -v2c x2", theirs)):
        before = requests()
        once(commands)
        time.sleep(0.05)
        trips[name] = requests() - before
    times = {"usbink-query supplies": [], "snmpbulkwalk -v2c x2": []}
    for _ in range(runs):  # interleaved, so both see the same machine load
        times["usbink-query supplies"].append(once(ours))
        times["snmpbulkwalk -v2c x2"].append(once(theirs))
    medians = {k: statistics.median(v) * 1000 for k, v in times.items()}
    for name in times:
        print(f"{name:24s} median {medians[name]:7.2f} ms  round trips {trips[name]}")
    ratio = medians["usbink-query supplies"] / medians["snmpbulkwalk -v2c x2"]
    print(f"ratio {ratio:.2f} (target <= 0.50), {runs} runs each")
finally:
    agent.terminate()
    agent.wait()
