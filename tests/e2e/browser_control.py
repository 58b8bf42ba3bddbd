#!/usr/bin/env python3
"""Drives the example control page in headless Chromium: serves the page from a loopback origin,
presses Dial and prints the refusal the page shows (Click to dial is still off), waits for a line
on stdin, presses Dial again, waits for "connected", presses Hang Up and prints the seconds the
page shows.
Usage: browser_control.py PAGE_FILE PAGE_PORT CONTROL_PORT TOKEN NUMBER"""
import functools
import http.server
import os
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def main():
    page, page_port, control_port, token, number = sys.argv[1:6]
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=os.path.dirname(page))
    handler.log_message = lambda *args: None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(page_port)), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu"):
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        browser.get(f"http://127.0.0.1:{page_port}/{os.path.basename(page)}")
        field = lambda name: browser.find_element(By.ID, name)
        field("control-url").clear()
        field("control-url").send_keys(f"http://127.0.0.1:{control_port}")
        field("token").send_keys(token)
        field("number").send_keys(number)
        field("dial").click()
        WebDriverWait(browser, 20).until(lambda b: field("request-outcome").text != "")
        print("REFUSED " + field("request-outcome").text, flush=True)
        sys.stdin.readline()
        field("dial").click()
        WebDriverWait(browser, 20).until(lambda b: field("call-state").text == "connected")
        print("CONNECTED", flush=True)
        # The call runs a moment, so its seconds are not all zero.
        time.sleep(2.2)
        field("hangup").click()
        WebDriverWait(browser, 20).until(lambda b: field("call-seconds").text != "")
        print("SECONDS=" + field("call-seconds").text, flush=True)
    finally:
        browser.quit()
        server.shutdown()


if __name__ == "__main__":
    main()
