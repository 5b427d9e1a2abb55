#!/bin/sh
# Starts the Linux simulator on loopback (the OS picks the port), then runs the Windows host
# program under Wine against it:
# run_host_e2e.sh <winrm-simulator> <model> <wine-run> <wine prefix> <host.exe> <wmi.dll>
set -eu
simulator=$1 model=$2 wine_run=$3 prefix=$4 host=$5 dll=$6
log=$(mktemp -d)
"$simulator" --model "$model" --user 'LAB\monitor:Secret-1' --verbose \
    >"$log/out" 2>"$log/err" </dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$log"' EXIT
for _ in $(seq 100); do
    grep -q '^listening on' "$log/out" && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log/out")
if [ -z "$port" ]; then
    echo "the simulator did not start:"; cat "$log/err"; exit 1
fi
# Wine maps the Unix root to drive Z:; the host loads the module by its full Windows path.
WMI_E2E_PORT=$port WMI_E2E_DLL="Z:$(printf %s "$dll" | tr / '\\')" "$wine_run" "$prefix" "$host"
# Over HTTP the simulator takes only sealed SOAP: the scans above passed sealed both ways.
if ! grep -q '^.*logon: ' "$log/err"; then
    echo "the simulator saw no logon:"; cat "$log/err"; exit 1
fi
