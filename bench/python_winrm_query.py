#!/usr/bin/python3
"""Client CPU per warm one-row query of Debian's python3-winrm against winrm-simulator.

One winrm.Protocol (NTLM, every message sealed) sends the same Enumerate libwql sends for a
one-row query and reads the item from the reply; time.process_time counts this process's CPU
around the timed queries. Prints microseconds per query on one line.
"""

import argparse
import os
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ET

NS = {
    "s": "http://www.w3.org/2003/05/soap-envelope",
    "a": "http://schemas.xmlsoap.org/ws/2004/08/addressing",
    "n": "http://schemas.xmlsoap.org/ws/2004/09/enumeration",
    "w": "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd",
}
RESOURCE = "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*"
WQL = "http://schemas.microsoft.com/wbem/wsman/1/WQL"
ENUMERATE = "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate"

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


def q(prefix, local):
    return "{%s}%s" % (NS[prefix], local)


def enumerate_message(port, wql):
    env = ET.Element(q("s", "Envelope"))
    header = ET.SubElement(env, q("s", "Header"))
    ET.SubElement(header, q("a", "To")).text = "http://127.0.0.1:%d/wsman" % port
    ET.SubElement(header, q("a", "Action")).text = ENUMERATE
    ET.SubElement(header, q("a", "MessageID")).text = "uuid:%s" % uuid.uuid4()
    ET.SubElement(header, q("w", "ResourceURI")).text = RESOURCE
    ET.SubElement(header, q("w", "OperationTimeout")).text = "PT5S"
    enum = ET.SubElement(ET.SubElement(env, q("s", "Body")), q("n", "Enumerate"))
    ET.SubElement(enum, q("w", "OptimizeEnumeration"))
    ET.SubElement(enum, q("w", "MaxElements")).text = "100"
    ET.SubElement(enum, q("w", "Filter"), Dialect=WQL).text = wql
    return ET.tostring(env, encoding="unicode")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--queries", type=int, default=300)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--wql", default="SELECT Caption FROM Win32_OperatingSystem")
    args = parser.parse_args()
    if os.environ.get("WQL_BENCH_OPENSSL_READY") != "1":
        conf = tempfile.NamedTemporaryFile("w", suffix=".cnf", delete=False)
        conf.write(OPENSSL_CONF)
        conf.close()
        env = dict(os.environ, OPENSSL_CONF=conf.name, WQL_BENCH_OPENSSL_READY="1")
        os.execve(sys.executable, [sys.executable] + sys.argv, env)
    import winrm

    client = winrm.Protocol(endpoint="http://127.0.0.1:%d/wsman" % args.port, transport="ntlm",
                            username=args.user, password=args.password,
                            message_encryption="always")

    def query():
        reply = ET.fromstring(client.send_message(enumerate_message(args.port, args.wql)))
        items = reply.find("s:Body/n:EnumerateResponse/w:Items", NS)
        if items is None or len(items) != 1:
            raise SystemExit("the one-row query did not return one row")

    for _ in range(20):
        query()
    start = time.process_time()
    for _ in range(args.queries):
        query()
    print("%.1f" % ((time.process_time() - start) / args.queries * 1e6), flush=True)
    os.unlink(os.environ["OPENSSL_CONF"])


if __name__ == "__main__":
    main()
