#!/usr/bin/python3
"""End-to-end check of winrm-simulator with a client that works against real Windows hosts.

Debian's python3-winrm authenticates with NTLM and seals every message
(multipart/encrypted), sends WS-Management Enumerate/Pull/Release envelopes and reads the
replies. The expected values come from the machine model file, never from this script.

Exit codes: 0 passed, 1 failed, 77 skipped (python3-winrm is not installed).
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ET

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "a": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
    "xsi": "http://www.w3.org/2001/XMLSchema-instance",
    "p": "http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError",
}
WQL = "http://schemas.microsoft.com/wbem/wsman/1/WQL"
ACTION = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/"
RESOURCE = "http://schemas.microsoft.com/wbem/wsman/1/wmi/"
USER, PASSWORD = "TESTDOM\\testuser", "Sim-Passw0rd!"
PAGE = 5

# python3-winrm hashes the password with MD4, which OpenSSL 3 keeps in its legacy provider.
OPENSSL_CONF = """openssl_conf = openssl_init
[openssl_init]
providers = provider_sect
[provider_sect]
default = default_sect
legacy = legacy_sect
[default_sect]
activate = 1
[legacy_sect]
activate = 1
"""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def q(prefix, local):
    return "{%s}%s" % (NS[prefix], local)


def envelope(port, action, namespace, body_builder):
    for prefix, uri in NS.items():
        ET.register_namespace(prefix, uri)
    env = ET.Element(q("s", "Envelope"))
    header = ET.SubElement(env, q("s", "Header"))
    ET.SubElement(header, q("a", "To")).text = "http://127.0.0.1:%d/wsman" % port
    reply_to = ET.SubElement(header, q("a", "ReplyTo"))
    ET.SubElement(reply_to, q("a", "Address")).text = (
        "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous")
    ET.SubElement(header, q("a", "Action")).text = ACTION + action
    ET.SubElement(header, q("a", "MessageID")).text = "uuid:%s" % uuid.uuid4()
    ET.SubElement(header, q("w", "ResourceURI")).text = (
        RESOURCE + namespace.replace("\\", "/") + "/*")
    ET.SubElement(header, q("w", "MaxEnvelopeSize")).text = "153600"
    ET.SubElement(header, q("w", "OperationTimeout")).text = "PT60S"
    body_builder(ET.SubElement(env, q("s", "Body")))
    return ET.tostring(env, encoding="unicode"), env


def enumerate_message(port, namespace, wql, optimize=True):
    def body(parent):
        enum = ET.SubElement(parent, q("n", "Enumerate"))
        if optimize:
            ET.SubElement(enum, q("w", "OptimizeEnumeration"))
            ET.SubElement(enum, q("w", "MaxElements")).text = "32000"
        f = ET.SubElement(enum, q("w", "Filter"), Dialect=WQL)
        f.text = wql
    return envelope(port, "Enumerate", namespace, body)


def context_message(port, action, namespace, context, max_elements=None):
    def body(parent):
        element = ET.SubElement(parent, q("n", action))
        ET.SubElement(element, q("n", "EnumerationContext")).text = context
        if max_elements:
            ET.SubElement(element, q("n", "MaxElements")).text = str(max_elements)
    return envelope(port, action, namespace, body)


def items_of(reply, response):
    body = reply.find("s:Body/n:" + response, NS)
    items = body.find("w:Items", NS)
    if items is None:
        items = body.find("n:Items", NS)
    context = body.find("n:EnumerationContext", NS)
    end = body.find("w:EndOfSequence", NS) is not None or body.find(
        "n:EndOfSequence", NS) is not None
    return (list(items) if items is not None else [],
            context.text if context is not None and context.text else None, end)


def local(tag):
    return tag.split("}", 1)[-1]


def start_simulator(binary, model, extra=()):
    process = subprocess.Popen(
        [binary, "--model", model, "--listen", "127.0.0.1:0", "--user",
         "%s:%s" % (USER, PASSWORD), "--page", str(PAGE)] + list(extra),
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline().strip()
    match = re.fullmatch(r"listening on 127\.0\.0\.1:(\d+)", line)
    if not match:
        process.kill()
        raise SystemExit("simulator did not start: %r %s" % (line, process.stderr.read()))
    return process, int(match.group(1))


def run(args):
    import winrm
    from winrm.exceptions import InvalidCredentialsError, WinRMError, WinRMTransportError

    with open(args.model, encoding="utf-8") as f:
        model = json.load(f)
    services = model["namespaces"]["root\\cimv2"]["Win32_Service"]["instances"]
    expected_names = [s["Name"] for s in services]
    check(len(expected_names) > 2 * PAGE, "the model has enough services to need several pages")

    process, port = start_simulator(args.simulator, args.model)
    endpoint = "http://127.0.0.1:%d/wsman" % port
    try:
        client = winrm.Protocol(endpoint=endpoint, transport="ntlm", username=USER,
                                password=PASSWORD, message_encryption="always")

        def send(message):
            text, sent = message
            reply = ET.fromstring(client.send_message(text))
            relates = reply.find("s:Header/a:RelatesTo", NS)
            check(relates is not None and
                  relates.text == sent.find("s:Header/a:MessageID", NS).text,
                  "the reply relates to the request")
            return reply

        # SELECT * over several pages: one item first, then Pulls of at most PAGE items,
        # each with a fresh context, until EndOfSequence.
        reply = send(enumerate_message(port, "root\\cimv2", "SELECT * FROM Win32_Service"))
        items, context, end = items_of(reply, "EnumerateResponse")
        check(len(items) == 1 and context and not end, "one item in the EnumerateResponse")
        names = [i.find("{%sroot/cimv2/Win32_Service}Name" % RESOURCE).text for i in items]
        check(local(items[0].tag) == "Win32_Service", "SELECT * items are class elements")
        pulls = 0
        seen_contexts = {context}
        while not end and pulls < 100:
            reply = send(context_message(port, "Pull", "root\\cimv2", context, 10))
            items, context, end = items_of(reply, "PullResponse")
            pulls += 1
            check(0 < len(items) <= PAGE, "a Pull returns at most the page size")
            names += [i.find("{%sroot/cimv2/Win32_Service}Name" % RESOURCE).text for i in items]
            if not end:
                check(context not in seen_contexts, "each PullResponse has a new context")
                seen_contexts.add(context)
        check(end and context is None, "the last PullResponse ends the sequence")
        check(names == expected_names, "all services arrive in model order: %s" % names)
        check(pulls == -(-(len(expected_names) - 1) // PAGE), "the expected number of Pulls")

        # Selected properties: unqualified XmlFragment children, nothing else.
        reply = send(enumerate_message(
            port, "root\\cimv2",
            "SELECT Name, State, ProcessId FROM Win32_Service WHERE Name = 'Spooler'"))
        items, context, end = items_of(reply, "EnumerateResponse")
        spooler = next(s for s in services if s["Name"] == "Spooler")
        check(len(items) == 1 and end and context is None, "one matching service, at once")
        fragment = items[0]
        check(local(fragment.tag) == "XmlFragment", "selected properties come as XmlFragment")
        check([c.tag for c in fragment] == ["Name", "ProcessId", "State"],
              "only the selected properties, alphabetical: %s" % [c.tag for c in fragment])
        check(fragment.find("ProcessId").text == str(spooler["ProcessId"]), "ProcessId value")

        # Arrays repeat the element; NULL is xsi:nil.
        reply = send(enumerate_message(
            port, "root\\cimv2",
            "SELECT Index, IPAddress, MACAddress FROM Win32_NetworkAdapterConfiguration"))
        items, context, _ = items_of(reply, "EnumerateResponse")
        while context:
            more, context, _ = items_of(
                send(context_message(port, "Pull", "root\\cimv2", context, 50)), "PullResponse")
            items += more
        configs = model["namespaces"]["root\\cimv2"]["Win32_NetworkAdapterConfiguration"][
            "instances"]
        for item, config in zip(items, configs):
            addresses = item.findall("IPAddress")
            if config["IPAddress"] is None:
                check(len(addresses) == 1 and addresses[0].get(q("xsi", "nil")) == "true",
                      "a NULL array is one nil element")
            else:
                check([a.text for a in addresses] == config["IPAddress"],
                      "array values repeat the element")
        check(len(items) == len(configs), "every adapter configuration arrives")

        # A missing namespace is a WMI fault, HTTP 500, sealed like every reply. Windows
        # Security exists on client editions only.
        declared = model["namespaces"]
        missing = next(ns for ns in ("root\\SecurityCenter2", "root\\StandardCimv2")
                       if ns not in declared)
        try:
            client.send_message(enumerate_message(
                port, missing, "SELECT displayName FROM AntiVirusProduct")[0])
            check(False, "a missing namespace faults")
        except WinRMError as e:
            check("Invalid namespace" in str(e) and "'http_status_code': 500" in str(e),
                  "missing namespace reported as a WMI fault: %s" % e)

        if "root\\SecurityCenter2" in declared:
            products = declared["root\\SecurityCenter2"]["AntiVirusProduct"]["instances"]
            reply = send(enumerate_message(
                port, "root\\SecurityCenter2",
                "SELECT displayName, productState FROM AntiVirusProduct"))
            items, context, _ = items_of(reply, "EnumerateResponse")
            while context:
                more, context, _ = items_of(send(context_message(
                    port, "Pull", "root\\SecurityCenter2", context, 50)), "PullResponse")
                items += more
            check([(i.find("displayName").text, int(i.find("productState").text))
                   for i in items] ==
                  [(p["displayName"], p["productState"]) for p in products],
                  "security products and their states")

        # Release ends an enumeration: its context is gone afterwards.
        reply = send(enumerate_message(port, "root\\cimv2", "SELECT Name FROM Win32_Service"))
        _, context, _ = items_of(reply, "EnumerateResponse")
        send(context_message(port, "Release", "root\\cimv2", context))
        try:
            client.send_message(context_message(port, "Pull", "root\\cimv2", context, 5)[0])
            check(False, "a released context cannot be pulled")
        except WinRMError as e:
            check("InvalidEnumerationContext" in str(e), "released context: %s" % e)

        # Wrong password: 401, reported as rejected credentials.
        wrong = winrm.Protocol(endpoint=endpoint, transport="ntlm", username=USER,
                               password=PASSWORD + "x", message_encryption="always")
        try:
            wrong.send_message(enumerate_message(
                port, "root\\cimv2", "SELECT Caption FROM Win32_OperatingSystem")[0])
            check(False, "a wrong password is refused")
        except InvalidCredentialsError:
            pass

        # Authenticated but unsealed SOAP over HTTP is refused, as Windows does by default.
        clear = winrm.Protocol(endpoint=endpoint, transport="ntlm", username=USER,
                               password=PASSWORD, message_encryption="never")
        try:
            clear.send_message(enumerate_message(
                port, "root\\cimv2", "SELECT Caption FROM Win32_OperatingSystem")[0])
            check(False, "unencrypted SOAP is refused")
        except (WinRMError, WinRMTransportError) as e:
            check("AccessDenied" in str(e) or "500" in str(e), "unencrypted refused: %s" % e)
    finally:
        process.terminate()
        try:
            check(process.wait(timeout=10) == 0, "the simulator stops cleanly on SIGTERM")
        except subprocess.TimeoutExpired:
            process.kill()
            check(False, "the simulator stops on SIGTERM")
    run_https(args, winrm)
    return 1 if failures else 0


def make_certificates(folder):
    """A test CA and a certificate it issues for 127.0.0.1, with the openssl program."""
    def openssl(*arguments):
        subprocess.run(["openssl"] + list(arguments), cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=winrm e2e CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(folder, "server.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    return [os.path.join(folder, name) for name in ("ca.pem", "server.pem", "server.key")]


def run_https(args, winrm):
    """HTTPS as a Windows listener with strict channel binding serves it: the client checks
    the certificate against the test CA, binds its NTLM logon to the TLS channel and sends
    SOAP unsealed inside TLS."""
    with tempfile.TemporaryDirectory() as folder:
        ca, certificate, key = make_certificates(folder)
        process, port = start_simulator(
            args.simulator, args.model,
            ["--tls-certificate", certificate, "--tls-key", key, "--require-channel-binding"])
        try:
            client = winrm.Protocol(endpoint="https://127.0.0.1:%d/wsman" % port,
                                    transport="ntlm", username=USER, password=PASSWORD,
                                    server_cert_validation="validate", ca_trust_path=ca)
            reply = ET.fromstring(client.send_message(enumerate_message(
                port, "root\\cimv2", "SELECT Caption FROM Win32_OperatingSystem")[0]))
            items, _, end = items_of(reply, "EnumerateResponse")
            caption = model_caption(args.model)
            check(end and [i.find("Caption").text for i in items] == [caption],
                  "the operating system over HTTPS")
            if args.probe:
                run_probe_over_https(args, port, ca)
        finally:
            process.terminate()
            process.wait(timeout=10)


def run_probe_over_https(args, port, ca):
    """wmiprobe's check and a sensor scan over HTTPS, trusting the test CA with --ca-file."""
    domain, user = USER.split("\\")
    target = ["--host", "127.0.0.1", "--port", str(port), "--https", "--domain", domain,
              "--user", user]
    env = dict(os.environ, WMIPROBE_PASSWORD=PASSWORD)
    for command, expected in ((["check"], "passed"),
                              (["scan", "pagefile_sensor"], "Status: ok")):
        done = subprocess.run([args.probe, "--module", args.module] + command + target +
                              ["--ca-file", ca], env=env, capture_output=True, text=True,
                              timeout=60)
        check(done.returncode == 0 and expected in done.stdout,
              "wmiprobe %s --https: %s %s" % (command[0], done.stdout, done.stderr))
    # Without the test CA the system trust store does not know the target's issuer.
    done = subprocess.run([args.probe, "--module", args.module, "check"] + target, env=env,
                          capture_output=True, text=True, timeout=60)
    check(done.returncode != 0, "wmiprobe check --https refuses an unknown issuer")


def model_caption(path):
    with open(path, encoding="utf-8") as f:
        model = json.load(f)
    return model["namespaces"]["root\\cimv2"]["Win32_OperatingSystem"]["instances"][0]["Caption"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--simulator", required=True)
    parser.add_argument("--model", required=True)
    parser.add_argument("--probe", help="wmiprobe, to run its check and a scan over HTTPS")
    parser.add_argument("--module", help="libwmi.so for --probe")
    args = parser.parse_args()
    try:
        import winrm  # noqa: F401
    except ImportError:
        print("python3-winrm is not installed; skipping")
        return 77
    if os.environ.get("WINRM_E2E_OPENSSL_READY") != "1":
        # OpenSSL reads its configuration once per process: restart with the legacy provider.
        with tempfile.NamedTemporaryFile("w", suffix=".cnf", delete=False) as conf:
            conf.write(OPENSSL_CONF)
        env = dict(os.environ, OPENSSL_CONF=conf.name, WINRM_E2E_OPENSSL_READY="1")
        try:
            return subprocess.call([sys.executable] + sys.argv, env=env)
        finally:
            os.unlink(conf.name)
    result = run(args)
    print("passed" if result == 0 else "%d check(s) failed" % len(failures))
    return result


if __name__ == "__main__":
    sys.exit(main())
