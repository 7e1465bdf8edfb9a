"""The built `tarvion serve` for a check: started on a free loopback port,
waited for until it answers, and stopped again whatever the check did."""
import contextlib
import os
import socket
import subprocess
import time
import urllib.error
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def running(tool, work, *args, token=None):
    """Yields the service's base URL; args are the service's own options."""
    port = free_port()
    base = f"http://127.0.0.1:{port}"
    log_path = os.path.join(work, "serve.log")
    with open(log_path, "w") as log:
        proc = subprocess.Popen([os.path.abspath(tool), "serve", "--listen", f"127.0.0.1:{port}", *args],
                                stdout=log, stderr=subprocess.STDOUT, cwd=work)
    try:
        headers = {"Authorization": "Bearer " + token} if token else {}
        deadline = time.monotonic() + 30
        while True:
            if proc.poll() is not None:
                raise SystemExit("the service stopped:\n" + open(log_path).read())
            if time.monotonic() > deadline:
                raise SystemExit("the service did not answer")
            try:
                with urllib.request.urlopen(urllib.request.Request(base + "/printers", headers=headers), timeout=2):
                    break
            except (OSError, urllib.error.URLError):
                time.sleep(0.1)
        yield base
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
