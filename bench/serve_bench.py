#!/usr/bin/python3
"""1,000 sensors on 10 simulated targets at a 10 s interval, served by one wmiprobe process.

Starts ten winrm-simulator programs, writes a configuration with 100 sensors per target
(CPU load, memory, uptime and service sensors), runs `wmiprobe serve`, lets it warm up, then
measures the serving process alone over a window: CPU time from /proc/<pid>/stat, resident
memory from /proc/<pid>/status, and scans, skipped scans and sensors up from its /metrics.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

TARGETS = 10
PER_TARGET = 100
SERVICES = ["Spooler", "EventLog", "Dhcp", "Dnscache", "LanmanServer"]


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        status = f.read()
    return {k: int(v) for k, v in re.findall(r"(VmRSS|VmHWM):\s+(\d+) kB", status)}


def scrape(port):
    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=10) as r:
        text = r.read().decode()
    total = lambda name: sum(float(v) for v in re.findall(r"(?m)^%s\{[^}]*\} (\S+)$" % name,
                                                            text))
    return total("wmi_sensor_scans_total"), total("wmi_sensor_skipped_scans_total"), \
        total("wmi_sensor_up")


def main():
    parser = argparse.ArgumentParser()
    for name in ("probe", "module", "simulator", "model"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--warmup", type=float, default=20)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--workers", type=int, default=8)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="wmiprobe-serve-bench-")
    krb5 = os.path.join(work, "krb5.conf")
    with open(krb5, "w") as out:
        out.write("[libdefaults]\n dns_lookup_realm = false\n dns_lookup_kdc = false\n"
                  " rdns = false\n dns_canonicalize_hostname = false\n")
    env = dict(os.environ, KRB5_CONFIG=krb5, BENCH_PASSWORD="Bench-Secret-1")

    simulators, lines = [], ['listen = "127.0.0.1:0"', 'state_dir = "%s/state"' % work,
                             "workers = %d" % args.workers]
    for t in range(TARGETS):
        process = subprocess.Popen([args.simulator, "--model", args.model, "--user",
                                    "LAB\\monitor:Bench-Secret-1", "--listen", "127.0.0.1:0"],
                                   stdout=subprocess.PIPE, text=True)
        port = int(re.search(r":(\d+)$", process.stdout.readline().strip()).group(1))
        simulators.append(process)
        lines += ["[[target]]", 'name = "target%02d"' % t, 'host = "127.0.0.1"',
                  "port = %d" % port, 'domain = "LAB"', 'user = "monitor"',
                  'password_env = "BENCH_PASSWORD"']
        for i in range(PER_TARGET):
            kind = ["cpu_load_sensor", "memory_sensor", "system_uptime_sensor",
                    "service_sensor"][i % 4]
            lines += ["[[target.sensor]]", 'kind = "%s"' % kind, 'instance = "%d"' % i,
                      "interval = 10"]
            if kind == "service_sensor":
                lines.append('settings = { "service_metascan_section.service_metascan_group.'
                             'name" = "%s" }' % SERVICES[i % len(SERVICES)])
    config = os.path.join(work, "serve.toml")
    with open(config, "w") as out:
        out.write("\n".join(lines) + "\n")

    log = open(os.path.join(work, "serve.log"), "w+")
    serve = subprocess.Popen([args.probe, "--module", args.module, "serve", "--config", config,
                              "--log-level", "warn"], stderr=log, env=env)
    try:
        # Warn level hides the "serving" line, so ask the kernel for the listening port.
        port = None
        while port is None and serve.poll() is None:
            time.sleep(0.2)
            out = subprocess.run(["ss", "-ltnpH"], capture_output=True, text=True).stdout
            found = re.search(r"127\.0\.0\.1:(\d+)\s.*pid=%d," % serve.pid, out)
            port = int(found.group(1)) if found else None
        if port is None:
            sys.exit("serve did not start; see " + log.name)
        time.sleep(args.warmup)
        cpu0, wall0, (scans0, skipped0, _) = cpu_seconds(serve.pid), time.time(), scrape(port)
        time.sleep(args.seconds)
        cpu1, wall1, (scans1, skipped1, up) = cpu_seconds(serve.pid), time.time(), scrape(port)
        memory = memory_kib(serve.pid)
    finally:
        serve.send_signal(signal.SIGTERM)
        code = serve.wait(timeout=120)
        for process in simulators:
            process.terminate()
            process.wait()
    wall = wall1 - wall0
    print("sensors: %d on %d targets, interval 10 s, %d workers" %
          (TARGETS * PER_TARGET, TARGETS, args.workers))
    print("window: %.0f s after %.0f s warm-up" % (wall, args.warmup))
    print("scans: %.0f (%.1f per second), skipped: %.0f, sensors up: %.0f" %
          (scans1 - scans0, (scans1 - scans0) / wall, skipped1 - skipped0, up))
    print("CPU of the serving process: %.1f %% of one core" % (100 * (cpu1 - cpu0) / wall))
    print("RSS: %.1f MiB (peak %.1f MiB)" % (memory["VmRSS"] / 1024, memory["VmHWM"] / 1024))
    print("exit code after SIGTERM: %d" % code)
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
