#!/usr/bin/python3
"""wmiprobe serve with the example configuration against three simulated targets.

Each target of docs/serve.example.toml gets a winrm-simulator program of its own on loopback;
the copy of the file differs only in addresses, ports, password files, state directory and
shorter intervals. /metrics is read by Debian's python3-prometheus-client, an independent
parser of the text exposition format; SIGTERM must end the program cleanly.

Exit codes: 0 passed, 1 failed, 77 skipped (python3-prometheus-client is not installed).
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("python3-prometheus-client is not installed")
    sys.exit(77)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def start_simulator(program, model, account):
    process = subprocess.Popen(
        [program, "--model", model, "--user", account, "--listen", "127.0.0.1:0"],
        stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    match = re.match(r"listening on 127\.0\.0\.1:(\d+)", line)
    if not match:
        process.kill()
        sys.exit("the simulator did not start: %r" % line)
    return process, int(match.group(1))


def fetch(port, path):
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, path), timeout=10) as r:
            return r.status, r.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        return e.code, ""


def main():
    parser = argparse.ArgumentParser()
    for name in ("probe", "module", "simulator", "model", "config"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="wmiprobe-serve-e2e-")
    krb5 = os.path.join(work, "krb5.conf")
    with open(krb5, "w") as out:
        out.write("[libdefaults]\n dns_lookup_realm = false\n dns_lookup_kdc = false\n"
                  " rdns = false\n dns_canonicalize_hostname = false\n")
    env = dict(os.environ, KRB5_CONFIG=krb5)

    with open(args.config) as f:
        text = f.read()
    blocks = re.split(r"(?m)^(?=\[\[target\]\])", text)
    head, targets = blocks[0], blocks[1:]
    check(len(targets) == 3, "the example has three targets")
    simulators, passwords, names = [], [], []
    out_blocks = [re.sub(r'(?m)^state_dir = .*$', 'state_dir = "%s/state"' % work,
                         re.sub(r'(?m)^listen = .*$', 'listen = "127.0.0.1:0"', head))]
    for index, block in enumerate(targets):
        name = re.search(r'(?m)^name = "([^"]+)"', block).group(1)
        domain = re.search(r'(?m)^domain = "([^"]+)"', block).group(1)
        password = "Serve-%d-Secret!x" % index
        process, port = start_simulator(args.simulator, args.model,
                                        "%s\\monitor:%s" % (domain, password))
        simulators.append(process)
        passwords.append(password)
        names.append(name)
        block = re.sub(r'(?m)^port = .*\n', "", block)
        block = re.sub(r'(?m)^host = .*$', 'host = "127.0.0.1"\nport = %d' % port, block)
        block = re.sub(r'(?m)^(\s*)interval = \d+', r'\1interval = 1', block)
        block = re.sub(r'(?m)^(\s*)rediscover = \d+', r'\1rediscover = 10', block)
        file_match = re.search(r'(?m)^password_file = "([^"]+)"', block)
        if file_match:
            path = os.path.join(work, "%s.password" % name)
            with open(path, "w") as out:
                out.write(password + "\n")
            block = block.replace(file_match.group(1), path)
        env_match = re.search(r'(?m)^password_env = "([^"]+)"', block)
        if env_match:
            env[env_match.group(1)] = password
        out_blocks.append(block)
    config = os.path.join(work, "serve.toml")
    with open(config, "w") as out:
        out.write("".join(out_blocks))

    log_path = os.path.join(work, "serve.log")
    log = open(log_path, "w+")
    serve = subprocess.Popen([args.probe, "--module", args.module, "serve", "--config", config,
                              "--log-level", "debug"], stderr=log, env=env)
    try:
        port = None
        deadline = time.time() + 60
        while port is None and time.time() < deadline and serve.poll() is None:
            time.sleep(0.2)
            with open(log_path) as f:
                found = re.search(r"serving /metrics on \S+ \(port (\d+)\)", f.read())
            port = int(found.group(1)) if found else None
        if port is None:
            with open(log_path) as f:
                sys.exit("serve did not start:\n" + f.read())

        # Configured kinds of each target, and the discovered kinds that must have found some.
        wanted = {
            ("fileserver", "cpu_load_sensor"), ("fileserver", "memory_sensor"),
            ("fileserver", "volume_sensor"), ("sql01", "system_uptime_sensor"),
            ("sql01", "service_sensor"), ("ws42", "pagefile_sensor"),
            ("ws42", "network_card_sensor"),
        }
        # Two scans of everything: counters have rates, so every family is there.
        metrics, families = "", {}
        while time.time() < deadline:
            status, metrics = fetch(port, "/metrics")
            families = {f.name: f for f in text_string_to_metric_families(metrics)}
            scans = families.get("wmi_sensor_scans")
            done = {(s.labels["target"], s.labels["kind"]) for s in scans.samples
                    if s.value >= 2} if scans else set()
            if wanted <= done:
                break
            time.sleep(0.5)
        up = {(s.labels["target"], s.labels["kind"], s.labels["instance"]): s.value
              for s in families["wmi_sensor_up"].samples}
        check(wanted <= {(t, k) for t, k, _ in up}, "every target and kind has a wmi_sensor_up: %s"
              % sorted(up))
        # The model has two volumes without capacity, which the sensor reports as errors.
        check(all(v == 1 for (t, k, i), v in up.items() if k != "volume_sensor"),
              "every sensor is up: %s" % up)
        check(up.get(("fileserver", "volume_sensor", "C:\\")) == 1, "volume C: is up")
        services = [i for t, k, i in up if k == "service_sensor"]
        check(services and all(i.startswith("SQL Server") for i in services),
              "discovery kept only the services matching the pattern: %s" % services)
        for prefix in ("wmi_cpu_load_", "wmi_memory_", "wmi_system_uptime_", "wmi_pagefile_",
                       "wmi_volume_", "wmi_service_", "wmi_network_card_"):
            check(any(n.startswith(prefix) and f.samples for n, f in families.items()),
                  "a channel family %s*" % prefix)
        for name, family in families.items():
            for sample in family.samples:
                if name.startswith(("wmi_sensor_", "wmi_cpu_", "wmi_memory_")):
                    check({"target", "kind", "instance"} <= set(sample.labels),
                          "%s has target, kind and instance" % sample.name)
        check(any("state" in s.labels for n, f in families.items() if n.startswith("wmi_service_")
                  for s in f.samples), "a lookup channel carries its state label")
        check(any(n.endswith("_bytes") for n in families), "bytes are in base units")
        check(families["wmi_module_loaded"].samples[0].value == 1, "the module is loaded")
        check(families["wmi_module_api_level"].samples[0].value == 6, "API level 6")

        status, page = fetch(port, "/")
        check(status == 200 and "fileserver" in page and "sql01" in page, "the status page")
        check(fetch(port, "/secrets")[0] == 404, "anything else is 404")
        for text, where in ((metrics, "/metrics"), (page, "the status page")):
            check(not any(p in text for p in passwords), "no password in " + where)
    finally:
        serve.send_signal(signal.SIGTERM)
        try:
            code = serve.wait(timeout=60)
        except subprocess.TimeoutExpired:
            serve.kill()
            code = "killed after 60 s"
        for process in simulators:
            process.terminate()
            process.wait()
    check(code == 0, "SIGTERM ends serve with exit code 0, not %s" % code)
    with open(log_path) as f:
        logged = f.read()
    check("module cleaned up" in logged, "the module is cleaned up at the end")
    check(not any(p in logged for p in passwords), "no password in the log")
    check(re.search(r"(?m)^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[(info|debug)\] ", logged),
          "log lines are timestamped with their level")
    check(len(os.listdir(os.path.join(work, "state"))) >= len(wanted),
          "every sensor saved its state")
    if failures:
        print(logged[-4000:])
        print("%d failures" % len(failures))
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
