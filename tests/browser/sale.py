"""A whole sale through tarvion serve's page in headless chromium.

Usage: sale.py URL PRINTER_ID
Opens the page, picks the printer, opens a receipt, registers two items, pays
in two forms, closes the receipt and waits until the page shows the paper with
the receipt on it. Exits non-zero (with the reason) when any step fails.
"""
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select, WebDriverWait

url, printer = sys.argv[1], sys.argv[2]

profile = tempfile.TemporaryDirectory(prefix="tarvion-chromium-")
options = webdriver.ChromeOptions()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + profile.name):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
wait = WebDriverWait(driver, 20)


def fill(field, value):
    element = driver.find_element(By.ID, field)
    element.clear()
    element.send_keys(value)


def step(button, expected):
    driver.find_element(By.ID, button).click()
    try:
        wait.until(EC.text_to_be_present_in_element((By.ID, "message"), expected))
    except Exception:
        raise SystemExit("after %s the page says %r, expected %r" %
                         (button, driver.find_element(By.ID, "message").text, expected))


try:
    driver.get(url)
    wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "1")
    Select(driver.find_element(By.ID, "printer")).select_by_value(printer)

    step("open", "Cupom aberto")
    for code, desc, tax, qty, price in (("7891000100103", "CAFE TORRADO 500G", "18", "2", "10.50"),
                                        ("7891000200200", "ARROZ TIPO 1 5KG", "7", "1", "24.90")):
        fill("code", code)
        fill("desc", desc)
        fill("tax", tax)
        fill("qty", qty)
        fill("price", price)
        step("add", "Item registrado: " + desc)
    if driver.find_element(By.ID, "total").text != "45.90":
        raise SystemExit("total on the page: " + driver.find_element(By.ID, "total").text)

    fill("payType", "Dinheiro")
    fill("payValue", "20.00")
    step("pay", "Pagamento registrado")
    fill("payType", "Cartao")
    fill("payValue", "25.90")
    step("pay", "Pagamento registrado")
    step("close", "Cupom fechado: COO")

    # The paper pane follows the printer by itself.
    wait.until(EC.text_to_be_present_in_element((By.ID, "paper"), "OBRIGADO PELA PREFERENCIA"))
    paper = driver.find_element(By.ID, "paper").text
    for expected in ("CAFE TORRADO 500G", "ARROZ TIPO 1 5KG", "Dinheiro", "Cartao", "45,90"):
        if expected not in paper:
            raise SystemExit("the paper on the page lacks %r:\n%s" % (expected, paper))
    print("browser sale: " + driver.find_element(By.ID, "message").text)
finally:
    driver.quit()
    profile.cleanup()
