#!/usr/bin/python3
"""Tests of `hivemender ui` over a copy of the demo machine.

    ui_test.py security HOST DEMO          forbidden requests are refused and change nothing
    ui_test.py browser HOST DEMO [SHOTS]   the page in headless Chromium; screenshots into SHOTS
    ui_test.py measure HOST MACHINE        first paint and group expansion on a big machine
    ui_test.py wine HOST PLUGIN WINE       the Windows build in Wine's prefix: page, key, scan, fix

The browser case needs chromium, chromium-driver and python3-selenium; it
exits 77 (skipped) when they are missing.
"""
import http.client
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

SECTIONS = ["user software", "machine software", "classes", "fonts", "startup", "sounds",
            "uninstall", "services", "app paths", "shared DLLs", "help files"]


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def expected_counts(demo_dir):
    """Problems per section name in the demo's expected scan report."""
    raw = open(os.path.join(os.path.dirname(__file__), "..", "e2e", "expected", "scan.raw"),
               encoding="utf-8").read()
    counts = {}
    for section in re.findall(r'"section": "(\d+)"', raw):
        name = SECTIONS[int(section)]
        counts[name] = counts.get(name, 0) + 1
    return counts


class Ui:
    """A running `hivemender --machine COPY ui --no-browser`."""

    def __init__(self, host, machine, scratch, command=None):
        self.host, self.machine = host, machine
        command = command or [host, "--machine", machine]
        self.process = subprocess.Popen(command + ["ui", "--no-browser"], cwd=scratch,
                                        stdout=subprocess.PIPE, stderr=open(os.path.join(scratch, "ui.err"), "w"),
                                        text=True)
        line = self.process.stdout.readline()
        if not line.startswith("page: http://127.0.0.1:"):
            self.process.wait(timeout=30)
            said = open(os.path.join(scratch, "ui.err")).read().strip()
            fail("ui printed no address: %r (exit %s; %s)" % (line, self.process.returncode, said))
        self.address = line[len("page: "):].strip()
        parsed = urllib.parse.urlparse(self.address)
        self.port, self.key = parsed.port, urllib.parse.parse_qs(parsed.query)["key"][0]
        self.origin = "http://127.0.0.1:%d" % self.port
        self.cookie = "hm_session=" + self.key

    def request(self, method, path, body=None, **headers):
        """(status, headers, answer) of one request; every header can be overridden."""
        sent = {"Host": "127.0.0.1:%d" % self.port, "Cookie": self.cookie}
        if method == "POST":
            sent.update({"Origin": self.origin, "Content-Type": "application/json"})
        sent.update({k.replace("_", "-"): v for k, v in headers.items()})
        sent = {k: v for k, v in sent.items() if v is not None}
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        connection.request(method, path, body=None if body is None else
                           body if isinstance(body, str) else json.dumps(body), headers=sent)
        response = connection.getresponse()
        text = response.read().decode("utf-8")
        connection.close()
        try:
            answer = json.loads(text)
        except ValueError:
            answer = text
        return response.status, dict(response.getheaders()), answer

    def must(self, method, path, body=None):
        status, _, answer = self.request(method, path, body)
        if status != 200:
            fail("%s %s: %d %s" % (method, path, status, answer))
        return answer

    def cli(self, *arguments):
        return subprocess.run([self.host, "--machine", self.machine] + list(arguments),
                              capture_output=True, text=True)

    def quit(self):
        self.request("POST", "/api/quit", {})
        if self.process.wait(timeout=20) != 0:
            fail("ui exited with %d" % self.process.returncode)


def machine_state(machine):
    """What a change would alter: the registry and every file but the remembered scan."""
    files = {}
    for folder, _, names in os.walk(machine):
        for name in names:
            if name != "last scan.txt":
                path = os.path.join(folder, name)
                files[os.path.relpath(path, machine)] = open(path, "rb").read()
    return files


def security(ui):
    before = machine_state(ui.machine)
    page = "127.0.0.1:%d" % ui.port
    forbidden = [  # what, method, path, body, headers, expected status
        ("no cookie", "GET", "/api/machine", None, {"Cookie": None}, 403),
        ("no cookie, a change", "POST", "/api/scan", {}, {"Cookie": None}, 403),
        ("a wrong key", "GET", "/?key=" + ("1" if ui.key[0] == "0" else "0") + ui.key[1:], None, {"Cookie": None}, 403),
        ("a wrong cookie", "GET", "/", None, {"Cookie": "hm_session=" + "0" * len(ui.key)}, 403),
        ("a rebound host name", "GET", "/api/machine", None, {"Host": "attacker.example:%d" % ui.port}, 403),
        ("another port", "GET", "/", None, {"Host": "127.0.0.1:1"}, 403),
        ("the other loopback name (allowed)", "GET", "/api/machine", None, {"Host": "localhost:%d" % ui.port}, 200),
        ("an Origin of the other name", "POST", "/api/scan", {}, {"Origin": "http://localhost:%d" % ui.port}, 403),
        ("no Origin", "POST", "/api/scan", {}, {"Origin": None}, 403),
        ("a foreign Origin", "POST", "/api/exclusions", {"add": "HKLM\\SOFTWARE"}, {"Origin": "http://attacker.example"}, 403),
        ("a null Origin", "POST", "/api/scan", {}, {"Origin": "null"}, 403),
        ("a form post", "POST", "/api/scan", "a=b", {"Content-Type": "application/x-www-form-urlencoded"}, 415),
        ("a text post", "POST", "/api/scan", "{}", {"Content-Type": "text/plain"}, 415),
        ("a body that is no object", "POST", "/api/fix", "[1]", {}, 415),
        ("a GET of a change", "GET", "/api/scan", None, {}, 404),
        ("a GET that would quit", "GET", "/api/quit", None, {}, 404),
        ("a PUT", "PUT", "/api/exclusions", {"add": "HKLM\\SOFTWARE"}, {"Origin": "http://" + page, "Content-Type": "application/json"}, 405),
        ("a DELETE", "DELETE", "/api/exclusions", None, {}, 405),
        ("a fix before any scan", "POST", "/api/fix", {"scan": 0, "ids": [0]}, {}, 422),
        ("a restore of a path", "POST", "/api/restore", {"file": "../../../../../machine.reg"}, {}, 422),
        ("a fix of a bad shape", "POST", "/api/fix", {"scan": "x"}, {}, 400),
    ]
    for what, method, path, body, headers, status in forbidden:
        got, answer_headers, answer = ui.request(method, path, body, **headers)
        if got != status:
            fail("%s: %s %s answered %d, expected %d (%s)" % (what, method, path, got, status, answer))
        if "Access-Control-Allow-Origin" in answer_headers:
            fail(what + ": a CORS header was sent")
    if machine_state(ui.machine) != before:
        fail("a refused request changed the machine")
    if os.path.exists(os.path.join(ui.machine, "drives/C/Program Files (x86)/Hivemender/Undo/Hivemender/last scan.txt")):
        fail("a refused request ran a scan")
    _, headers, _ = ui.request("GET", "/")
    if "script-src 'self'" not in headers.get("Content-Security-Policy", ""):
        fail("the page has no strict Content-Security-Policy")
    status, headers, _ = ui.request("GET", "/?key=" + ui.key, Cookie=None)
    cookie = headers.get("Set-Cookie", "")
    if status != 303 or "HttpOnly" not in cookie or "SameSite=Strict" not in cookie:
        fail("the key is not exchanged for a strict cookie: %d %s" % (status, cookie))

    # The selection fixed is the one the page showed: a fix the command line
    # made since (of the scan the page remembered) is seen, and refused.
    scan = ui.must("POST", "/api/scan", {})
    first = scan["report"]["problems"][0]
    done = ui.cli("--raw", "fix", "--select", "0")
    if done.returncode != 0:
        fail("the command line could not fix the page's problem 0: " + done.stderr)
    status, _, answer = ui.request("POST", "/api/fix", {"scan": scan["scan"], "ids": [0, 1]})
    if status != 422 or "is no longer found" not in answer["error"] or first["key path"] not in answer["error"]:
        fail("a fix of a problem fixed meanwhile: %d %s" % (status, answer))
    newer = ui.must("POST", "/api/scan", {})
    status, _, answer = ui.request("POST", "/api/fix", {"scan": scan["scan"], "ids": [0]})
    if status != 422 or "out of date" not in answer["error"]:
        fail("a fix of a replaced list: %d %s" % (status, answer))
    fixed = ui.must("POST", "/api/fix", {"scan": newer["scan"], "ids": [0]})
    if fixed["report"]["fixes"][0]["key path"] != newer["report"]["problems"][0]["key path"] or "undo file" not in fixed:
        fail("the page's fix: %s" % fixed)
    ui.quit()


def browser(ui, counts, shots):
    try:
        from selenium import webdriver
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import WebDriverWait
    except ImportError:
        print("skipped: python3-selenium is not installed")
        sys.exit(77)
    if not shutil.which("chromedriver"):
        print("skipped: chromium-driver is not installed")
        sys.exit(77)
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1024,900",
                     "--disable-dev-shm-usage"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options)
    wait = WebDriverWait(driver, 60)
    by_id = lambda name: driver.find_element(By.ID, name)

    def until_text(name, pattern):
        wait.until(lambda d: re.search(pattern, by_id(name).text))
        return by_id(name).text

    def idle():
        wait.until(lambda d: not by_id("scan").get_attribute("disabled"))

    def scan():
        shown = by_id("groups").get_attribute("data-scan")
        by_id("scan").click()
        wait.until(lambda d: by_id("groups").get_attribute("data-scan") != shown)
        idle()
        return by_id("summary").text

    def confirm():
        wait.until(lambda d: by_id("confirm").get_attribute("open") is not None)
        by_id("confirm-yes").click()
        idle()

    def expand(section):
        button = driver.find_element(By.CSS_SELECTOR, ".group-head button[aria-controls='group-%d']" % section)
        if button.get_attribute("aria-expanded") != "true":
            button.click()

    try:
        driver.get(ui.address)
        until_text("machine", r"^machine: machine ")
        if driver.current_url.find("key=") >= 0:
            fail("the secret stays in the address bar")
        total = sum(counts.values())
        summary = scan()
        if not summary.startswith("%d problems in %d sections" % (total, len(counts))):
            fail("the page says %r, expected %d problems in %d sections" % (summary, total, len(counts)))
        groups = sorted(b.text for b in driver.find_elements(By.CSS_SELECTOR, ".group-head button"))
        if groups != sorted("%s (%d)" % (name, n) for name, n in counts.items()):
            fail("groups %s, expected %s" % (groups, counts))
        # One explanation, as scan --explain gives it.
        expand(4)
        driver.find_element(By.CSS_SELECTOR, "#group-4 td.actions button").click()
        idle()
        explanation = driver.find_element(By.CSS_SELECTOR, "#group-4 tr.explain").text
        if "data: " not in explanation or "(missing)" not in explanation:
            fail("the explanation says: " + explanation)
        if shots:
            expand(2)
            take_screenshots(driver, shots)
        # Fix two problems, see them fixed and their undo file; restore it.
        boxes = driver.find_elements(By.CSS_SELECTOR, "#group-4 tbody input[type=checkbox]")
        boxes[0].click()
        boxes[1].click()
        by_id("fix").click()
        if "Fix 2 selected problems" not in by_id("confirm-text").text or "undo file" not in by_id("confirm-text").text:
            fail("the confirmation says: " + by_id("confirm-text").text)
        confirm()
        fixed = until_text("fix-summary", r"fixed")
        if not fixed.startswith("2 selected, 2 fixed.") or "Undo file: " not in fixed:
            fail("the fix report says: " + fixed)
        restores = wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#backups tbody button"))
        if len(restores) != 1:
            fail("%d backups listed after one fix" % len(restores))
        restores[0].click()
        confirm()
        until_text("summary", r"^restored ")
        if not scan().startswith("%d problems" % total):
            fail("after the restore the scan found: " + by_id("summary").text)
        # Never report a key: gone after a rescan.
        expand(1)
        key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fabrikam\\Sync"  # reported once, nothing below it
        row = [r for r in driver.find_elements(By.CSS_SELECTOR, "#group-1 tbody tr")
               if r.find_elements(By.TAG_NAME, "td")[2].text == key][0]
        row.find_elements(By.CSS_SELECTOR, "td.actions button")[1].click()
        idle()
        wait.until(lambda d: key in by_id("excluded").text)
        if not scan().startswith("%d problems" % (total - 1)):
            fail("excluding %s: the scan found %s" % (key, by_id("summary").text))
        # A stale selection: the command line fixes the page's problem first.
        expand(2)
        box = driver.find_element(By.CSS_SELECTOR, "#group-2 tbody input[type=checkbox]")
        box.click()
        chosen = int(driver.find_element(By.CSS_SELECTOR, "#group-2 tbody tr").get_attribute("data-id"))
        if ui.cli("--raw", "fix", "--select", str(chosen)).returncode != 0:
            fail("the command line's fix failed")
        by_id("fix").click()
        confirm()
        message = until_text("message", r"no longer found")
        if "Nothing was fixed" not in message:
            fail("a stale selection: " + message)
        check_keyboard(driver, By, Keys)
    finally:
        driver.quit()
    ui.quit()


def check_keyboard(driver, By, Keys):
    """Tab reaches every control, and each has a name a screen reader reads."""
    driver.find_element(By.TAG_NAME, "body").click()
    controls = [e for e in driver.find_elements(By.CSS_SELECTOR, "button, input, select")
                if e.is_displayed() and e.is_enabled()]
    reached = set()
    active = None
    for _ in range(len(controls) + 40):
        active = driver.switch_to.active_element
        active.send_keys(Keys.TAB)
        active = driver.switch_to.active_element
        if active.tag_name in ("button", "input", "select"):
            if not active.accessible_name.strip():
                fail("a control without an accessible name: " + active.get_attribute("outerHTML")[:200])
            reached.add(active.id)
    missed = [c.get_attribute("outerHTML")[:120] for c in controls if c.id not in reached]
    if missed:
        fail("Tab never reaches: %s" % missed[:3])


def take_screenshots(driver, shots):
    os.makedirs(shots, exist_ok=True)
    for scheme in ["light", "dark"]:
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                               {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
        driver.set_window_size(1024, 900)
        driver.save_screenshot(os.path.join(shots, "ui-%s.png" % scheme))
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


def measure(ui):
    """Milliseconds the browser takes to draw the scan's list (the grouped
    headings) and to open its largest group; the engine's scan is not
    counted. Printed, never asserted."""
    from selenium import webdriver
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--window-size=1024,900"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(options=options)
    next_frame = "const done = arguments[arguments.length - 1]; const start = performance.now();" \
                 "%s; requestAnimationFrame(() => setTimeout(() => done(performance.now() - start)));"
    try:
        driver.set_script_timeout(600)
        driver.get(ui.address)
        WebDriverWait(driver, 60).until(lambda d: d.find_element(By.ID, "machine").text.startswith("machine:"))
        driver.find_element(By.ID, "scan").click()
        WebDriverWait(driver, 3600).until(lambda d: "problems in" in d.find_element(By.ID, "summary").text)
        print(driver.find_element(By.ID, "summary").text)
        print("first paint of the list: %.0f ms" % driver.execute_async_script(next_frame % "renderProblems()"))
        biggest = max(driver.find_elements(By.CSS_SELECTOR, ".group-head button"),
                      key=lambda b: int(re.search(r"\((\d+)\)", b.text).group(1)))
        name = biggest.text
        print("expanding %s: %.0f ms" % (name, driver.execute_async_script(next_frame % "arguments[0].click()", biggest)))
    finally:
        driver.quit()
    ui.quit()


PLANTED = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\hm-ui-gone.exe"


def wine(ui, scratch):
    """The Windows transport: the same answers, and a scan and a fix through it."""
    status, headers, _ = ui.request("GET", "/?key=" + ui.key, Cookie=None)
    if status != 303 or "SameSite=Strict" not in headers.get("Set-Cookie", ""):
        fail("the key is not exchanged for a strict cookie: %d %s" % (status, headers))
    status, headers, page = ui.request("GET", "/")
    if status != 200 or "<html" not in page or "script-src 'self'" not in headers.get("Content-Security-Policy", ""):
        fail("the page: %d %s" % (status, headers))
    # A foreign Host never reaches us here: the driver routes by it, and
    # Wine's leaves such a request unanswered.
    for what, headers, expected in [("no cookie", {"Cookie": None}, 403), ("no Origin", {"Origin": None}, 403),
                                    ("a text post", {"Content-Type": "text/plain"}, 415)]:
        if ui.request("POST", "/api/scan", {}, **headers)[0] != expected:
            fail(what + " was not refused")
    scan = ui.must("POST", "/api/scan", {})
    planted = [p for p in scan["report"]["problems"] if p["key path"] == PLANTED]
    if len(planted) != 1:
        fail("the planted App Paths entry was not reported once: %d" % len(planted))
    fixed = ui.must("POST", "/api/fix", {"scan": scan["scan"], "ids": [int(planted[0]["id"])]})
    fixes = fixed["report"]["fixes"]
    if [f["key path"] for f in fixes] != [PLANTED] or fixes[0]["fixed"] != "true" or "failed" in fixed:
        fail("the fix: %s" % fixed)
    undo = [os.path.join(folder, fixed.get("undo file", "?")) for folder, _, names in os.walk(scratch)
            if fixed.get("undo file") in names]
    if len(undo) != 1 or b"hm-ui-gone.exe" not in open(undo[0], "rb").read().replace(b"\0", b""):
        fail("no undo file holding the planted key: %s" % fixed.get("undo file"))
    if any(p["key path"] == PLANTED for p in ui.must("POST", "/api/scan", {})["report"]["problems"]):
        fail("the planted entry is still reported after its fix")
    ui.quit()


def run_wine(host, plugin, emulator):
    """Plants one broken App Paths entry in the prefix and always removes it."""
    scratch = tempfile.mkdtemp(prefix="hivemender-ui.")
    # Not captured: a Wine program that starts the session passes its output
    # on to the session's processes, which outlive it.
    reg = lambda *arguments: subprocess.run([emulator, "reg"] + list(arguments) + ["/f"],
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for program in (host, plugin):
            shutil.copy(program, scratch)
        if reg("add", PLANTED, "/ve", "/d", r"C:\hm-ui-nowhere\gone.exe").returncode != 0:
            fail("could not plant the broken entry")
        ui = Ui(host, None, scratch, [emulator, os.path.join(scratch, os.path.basename(host))])
        try:
            wine(ui, scratch)
        finally:
            if ui.process.poll() is None:
                ui.process.kill()
    finally:
        reg("delete", PLANTED)
        shutil.rmtree(scratch, ignore_errors=True)
    print("passed: ui wine")


def main():
    if len(sys.argv) < 4:
        print(__doc__)
        sys.exit(2)
    case, host, source = sys.argv[1:4]
    if case == "wine":
        return run_wine(host, source, sys.argv[4])
    scratch = tempfile.mkdtemp(prefix="hivemender-ui.")
    try:
        machine = os.path.join(scratch, "machine")
        if case == "measure":
            machine = source  # a generated machine is big: used in place
        else:
            shutil.copytree(source, machine)
        ui = Ui(host, machine, scratch)
        try:
            if case == "security":
                security(ui)
            elif case == "browser":
                browser(ui, expected_counts(source), sys.argv[4] if len(sys.argv) > 4 else None)
            elif case == "measure":
                measure(ui)
            else:
                fail("unknown case " + case)
        finally:
            if ui.process.poll() is None:
                ui.process.kill()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("passed: ui " + case)


if __name__ == "__main__":
    main()
