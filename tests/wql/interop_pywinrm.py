"""A client known to work against Windows (python3-winrm, NTLM, message encryption) sends a
sealed Enumerate to our endpoint and must read the sealed reply. Exit 77 = not available."""
import os
import subprocess
import sys
import tempfile

try:
    from winrm.protocol import Protocol
except ImportError:
    print("python3-winrm is not installed")
    sys.exit(77)

# NT hashes need MD4, which OpenSSL 3 keeps in its legacy provider: run again with a
# configuration that loads it (once; the marker stops a second re-run).
if "WQL_INTEROP_CHILD" not in os.environ:
    with tempfile.NamedTemporaryFile("w", suffix=".cnf") as conf:
        conf.write("openssl_conf = init\n[init]\nproviders = prov\n[prov]\ndefault = d\n"
                   "legacy = l\n[d]\nactivate = 1\n[l]\nactivate = 1\n")
        conf.flush()
        env = dict(os.environ, OPENSSL_CONF=conf.name, WQL_INTEROP_CHILD="1")
        sys.exit(subprocess.call([sys.executable] + sys.argv, env=env, timeout=50))

endpoint = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
try:
    port = int(endpoint.stdout.readline())
    protocol = Protocol(endpoint=f"http://127.0.0.1:{port}/wsman", transport="ntlm",
                        username="TESTDOM\\testuser", password="Secr3t!pass",
                        message_encryption="always", operation_timeout_sec=5, read_timeout_sec=10)
    request = (
        '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
        'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
        'xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" '
        'xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd"><s:Header>'
        '<a:Action>http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate</a:Action>'
        '<a:MessageID>uuid:interop-1</a:MessageID></s:Header><s:Body><n:Enumerate>'
        '<w:Filter>SELECT Caption FROM Win32_OperatingSystem</w:Filter>'
        '</n:Enumerate></s:Body></s:Envelope>')
    reply = protocol.send_message(request).decode()
    expected = "<Caption>interop SELECT Caption FROM Win32_OperatingSystem</Caption>"
    if expected not in reply or "uuid:interop-1" not in reply:
        print("unexpected reply:", reply)
        sys.exit(1)
    print("ok")
finally:
    endpoint.stdin.close()
    endpoint.wait(timeout=10)
