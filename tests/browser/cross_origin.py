"""Another page on this machine tries to drive tarvion serve from the browser.

Usage: cross_origin.py SERVICE_URL PRINTER_ID
Serves a page from another loopback port and opens it in headless chromium. The
page sends the printer a sale three ways a hostile site could: a "simple"
text/plain POST, a form POST into a hidden frame, and a script's JSON fetch
(which the browser must clear with a preflight first). Exits non-zero when the
page could not make its attempts; the caller then checks the paper.
"""
import http.server
import sys
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

service_url, printer = sys.argv[1].rstrip("/"), sys.argv[2]
calls = service_url + "/printers/" + printer + "/calls"
sale = ('[{"entry": "AbreCupomFiscal"}, {"entry": "RegistraItemFiscal", '
        '"args": ["1", "FROM A WEB PAGE", "UN", 18, 1, 1.00, 0]}]')

PAGE = """<!doctype html><html><body>
<iframe name="sink" id="sink"></iframe>
<form id="form" method="POST" target="sink" enctype="text/plain" action="%(calls)s">
<input name='%(sale)s' value=''>
</form>
<script>
const results = [];
async function attempt(name, fn) {
  try { await fn(); results.push(name + ": sent"); } catch (e) { results.push(name + ": " + e); }
}
(async () => {
  await attempt("simple", () => fetch("%(calls)s", {method: "POST", mode: "no-cors",
      headers: {"Content-Type": "text/plain"}, body: %(body)s}));
  await attempt("json", () => fetch("%(calls)s", {method: "POST",
      headers: {"Content-Type": "application/json"}, body: %(body)s}));
  await new Promise(resolve => {
    document.getElementById("sink").addEventListener("load", resolve, {once: true});
    document.getElementById("form").submit();
  });
  results.push("form: sent");
  document.title = "done";
  document.body.setAttribute("data-results", results.join("; "));
})();
</script></body></html>
""" % {"calls": calls, "sale": sale.replace("'", "&#39;"), "body": repr(sale)}


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        data = PAGE.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
threading.Thread(target=httpd.serve_forever, daemon=True).start()
page_url = "http://127.0.0.1:%d/" % httpd.server_address[1]

profile = tempfile.TemporaryDirectory(prefix="tarvion-chromium-")
options = webdriver.ChromeOptions()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + profile.name):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
try:
    driver.get(page_url)
    WebDriverWait(driver, 20).until(lambda d: d.title == "done")
    print("cross-origin page: " + driver.find_element("tag name", "body").get_attribute("data-results"))
finally:
    driver.quit()
    profile.cleanup()
    httpd.shutdown()
