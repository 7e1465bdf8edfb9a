"""`tarvion serve`'s /metrics read by the Prometheus client library's own parser.

Usage: metrics_check.py TARVION_TOOL
Starts the service with a virtual printer and a token, checks that /metrics
asks for the token, parses it, runs a sale and a Z reduction over HTTP and
checks that the figures moved as they must and that the names follow
Prometheus's conventions. Exits 77 when prometheus_client is not installed.
"""
import json
import os
import sys
import tempfile
import time
import urllib.error
import urllib.request

from serve_process import running

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("metrics_check: prometheus_client is not installed; skipped")
    sys.exit(77)

TOOL = sys.argv[1]
TOKEN = "metrics-check-token-0123456789"
SALE = [
    {"entry": "AbreCupomFiscal"},
    {"entry": "RegistraItemFiscal", "args": ["7891000100103", "CAFE TORRADO 500G", "UN", 18, 2, 10.50, 0]},
    {"entry": "TotalizaCupomDesconto", "args": [0, 0]},
    {"entry": "RegistraPagamento", "args": ["Dinheiro", 21.00]},
    {"entry": "FechaCupomFiscal", "args": ["OBRIGADO", 0]},
    {"entry": "RetornaNumeroCupom", "args": []},
]


def fail(message):
    raise SystemExit("metrics_check: " + message)


def request(url, body=None, token=TOKEN):
    headers = {"Authorization": "Bearer " + token} if token else {}
    data = None
    if body is not None:
        data = json.dumps(body).encode()
        headers["Content-Type"] = "application/json"
    req = urllib.request.Request(url, data=data, headers=headers)
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.headers.get("Content-Type", ""), r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.headers.get("Content-Type", ""), e.read().decode()


def scrape(base):
    status, ctype, text = request(base + "/metrics")
    if status != 200:
        fail("/metrics answered %d: %s" % (status, text))
    if ctype != "text/plain; version=0.0.4; charset=utf-8":
        fail("/metrics Content-Type is %r" % ctype)
    families = {f.name: f for f in text_string_to_metric_families(text)}
    return families, text


def value(families, family, sample, **labels):
    f = families.get(family)
    if f is None:
        fail("no family " + family)
    for s in f.samples:
        if s.name == sample and all(s.labels.get(k) == v for k, v in labels.items()):
            return s.value
    fail("no sample %s%r" % (sample, labels))


def check_names(families):
    for f in families.values():
        if not (f.name.startswith("tarvion_") or f.name.startswith("process_")):
            fail("family without the service's prefix: " + f.name)
        # The parser takes _total off a counter's family name; its samples keep it.
        if f.type == "counter" and not all(s.name == f.name + "_total" for s in f.samples):
            fail("counter %s has samples not ending in _total" % f.name)
        if f.type != "counter" and f.name.endswith("_total"):
            fail("%s ends in _total but is a %s" % (f.name, f.type))
        if any(unit in f.name for unit in ("_milliseconds", "_ms", "_kilobytes", "_minutes")):
            fail("%s is not in base units" % f.name)
        if f.type == "histogram":
            buckets = [s for s in f.samples if s.name.endswith("_bucket")]
            if not any(s.labels.get("le") == "+Inf" for s in buckets):
                fail(f.name + " has no +Inf bucket")


def main():
    work = tempfile.TemporaryDirectory(prefix="tarvion-metrics-")
    token_file = os.path.join(work.name, "token")
    with open(os.open(token_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write(TOKEN + "\n")
    with running(TOOL, work.name, "--virtual", "treino=1", "--token-file", token_file, token=TOKEN) as base:
        if request(base + "/metrics", token=None)[0] != 401:
            fail("/metrics answered without the token")
        if request(base + "/metrics", token="wrong-token-0123456789")[0] != 401:
            fail("/metrics answered a wrong token")

        before, _ = scrape(base)
        check_names(before)
        for name in ("process_cpu_seconds", "process_resident_memory_bytes", "process_open_fds",
                     "process_start_time_seconds", "tarvion_idempotency_keys"):
            if name not in before:
                fail("no " + name)
        if value(before, "tarvion_printer_state", "tarvion_printer_state", printer="treino", state="idle") != 1:
            fail("the printer is not idle at the start")
        if "tarvion_printer_last_z_reduction_timestamp_seconds" in before:
            fail("a Z reduction time before any was run")
        calls = lambda fams, o: value(fams, "tarvion_printer_calls", "tarvion_printer_calls_total",
                                      printer="treino", outcome=o)
        count = lambda fams: value(fams, "tarvion_printer_call_duration_seconds",
                                   "tarvion_printer_call_duration_seconds_count", printer="treino")

        status, _, text = request(base + "/printers/treino/calls", SALE)
        if status != 200 or json.loads(text)["outcome"] != "done":
            fail("the sale: %d %s" % (status, text))
        after, _ = scrape(base)
        check_names(after)
        if calls(after, "done") - calls(before, "done") != len(SALE):
            fail("calls done went from %s to %s for %d calls" % (calls(before, "done"), calls(after, "done"),
                                                                  len(SALE)))
        if count(after) - count(before) != len(SALE):
            fail("the duration histogram counted %s calls" % (count(after) - count(before)))
        coo = int(json.loads(text)["calls"][-1]["out"]["strNumeroCupom"])
        if value(after, "tarvion_printer_operation_counter", "tarvion_printer_operation_counter",
                 printer="treino") != coo:
            fail("the COO in /metrics is not the one the sale returned (%d)" % coo)

        started = time.time()
        status, _, text = request(base + "/printers/treino/calls", {"entry": "ReducaoZ", "args": [time.strftime("%Y-%m-%dT%H:%M:%S")]})
        if status != 200 or json.loads(text)["outcome"] != "done":
            fail("ReducaoZ: %d %s" % (status, text))
        z, _ = scrape(base)
        at = value(z, "tarvion_printer_last_z_reduction_timestamp_seconds",
                   "tarvion_printer_last_z_reduction_timestamp_seconds", printer="treino")
        if not started - 2 <= at <= time.time() + 2:
            fail("the Z reduction time %s is not when it ran (%s)" % (at, started))
    print("metrics_check: ok")


main()
