#!/usr/bin/python3
"""The settings page as a person uses it: busybox httpd serves dormix-web with
basic authentication beside the daemon, in private mount and pid namespaces
(run under "unshare -m -p -f --mount-proc"), and headless Chromium drives it.
Then the attacks, each through the same server.

Usage: e2e.py BUILD_DIR SOURCE_DIR OUTPUT_DIR
OUTPUT_DIR gets the screenshots and the log."""
import base64
import hashlib
import html.parser
import http.client
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

BUILD, SOURCE, OUTPUT = (os.path.abspath(a) for a in sys.argv[1:4])
SCRATCH = "/run/web-e2e"  # inside the private /run
SETTINGS = "/opt/dormix/etc/settings"
SECRET = "/opt/dormix/etc/web.secret"
SWITCH = "/opt/dormix/etc/web.no-remote-user"
PORT = 8080
HOST = f"127.0.0.1:{PORT}"
# The prefix and account of README's uhttpd realm file, which is in busybox
# httpd's format; the password is this test's, not root's system one ($p$).
REALM_PREFIX, USER = re.search(r"^(/cgi-bin/\S+):(\w+):\$p\$\2$",
                               open(f"{SOURCE}/README.md").read(), re.M).groups()
PASSWORD = "router-pass"
AUTH = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
PAGE = "/cgi-bin/dormix-web"
failures = []
log_messages = []


def check(holds, what):
    print(("ok   " if holds else "FAIL ") + what, flush=True)
    if not holds:
        failures.append(what)


def run(*command, **options):
    return subprocess.run(command, check=True, **options)


def overlay(target, upper_files):
    """Puts files over a directory tree, read-write in this namespace only."""
    name = target.strip("/").replace("/", "-")
    upper, work = f"{SCRATCH}/{name}-upper", f"{SCRATCH}/{name}-work"
    os.makedirs(upper)
    os.makedirs(work)
    for path, (content, mode) in upper_files.items():
        full = upper + path[len(target):]
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content)
        os.chmod(full, mode)
    run("mount", "-t", "overlay", "overlay", "-o",
        f"lowerdir={target},upperdir={upper},workdir={work}", target)


def private_dev():
    """A fresh /dev with the usual nodes and a /dev/log read by this script."""
    keep = f"{SCRATCH}/dev-keep"
    os.makedirs(keep)
    run("mount", "--bind", "/dev", keep)
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/dev")
    for node in ("null", "zero", "full", "random", "urandom", "tty"):
        open(f"/dev/{node}", "w").close()
        run("mount", "--bind", f"{keep}/{node}", f"/dev/{node}")
    os.makedirs("/dev/shm")
    run("mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/dev/shm")
    os.makedirs("/dev/pts")
    run("mount", "-t", "devpts", "-o", "newinstance,ptmxmode=0666", "devpts", "/dev/pts")
    os.symlink("pts/ptmx", "/dev/ptmx")
    run("umount", "-l", keep)
    syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog.bind("/dev/log")
    os.chmod("/dev/log", 0o666)

    def read_log():
        while True:
            log_messages.append(syslog.recv(4096).decode(errors="replace"))

    threading.Thread(target=read_log, daemon=True).start()


def init_script():
    with open(f"{SOURCE}/packaging/dormix.init.sysv.in") as f:
        text = f.read()
    text = text.replace("@SBINDIR@", "/usr/sbin").replace("@SETTINGS@", SETTINGS)
    return text.encode()


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


FIRST_SETTINGS = (
    b"# <script>alert('from the file')</script>=1\r\n"
    b"MOD_DORMIX_ENABLED=1\r\n"
    b"MOD_DORMIX_SLEEP_TIME0_ENABLED=1\r\n"
    b"MOD_DORMIX_SLEEP_TIME0_HOUR=\"23\" # late\r\n"
    b"\r\n"
    b"OTHER_MODULE_KEY=<img src=x onerror=alert(1)>\r\n"
    b"MOD_DORMIX_SLEEP_TIME0_HOURS=5\r\n"
    b"MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\r\n"
    b"MOD_DORMIX_WAKEUP_DELAY0_SECOND=3600\r\n")


def set_up():
    os.makedirs(SCRATCH, exist_ok=True)
    run("mount", "--make-rprivate", "/")
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/run")
    os.makedirs(SCRATCH)
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/opt")
    os.makedirs("/opt/dormix/etc", mode=0o755)
    with open(SETTINGS, "wb") as f:
        f.write(FIRST_SETTINGS)
    os.chmod(SETTINGS, 0o640)
    private_dev()
    lpm = b"#!/bin/sh\necho \"lpm $*\" >> /run/web-e2e/lpm.log\nsleep 1\n"
    status = (b"#!/bin/sh\n[ \"$2\" = ports ] || exit 1\n"
              b"echo 'Binary Input 0: off'\necho 'Binary Input 1: off'\n")
    overlay("/usr", {
        "/usr/sbin/dormix": (read(f"{BUILD}/dormix"), 0o755),
        "/usr/sbin/dormix-check": (read(f"{BUILD}/tools/check/dormix-check"), 0o755),
        # The init-script helpers: the checker under their names.
        "/usr/sbin/dormix-enabled": (read(f"{BUILD}/tools/check/dormix-check"), 0o755),
        "/usr/sbin/dormix-wait-clock": (read(f"{BUILD}/tools/check/dormix-check"), 0o755),
        "/usr/sbin/lpm": (lpm, 0o755),
        "/usr/bin/status": (status, 0o755),
    })
    # The init script waits for a synchronised clock, which this machine's
    # may never report: no wait here.
    overlay("/etc", {"/etc/init.d/dormix": (init_script(), 0o755),
                     "/etc/default/dormix": (b"CLOCK_WAIT=0\n", 0o644)})
    www = f"{SCRATCH}/www"
    os.makedirs(f"{www}/cgi-bin")
    shutil.copy(f"{BUILD}/web/dormix-web", f"{SCRATCH}/dormix-web")
    # The page runs through a wrapper that the kill tests use to stop it at
    # one system call; without a step file it runs the program as it is.
    with open(f"{www}/cgi-bin/dormix-web", "w") as f:
        f.write("#!/bin/sh\n"
                f"[ -f {SCRATCH}/kill-step ] || exec {SCRATCH}/dormix-web\n"
                f"read -r call when < {SCRATCH}/kill-step\n"
                f"exec strace -o /dev/null -e trace=$call -e inject=$call:signal=KILL:when=$when "
                f"{SCRATCH}/dormix-web\n")
    os.chmod(f"{www}/cgi-bin/dormix-web", 0o755)
    with open(f"{SCRATCH}/httpd.conf", "w") as f:
        f.write(f"{REALM_PREFIX}:{USER}:{PASSWORD}\n")
    env = dict(os.environ, TZ="Europe/Berlin")
    server = subprocess.Popen(["busybox", "httpd", "-f", "-p", HOST, "-h", www, "-c",
                               f"{SCRATCH}/httpd.conf"], env=env)
    run("/etc/init.d/dormix", "start", stdout=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
            break
        except OSError:
            time.sleep(0.1)
    return server


def daemon_pid():
    try:
        return int(read("/run/dormix.pid").strip())
    except (OSError, ValueError):
        return 0


def started_count():
    return sum(1 for m in log_messages if m.endswith("started"))


def request(method, body=b"", headers=None, auth=True, path=PAGE):
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=60)
    all_headers = {"Host": HOST}
    if auth:
        all_headers["Authorization"] = AUTH
    all_headers.update(headers or {})
    connection.request(method, path, body=body, headers=all_headers)
    response = connection.getresponse()
    data = response.read()
    connection.close()
    return response.status, dict(response.getheaders()), data.decode(errors="replace")


class FormFields(html.parser.HTMLParser):
    """The fields a browser sends for the page's form, as the page drew them:
    hidden and typed values, ticked checkboxes only, the chosen option."""

    def __init__(self):
        super().__init__()
        self.fields, self.select = {}, None

    def handle_starttag(self, tag, attributes):
        a = dict(attributes)
        if tag == "input" and "name" in a:
            if a.get("type") != "checkbox" or "checked" in a:
                self.fields[a["name"]] = a.get("value") or ""
        elif tag == "select":
            self.select = a.get("name")
        elif tag == "option" and self.select and ("selected" in a or self.select not in
                                                   self.fields):
            self.fields[self.select] = a.get("value", "")

    def handle_endtag(self, tag):
        if tag == "select":
            self.select = None


def form_of(page):
    """The form's fields as the page filled them in."""
    parser = FormFields()
    parser.feed(page)
    return parser.fields


def post_form(fields, headers=None):
    body = urllib.parse.urlencode(fields).encode()
    all_headers = {"Content-Type": "application/x-www-form-urlencoded",
                   "Origin": f"http://{HOST}"}
    all_headers.update(headers or {})
    return request("POST", body, {k: v for k, v in all_headers.items() if v is not None})


def attacks():
    before = read(SETTINGS)
    status, headers, page = request("GET", auth=False)
    check(status == 401, f"no credentials: the server answers {status}")
    wrong = base64.b64encode(f"{USER}:wrong".encode()).decode()
    status, _, _ = request("GET", headers={"Authorization": "Basic " + wrong}, auth=False)
    check(status == 401, f"a wrong password: the server answers {status}")
    status, headers, page = request("GET")
    check(status == 200, "the page loads with credentials")
    for header, wanted in (("Content-Security-Policy", "default-src 'none'"),
                           ("X-Frame-Options", "DENY"), ("X-Content-Type-Options", "nosniff"),
                           ("Referrer-Policy", "no-referrer"), ("Cache-Control", "no-store")):
        check(wanted in headers.get(header, ""), f"header {header}: {headers.get(header)}")
    check("script-src" not in headers.get("Content-Security-Policy", "") and
          "unsafe-inline" not in headers.get("Content-Security-Policy", ""),
          "the policy allows no script and no unsafe inline style")
    check("<script" not in page and "&lt;script&gt;alert(&#39;from the file&#39;)" in page,
          "markup inside the settings file is shown as text")
    check("<img" not in page, "an unknown key's markup is escaped")
    fields = form_of(page)
    forged = dict(fields, token="0" * 64, sleep_time="01:00")
    status, _, text = post_form(forged)
    check(status == 403, f"a forged token: {status} {text.strip()}")
    other_user = dict(fields, sleep_time="01:00")
    status, _, _ = post_form(other_user, {"Origin": "http://evil.example"})
    check(status == 403, f"a wrong Origin: {status}")
    status, _, _ = post_form(other_user, {"Origin": None,
                                          "Referer": "http://evil.example/cgi-bin/dormix-web"})
    check(status == 403, f"a wrong Referer: {status}")
    # A page with Referrer-Policy no-referrer posts with "Origin: null", which
    # names no host: the token decides.
    status, _, _ = post_form(dict(forged), {"Origin": "null"})
    check(status == 403, f"Origin null with a forged token: {status}")
    big = b"MOD_DORMIX_ENABLED=" + b"1" * 20000
    status, _, _ = request("POST", big, {"Content-Type": "application/x-www-form-urlencoded"})
    check(status == 413, f"an oversized body: {status}")
    for name, replaced, body in (
            ("bad percent-encoding", "MOD_DORMIX_ENABLED", "MOD_DORMIX_ENABLED=%zz"),
            ("a NUL byte", "MOD_DORMIX_ENABLED", "MOD_DORMIX_ENABLED=1%00"),
            ("an unknown field", None, "MOD_DORMIX_ENABLE=1"),
            ("a repeated field", "hash", "hash=a&hash=b"),
            ("a missing field", "token", ""),
            ("non-digits in a number", "MOD_DORMIX_ENABLED", "MOD_DORMIX_ENABLED=1;reboot"),
            ("a negative number", "MOD_DORMIX_ENABLED", "MOD_DORMIX_ENABLED=-1"),
            ("markup in a number", "MOD_DORMIX_ENABLED", "MOD_DORMIX_ENABLED=%3Cb%3E"),
            ("a time past the day", "sleep_time", "sleep_time=24%3A00"),
            ("a checkbox with another value", "enabled", "enabled=on"),
            ("seconds not in digits", "sleep_delay", "sleep_delay=1e3")):
        kept = {k: v for k, v in fields.items() if k != replaced}
        fields_text = urllib.parse.urlencode(kept) + "&" + body
        status, _, text = request("POST", fields_text.encode(),
                                  {"Content-Type": "application/x-www-form-urlencoded"})
        check(status == 400, f"{name}: {status} {text.strip()}")
    status, _, _ = request("POST", urllib.parse.urlencode(other_user).encode(),
                           {"Content-Type": "text/plain"})
    check(status == 415, f"a text/plain body: {status}")
    status, _, _ = request("POST", urllib.parse.urlencode(other_user).encode(),
                           {"Content-Type": "multipart/form-data; boundary=x"})
    check(status == 415, f"a multipart body: {status}")
    status, _, _ = request("PUT", b"x=1", {"Content-Type": "application/x-www-form-urlencoded"})
    check(status in (400, 405, 501), f"PUT: {status}")
    status, _, page = request("GET", path=PAGE + "?sleep_time=02%3A00&hash=x")
    check(status == 200, "a GET with form fields in its query shows the page")
    check(read(SETTINGS) == before, "after every attack the file is byte for byte the same")
    # Where the installer's switch lets the page run without REMOTE_USER, Host
    # must name the router: a rebound name is refused, its own names pass.
    with open(SWITCH, "wb"):
        pass
    for host, wanted in ((f"evil.example:{PORT}", 403), (HOST, 200),
                         (f"localhost:{PORT}", 200)):
        status, _, text = request("GET", headers={"Host": host})
        check(status == wanted, f"switch on, Host {host}: {status} {text[:80].strip()}")
    os.unlink(SWITCH)
    status, _, _ = request("GET", headers={"Host": f"evil.example:{PORT}"})
    check(status == 200, f"switch off, the server's authentication decides: {status}")
    # A form more than an hour old is sent back, nothing written.
    env = {"REQUEST_METHOD": "GET", "REMOTE_USER": USER, "PATH": "/usr/bin:/bin"}
    old_page = subprocess.run(["faketime", "-f", "-2h", f"{SCRATCH}/dormix-web"], env=env,
                              capture_output=True).stdout.decode()
    status, _, text = post_form(dict(form_of(old_page), sleep_time="04:00"))
    check(status == 409 and "more than an hour old" in text and read(SETTINGS) == before,
          f"a form made two hours ago: sent back, nothing written ({status})")
    # Without REMOTE_USER the program refuses by itself, whatever the server does.
    env = {"REQUEST_METHOD": "GET", "PATH": "/usr/bin:/bin"}
    out = subprocess.run([f"{SCRATCH}/dormix-web"], env=env, capture_output=True).stdout
    check(out.startswith(b"Status: 403"), "no REMOTE_USER: the program answers 403")


def refusals_to_write():
    """Read-only where the program cannot write, or where others could."""
    status, _, page = request("GET")
    fields = form_of(page)
    before = read(SETTINGS)
    os.chmod(SETTINGS, 0o646)
    status, _, text = post_form(dict(fields, sleep_time="03:00"))
    _, _, page = request("GET")
    os.chmod(SETTINGS, 0o640)
    check(status == 403 and "writable by everyone" in text and read(SETTINGS) == before,
          f"a settings file others can write: the save is refused ({status})")
    check("Read-only:" in page and "Save and restart" not in page,
          "and the page is read-only and says why")
    os.chmod("/opt/dormix/etc", 0o775)
    status, _, text = post_form(dict(fields, sleep_time="03:00"))
    os.chmod("/opt/dormix/etc", 0o755)
    check(status == 403 and "the directory /opt/dormix/etc is writable by its group" in text
          and read(SETTINGS) == before,
          f"a directory above it that its group can write: refused ({status})")
    os.chmod(SETTINGS, 0o644)
    env = {"REQUEST_METHOD": "GET", "REMOTE_USER": USER, "PATH": "/usr/bin:/bin"}
    page = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                           f"{SCRATCH}/dormix-web"], env=env, capture_output=True).stdout.decode()
    os.chmod(SETTINGS, 0o640)
    check(page.startswith("Status: 200") and "Read-only:" in page and "cannot write" in page,
          "run as another user the page is read-only and says why")


def week_across_daylight_saving():
    """The plan of a week in which the clocks go forward, at the program's clock."""
    saved = read(SETTINGS)
    with open(SETTINGS, "wb") as f:
        f.write(b"MOD_DORMIX_SLEEP_TIME0_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=2\n"
                b"MOD_DORMIX_SLEEP_TIME0_MINUTE=30\nMOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\n"
                b"MOD_DORMIX_WAKEUP_DELAY0_SECOND=600\n")
    env = {"REQUEST_METHOD": "GET", "REMOTE_USER": USER, "TZ": "Europe/Berlin",
           "PATH": "/usr/bin:/bin"}
    page = subprocess.run(["faketime", "2026-03-26 12:00:00", f"{SCRATCH}/dormix-web"], env=env,
                          capture_output=True).stdout.decode()
    with open(SETTINGS, "wb") as f:
        f.write(saved)
    rows = re.findall(r"<tr><td>([^<]*)</td><td><code>([^<]*)</code>", page)
    days = [when for when, _ in rows]
    check(len(rows) == 7 and "2026-03-29 03:00:00 CEST" in days and
          "2026-03-28 02:30:00 CET" in days and "2026-03-30 02:30:00 CEST" in days,
          f"the week across the change to summer time: {days}")
    check(all(command == "/usr/sbin/lpm -i 600" for _, command in rows),
          "each firing with its lpm command line")
    check("daylight-saving" in page, "and the checker's daylight-saving warning")
    bars = dict(re.findall(r'<span class="day">([^<]*)</span><svg.*?<span class="times">([^<]*)',
                           page))
    check(bars.get("Sun 2026-03-29") == "sleeps 03:00; wakes 03:10" and
          bars.get("Sat 2026-03-28") == "sleeps 02:30; wakes 02:40" and len(bars) == 7,
          f"the week's bars on the day the clocks go forward: {bars}")


def kill_at_each_step():
    """SIGKILL at each system call of the save, entered but not yet done: the
    file is then the old one or the new one, whole."""
    steps = (("fchown of the temporary file", "fchown", 1),
             ("fchmod of the temporary file", "fchmod", 1),
             ("write of the temporary file", "write", 1),
             ("fsync of the temporary file", "fsync", 1),
             ("rename over the settings file", "rename", 1),
             ("fsync of the directory", "fsync", 2))
    for name, syscall, when in steps:
        status, _, page = request("GET")
        fields = form_of(page)
        old = read(SETTINGS)
        hour = "7" if not fields["sleep_time"].startswith("07:") else "8"
        new = re.sub(rb"MOD_DORMIX_SLEEP_TIME0_HOUR=[0-9]+", b"MOD_DORMIX_SLEEP_TIME0_HOUR=" +
                     hour.encode(), old, count=1)
        with open(f"{SCRATCH}/kill-step", "w") as f:
            f.write(f"{syscall} {when}")
        try:
            status, _, _ = post_form(dict(fields, sleep_time=f"0{hour}" + fields["sleep_time"][2:]))
        except http.client.HTTPException:
            status = "nothing: the connection closed"
        os.unlink(f"{SCRATCH}/kill-step")
        now = read(SETTINGS)
        state = "old" if now == old else "new" if now == new else "neither old nor new"
        check(now in (old, new), f"killed at the {name}: the file is {state} and whole "
              f"(the server answered {status})")
        leftovers = [n for n in os.listdir("/opt/dormix/etc") if ".web-" in n]
        if leftovers:
            print(f"     left behind: {leftovers}")
    # The next save clears what the killed ones left.
    status, _, page = request("GET")
    fields = form_of(page)
    status, _, _ = post_form(dict(fields, sleep_time="06" + fields["sleep_time"][2:]))
    leftovers = [n for n in os.listdir("/opt/dormix/etc") if ".web-" in n]
    check(status == 200 and not leftovers, f"the next save removes the killed saves' files "
          f"({status}, {leftovers or 'none left'})")


def browser(width=1280, height=900):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={SCRATCH}/chromium-{time.time_ns()}",
                 f"--window-size={width},{height}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    authorize(driver)
    return driver


def authorize(driver):
    """The user's credentials on every request of the current tab."""
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setExtraHTTPHeaders", {"headers": {"Authorization": AUTH}})


def submit(driver):
    """Sends the form and waits for the answer's page."""
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    # The old document is marked, and the wait ends once a document without the mark has
    # loaded. Asking about an element of the old one instead races its teardown: Chromium
    # then answers "Node ... does not belong to the document", which is no staleness error.
    # While the tab navigates a script may fail the same way, so such errors mean "not yet".
    driver.execute_script("document.dormixSubmitted = true")
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
    WebDriverWait(driver, 60, ignored_exceptions=(WebDriverException,)).until(
        lambda d: d.execute_script(
            "return !document.dormixSubmitted && document.readyState === 'complete'"))


def screenshot(driver, width, path):
    # The page's height at this width, then the whole page in one picture.
    for _ in range(2):
        height = driver.execute_script("return document.documentElement.scrollHeight")
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": height, "deviceScaleFactor": 1,
                                "mobile": width < 600})
    data = driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png"})["data"]
    with open(path, "wb") as f:
        f.write(base64.b64decode(data))
    scroll = driver.execute_script("return document.documentElement.scrollWidth")
    if scroll > width:
        print("     too wide:", driver.execute_script(
            "return [...document.querySelectorAll('*')].filter(e => e.getBoundingClientRect()"
            ".right > arguments[0]).slice(-5).map(e => e.tagName + '.' + e.className + ' ' +"
            " e.getBoundingClientRect().right)", width))
    driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    return scroll


def axe(driver):
    source = read(f"{OUTPUT}/node_modules/axe-core/axe.min.js", "r")
    driver.execute_script(source)
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document).then(r => done(r.violations.map(v => v.id + ': ' + v.help + ' ' +"
        " v.nodes.map(n => n.target.join(' ')).join(', '))));")


def set_time(driver, control, value):
    """Sets a time field as a person picks a time; typing into one depends on
    the browser's locale."""
    from selenium.webdriver.common.by import By
    field = driver.find_element(By.ID, control)
    driver.execute_script("arguments[0].value = arguments[1];", field, value)


ODD_SETTINGS = (
    b"MOD_DORMIX_ENABLED=1\n"
    b"MOD_DORMIX_SLEEP_TIME0_ENABLED=7\n"
    b"MOD_DORMIX_SLEEP_TIME0_HOUR=25\n"
    b"MOD_DORMIX_SLEEP_TIME0_MINUTE=90\n"
    b"MOD_DORMIX_SLEEP_BIN0_ENABLED=1\n"
    b"MOD_DORMIX_SLEEP_BIN0_STATE=3\n"
    b"MOD_DORMIX_SLEEP_BIN0_SECOND=3000000000\n"
    b"MOD_DORMIX_WAKEUP_BIN_ENABLED=2\n")


def unshowable_values_are_kept(driver, url):
    """Values that no control can show are shown as the file holds them, and a
    save that changes another control keeps them byte for byte."""
    from selenium.webdriver.common.by import By
    saved = read(SETTINGS)
    with open(SETTINGS, "wb") as f:
        f.write(ODD_SETTINGS)
    try:
        driver.get(url)
        text = driver.find_element(By.TAG_NAME, "body").text
        check(driver.find_element(By.ID, "sleep_time").get_attribute("value") == "" and
              "The file holds hour 25 and minute 90" in text and "never fires" in text,
              "an hour of 25: the time field stays empty, the page says what the file holds "
              "and what the daemon makes of it")
        check("The file holds 7, which the daemon reads as on" in text and
              driver.find_element(By.ID, "sleep_time_on").is_selected(),
              "a switch of 7: ticked, and said as it is")
        check("The file holds 3000000000 s" in text and "3, as the file holds it" in text,
              "a hold that counts as negative and a level of 3 are shown as they are")
        violations = axe(driver)
        check(violations == [], f"axe-core with unshowable values: {violations or 'none'}")
        driver.find_element(By.ID, "wake_delay_on").click()
        field = driver.find_element(By.ID, "wake_delay")
        field.clear()
        field.send_keys("600")
        submit(driver)
        wanted = ODD_SETTINGS + b"MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\n" + \
            b"MOD_DORMIX_WAKEUP_DELAY0_SECOND=600\n"
        check(read(SETTINGS) == wanted, "a save of two other controls keeps them byte for byte")
        driver.get(url)
        submit(driver)
        check(read(SETTINGS) == wanted and "No value changed" in
              driver.find_element(By.TAG_NAME, "body").text,
              "a save of the page as it was drawn writes nothing")
    finally:
        with open(SETTINGS, "wb") as f:
            f.write(saved)


def browse():
    from selenium.webdriver.common.by import By
    url = f"http://{HOST}{PAGE}"
    driver = browser()
    try:
        driver.get(url)
        text = driver.find_element(By.TAG_NAME, "body").text
        check("dormix settings" in driver.title, "the browser loads the page")
        check(not driver.find_elements(By.TAG_NAME, "script"), "the page has no script element")
        rows = driver.find_elements(By.CSS_SELECTOR, "table tbody tr")
        check(len(rows) == 7 and all("/usr/sbin/lpm -i" in r.text for r in rows),
              f"the 7-day plan: {len(rows)} firings, each with its lpm command line")
        top = driver.find_element(By.XPATH, "//section[h2[@id='file']]").text
        check("unknown key \"MOD_DORMIX_SLEEP_TIME0_HOURS\"" in top,
              "the finding about a misspelt key is on top")
        time_field = driver.find_element(By.ID, "sleep_time")
        check(time_field.get_attribute("type") == "time" and
              time_field.get_attribute("value") == "23:00", "the sleep time field shows 23:00")
        check(driver.find_element(By.ID, "sleep_time_on").is_selected() and
              not driver.find_element(By.ID, "sleep_delay_on").is_selected(),
              "the switches are checkboxes, ticked where the file has them on")
        group = driver.find_element(By.XPATH, "//input[@id='sleep_time']/ancestor::fieldset").text
        check("text-after-quote" in group or "trailing-text" in group,
              "the finding about the hour's line is in its rule's group")
        check("MOD_DORMIX_SLEEP_TIME0_HOUR = 23, line 4" in group,
              "and the group names its keys, their values and lines")
        days = driver.find_elements(By.CSS_SELECTOR, "figure.week li")
        check(len(days) == 7 and len(driver.find_elements(By.CSS_SELECTOR, "figure.week svg")) == 7
              and any("sleeps 23:00" in d.text for d in days) and
              any("wakes 00:00" in d.text for d in days),
              f"the week as seven bars with the sleep and wake times: "
              f"{[d.text for d in days]}")
        check(f"The daemon runs (pid {daemon_pid()})" in text, "the page sees the daemon run")
        check("input 0: present, level" in text, "the present inputs and their levels")
        violations = axe(driver)
        check(violations == [], f"axe-core: {violations or 'no violations'}")
        wide = screenshot(driver, 1280, f"{OUTPUT}/dormix-web-1280.png")
        narrow = screenshot(driver, 360, f"{OUTPUT}/dormix-web-360.png")
        check(narrow <= 360, f"at 360 px nothing scrolls sideways ({narrow} px wide)")

        # The first save on a router without the page's secret makes it and
        # sends the form back: a GET made none, so no form had a token yet.
        before = read(SETTINGS)
        check(not os.path.exists(SECRET), "the GETs made no secret")
        status, _, page = post_form(dict(form_of(driver.page_source), sleep_delay="60"))
        check(status == 409 and "one was made now" in page and read(SETTINGS) == before,
              f"the first save makes the secret and writes nothing ({status})")
        check(os.path.exists(SECRET) and os.stat(SECRET).st_mode & 0o077 == 0,
              "the secret is there now, for root alone")
        driver.get(url)

        # A value the checker rejects, sent past the browser's own limits: the
        # message at the field, the file untouched.
        status, _, page = post_form(dict(form_of(driver.page_source), sleep_delay="3000000000"))
        with open(f"{OUTPUT}/after-submit.html", "w") as f:
            f.write(page)
        error = re.search(r'<p class="error" id="sleep_delay-error">([^<]*)', page)
        check(status == 422 and error and "counts as negative" in error.group(1) and
              'id="sleep_delay" name="sleep_delay" aria-describedby="rule2-keys sleep_delay-error"'
              ' aria-invalid="true"' in page,
              f"a delay that counts as negative comes back with the checker's message at the "
              f"field ({status})")
        check(read(SETTINGS) == before, "and the file is untouched")


        # A good save: only the changed lines rewritten, the daemon restarted.
        driver.get(url)
        pid, starts = daemon_pid(), started_count()
        set_time(driver, "sleep_time", "21:15")
        submit(driver)
        text = driver.find_element(By.TAG_NAME, "body").text
        check("Saved 2 changed values" in text, "the page says it saved")
        after = read(SETTINGS)
        wanted = FIRST_SETTINGS.replace(b"HOUR=\"23\" # late", b"HOUR=21") + \
            b"MOD_DORMIX_SLEEP_TIME0_MINUTE=15\r\n"
        check(after == wanted, "comments, blank lines, unknown keys, order and CR LF are kept")
        check(os.stat(SETTINGS).st_mode & 0o777 == 0o640, "the file keeps its mode")
        for _ in range(50):
            if started_count() > starts:
                break
            time.sleep(0.1)
        check(daemon_pid() not in (0, pid), f"the daemon was restarted: pid {pid} -> {daemon_pid()}")
        check(started_count() == starts + 1, "\"started\" was logged again")
        check("restart: done" in text and f"now runs as pid {daemon_pid()}" in text,
              "the page shows the restart's outcome")
        if f"now runs as pid {daemon_pid()}" not in text:
            print(text[:1500])
        rows = driver.find_elements(By.CSS_SELECTOR, "table tbody tr")
        check(rows and "21:15:00" in rows[0].text, "the plan follows the new time")

        # Two browsers with the same page: the second save is refused.
        driver.get(url)
        first = driver.current_window_handle
        driver.switch_to.new_window("tab")
        authorize(driver)
        driver.get(url)
        second = driver.current_window_handle
        field = driver.find_element(By.ID, "sleep_delay")
        field.clear()
        field.send_keys("600")
        submit(driver)
        saved = read(SETTINGS)
        check(b"MOD_DORMIX_SLEEP_DELAY0_SECOND=600" in saved, "the first of two saves is written")
        driver.switch_to.window(first)
        field = driver.find_element(By.ID, "sleep_delay")
        field.clear()
        field.send_keys("900")
        submit(driver)
        text = driver.find_element(By.TAG_NAME, "body").text
        check("changed after this form was made" in text and "MOD_DORMIX_SLEEP_DELAY0_SECOND" in text,
              "the second save shows what changed")
        check(read(SETTINGS) == saved, "and writes nothing")
        del second
        # Last: its save restarts the daemon once more.
        unshowable_values_are_kept(driver, url)
        driver.get(url)
        violations = axe(driver)
        check(violations == [], f"axe-core after saving: {violations or 'no violations'}")
        print(f"     screenshots: {OUTPUT}/dormix-web-1280.png ({wide} px), "
              f"{OUTPUT}/dormix-web-360.png")
    finally:
        driver.quit()


def main():
    os.makedirs(OUTPUT, exist_ok=True)
    server = set_up()
    try:
        check(daemon_pid() > 0 and started_count() >= 0, f"the daemon runs as pid {daemon_pid()}")
        browse()
        attacks()
        refusals_to_write()
        week_across_daylight_saving()
        kill_at_each_step()
    finally:
        subprocess.run(["/etc/init.d/dormix", "stop"], stdout=subprocess.DEVNULL)
        server.terminate()
        server.wait()
    if failures:
        print(f"{len(failures)} failures")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
