#!/usr/bin/env python3
"""bandrill-printer-app as IPP Everywhere clients see it: CUPS's own
ipp-everywhere.test against a printer of every family, cutting chosen
with finishings, media names, supplies, and a printer that says why it
cannot reach its device.

  ippeve_test.py --app APP --raster HELPER CASE
"""
import os
import re
import shutil
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from appserver import Failure, Server, check, grey_png, log, run, run_case  # noqa: E402
from printer_emulator import PrinterEmulator  # noqa: E402

ARGS = None
SUITE_DIR = "/usr/share/cups/ipptool"

# One printer a family, and the 300 dpi ones, whose resolution the suite's
# print groups have.
PRINTERS = ["tspl-203", "tspl-300", "escpos-58", "cpcl", "paperang", "peripage-576"]

# The suite's sample documents: name -> (width, height) in inches, pages.
SAMPLES = {
    "color.jpg-4x6": (4.0, 6.0, 1),
    "gray.jpg-4x6": (4.0, 6.0, 1),
    "onepage-a4": (8.27, 11.69, 1),
    "onepage-letter": (8.5, 11.0, 1),
    "document-a4": (8.27, 11.69, 2),
    "document-letter": (8.5, 11.0, 2),
}
SUITE_RESOLUTIONS = (150, 180, 300, 360, 600, 720)

# What the suite asks that this printer application answers otherwise, on
# purpose: a failed group passes only when every expectation it missed is
# one of these (group, the expectation's start).
ACCEPTED = [
    # "none" is the truthful default: a picture is turned to the label's
    # orientation unless a job asks for one (3 would stop that). These
    # groups take 3 to 6 only, the values before "none" was added.
    ("PWG 5100.12 section 6.2", "orientation-requested-default"),
    ("RFC 8011 section 4.2.5", "orientation-requested-default"),
]
# Identify-Printer comes with the printer status work; until a printer
# advertises identify-actions-supported, its absence is the only one
# accepted of that group.
IDENTIFY = ("PWG 5100.14 section 5.1/5.2", "identify-actions-")


WORKDIRS = []


def workdir(prefix):
    """A temporary folder, removed when the test ends, passed or not."""
    WORKDIRS.append(tempfile.mkdtemp(prefix=prefix))
    return WORKDIRS[-1]


def raster(path, width, height, dpi, pages=1):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    run([ARGS.raster, "pwg", path, str(width), str(height), str(dpi), str(pages)])
    return path


def make_png(path, width, height):
    """A grey ramp: a document PAPPL spools before printing (raster it
    streams, holding the request while the printer waits)."""
    return grey_png(path, width, height, lambda x, y: x * 255 // width)


def values(text):
    """The values of an ipptool -v attribute line's value text."""
    return [v.strip() for v in text.split(",")] if text else []


def make_samples(work, attrs):
    """The suite's sample files: at the printer's raster resolutions and
    types, pages of the sample's size; the others empty (ipptool reads
    every file the suite names, also of the groups it skips, and ends the
    file at one that is missing). The paths of the real ones."""
    resolutions = {int(v[:-3].split("x")[0]) for v in
                   values(attrs.get("pwg-raster-document-resolution-supported", ""))}
    types = values(attrs.get("pwg-raster-document-type-supported", ""))
    check(types == ["sgray_8"], "raster types %r: the helper writes sgray_8 only" % types)
    with open(os.path.join(SUITE_DIR, "ipp-everywhere.test")) as f:
        named = sorted(set(re.findall(r"^\s*FILE (pwg-raster-samples-\S+)$", f.read(), re.M)))
    made = []
    for rel in named:
        m = re.match(r"pwg-raster-samples-(\d+)dpi/([a-z0-9-]+)/(.+)-\2-\d+dpi\.pwg$", rel)
        check(m is not None and m.group(3) in SAMPLES, "a sample the test does not know: " + rel)
        dpi, kind, name = int(m.group(1)), m.group(2), m.group(3)
        path = os.path.join(work, rel)
        real = dpi in resolutions and kind == "sgray-8"
        if real:
            w, h, pages = SAMPLES[name]
            if not os.path.getsize(path) if os.path.exists(path) else True:
                raster(path, round(w * dpi), round(h * dpi), dpi, pages)
            made.append(path)
        elif not os.path.exists(path):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").close()
    return made


def suite_groups(output):
    """[(group name, PASS|FAIL|SKIP, [expectations missed])] of ipptool -t."""
    groups = []
    for line in output.splitlines():
        m = re.match(r"\s+(.*?)\s+\[(PASS|FAIL|SKIP)\]$", line)
        if m:
            groups.append((m.group(1), m.group(2), []))
        elif groups and line.strip().startswith("EXPECTED:"):
            groups[-1][2].append(line.strip()[len("EXPECTED:"):].strip())
    return groups


def accepted(group, missed, has_identify):
    allowed = list(ACCEPTED) + ([] if has_identify else [IDENTIFY])
    return missed and all(any(group.startswith(g) and m.startswith(a) for g, a in allowed)
                          for m in missed)


def case_everywhere():
    """Every group of ipp-everywhere.test passes for every family; the print
    groups run (sample files at the printer's resolution), not skip."""
    work = workdir("bandrill-ippeve-")
    # The suite and the files it includes next to the samples it looks for.
    for f in ("ipp-everywhere.test", "ipp-2.0.test", "ipp-1.1.test"):
        shutil.copy(os.path.join(SUITE_DIR, f), work)
    with Server(ARGS.app, log_level="info") as srv:
        problems = []
        for driver in PRINTERS:
            srv.add(driver, driver)
            attrs = srv.attributes(driver)
            samples = make_samples(work, attrs)
            dpi = int(attrs["printer-resolution-default"][:-3].split("x")[0])
            # The document of the suite's own Print-Job tests: a small page.
            doc = raster(os.path.join(work, "doc-%d.pwg" % dpi), dpi, dpi, dpi)
            # -I: a failed group does not end its file (every group is seen).
            res = run(["ipptool", "-t", "-I", "-V", "2.0", "-T", "60", "-f", doc, srv.uri(driver),
                       os.path.join(work, "ipp-everywhere.test")], check_rc=False, timeout=600,
                      cwd=work)
            out = res.stdout.decode(errors="replace")
            groups = suite_groups(out)
            check(len(groups) > 10, "%s: ipptool ran %d groups:\n%s" % (driver, len(groups), out[-3000:]))
            has_identify = "identify-actions-supported" in attrs
            printed = [g for g in groups if g[0].startswith("Print ") and g[1] == "PASS"]
            for name, result, missed in groups:
                if result == "FAIL" and not accepted(name, missed, has_identify):
                    problems.append("%s: %s: %s" % (driver, name, "; ".join(missed) or "failed"))
            # Print groups exist for the suite's resolutions only (not 203 dpi).
            want = 3 * len(samples)  # plain, deflate, gzip
            if len(printed) != want:
                problems.append("%s: %d print groups passed, %d expected" % (driver, len(printed), want))
            log("%s: %d groups, %d passed, %d print groups" % (
                driver, len(groups), sum(1 for g in groups if g[1] == "PASS"), len(printed)))
        check(not problems, "ipp-everywhere.test:\n  " + "\n  ".join(problems))


CUT = b"\x1dV"   # ESC/POS cut (GS V)


def case_finishings():
    """Trim finishings choose where a receipt printer cuts, as the printer's
    Cut setting would; finishings it has not are refused; printers without
    a cutter offer none."""
    work = workdir("bandrill-ippeve-cut-")
    doc = raster(os.path.join(work, "two.pwg"), 384, 200, 203, 2)
    with Server(ARGS.app, log_level="info") as srv:
        srv.add("receipt", "escpos-58")
        srv.add("label", "tspl-203")
        attrs = srv.attributes("receipt")
        check(values(attrs.get("finishings-supported")) == ["none", "trim-after-pages",
                                                           "trim-after-documents", "trim-after-job"],
              "finishings-supported: %r" % attrs.get("finishings-supported"))
        check("trim-after-pages" in attrs.get("finishing-template-supported", ""),
              "finishing-template-supported: %r" % attrs.get("finishing-template-supported"))
        label = srv.attributes("label")
        check("trim" not in label.get("finishings-supported", ""),
              "a label printer offers trimming: %r" % label.get("finishings-supported"))

        def cuts(job_attrs):
            job = srv.print_job("receipt", doc, "image/pwg-raster", job_attrs)
            info = srv.wait_job("receipt", job)
            check(info.get("job-state") == "completed", "job %r: %r" % (job_attrs, info))
            return srv.read_output("receipt").count(CUT)

        # (job attributes, cuts for two pages); the printer's own is after the
        # job. finishings 3 none, 60 trim after pages, 61 after documents, 63
        # after the job.
        table = [
            ([], 1),
            ([("enum", "finishings", "3")], 1),
            ([("enum", "finishings", "60")], 2),
            ([("enum", "finishings", "63")], 1),
            ([("enum", "finishings", "61")], 1),
            ([("enum", "finishings", "60,63")], 2),
            ([("collection", "finishings-col", "{MEMBER keyword finishing-template trim-after-pages}")], 2),
            # The job's own cut mode is the more precise.
            ([("enum", "finishings", "60"), ("keyword", "bandrill-cut-mode", "job")], 1),
        ]
        page = cuts([("keyword", "bandrill-cut-mode", "page")])
        job = cuts([("keyword", "bandrill-cut-mode", "job")])
        check(page == 2 * job and job >= 1, "cut commands: page %d, job %d" % (page, job))
        for job_attrs, n in table:
            got = cuts(job_attrs)
            check(got == n * job, "%r: %d cut commands, want %d" % (job_attrs, got, n * job))

        for bad in ([("enum", "finishings", "4")],
                    [("collection", "finishings-col", "{MEMBER keyword finishing-template punch}")]):
            # ipptool fails unless the status is the one expected.
            srv.ipptool("receipt", PRINT_JOB_STATUS % {
                "attrs": "".join("\tATTR %s %s %s\n" % a for a in bad),
                "status": "client-error-attributes-or-values-not-supported"},
                filename=doc, fmt="image/pwg-raster")
        check(srv.outputs("receipt") == [], "a refused job printed")


PRINT_JOB_STATUS = """{
\tNAME "Print-Job"
\tOPERATION Print-Job
\tGROUP operation-attributes-tag
\tATTR charset attributes-charset utf-8
\tATTR naturalLanguage attributes-natural-language en
\tATTR uri printer-uri $uri
\tATTR name requesting-user-name tester
\tATTR mimeMediaType document-format $format
\tGROUP job-attributes-tag
%(attrs)s\tFILE $filename
\tSTATUS %(status)s
}
"""

OLD_LABEL = "oe_2.25x1.25-label_2.25x1.25in"
NEW_LABEL = "oe_2-25x1-25-label_2.25x1.25in"


def case_media_names():
    """Media names have no dot in their name part; the name of earlier
    releases is still taken for jobs and defaults, and a saved state that
    holds it comes back with the new one. The paper is a supply of unknown
    level, and its page is the printer's media page."""
    work = workdir("bandrill-ippeve-media-")
    label = raster(os.path.join(work, "label.pwg"), 457, 254, 203)
    with Server(ARGS.app, log_level="info", keep=True) as srv:
        srv.add("label", "tspl-203")
        attrs = srv.attributes("label")
        media = values(attrs["media-supported"])
        check(NEW_LABEL in media, "media-supported: %r" % media)
        dotted = [m for m in media if "." in m.split("_")[1]]
        check(not dotted, "names with a dot in the name part: %r" % dotted)

        outputs = []
        for name in (NEW_LABEL, OLD_LABEL):
            job = srv.print_job("label", label, "image/pwg-raster", [("keyword", "media", name)])
            info = srv.wait_job("label", job)
            check(info.get("job-state") == "completed", "media=%s: %r" % (name, info))
            outputs.append(srv.read_output("label"))
        check(outputs[0] == outputs[1], "the old name prints otherwise than the new one")
        srv.cli("modify", "-d", "label", "-o", "media=" + OLD_LABEL)
        check(srv.attributes("label").get("media-default") == NEW_LABEL,
              "media-default after modify with the old name: %r"
              % srv.attributes("label").get("media-default"))

        check(attrs.get("printer-supply-description") == "Labels",
              "printer-supply-description: %r" % attrs.get("printer-supply-description"))
        check("level=-2;" in attrs.get("printer-supply", ""),
              "printer-supply: %r" % attrs.get("printer-supply"))
        info_uri = attrs.get("printer-supply-info-uri", "")
        check(info_uri.endswith("/label/media"), "printer-supply-info-uri: %r" % info_uri)
        with urllib.request.urlopen(info_uri, timeout=30) as page:
            check(page.status == 200, "%s: HTTP %d" % (info_uri, page.status))
    # The saved state of an earlier release: the old name as the default.
    state = [os.path.join(srv.dir, f) for f in os.listdir(srv.dir) if f.endswith(".state")]
    check(len(state) == 1, "state files: %r" % state)
    with open(state[0]) as f:
        text = f.read()
    check(NEW_LABEL in text, "the saved state has no %s" % NEW_LABEL)
    with open(state[0], "w") as f:
        f.write(text.replace(NEW_LABEL, OLD_LABEL))
    srv.keep = False
    with srv:
        attrs = srv.attributes("label")
        check(attrs.get("media-default") == NEW_LABEL,
              "media-default from the older state: %r" % attrs.get("media-default"))
        check(OLD_LABEL not in str(attrs), "the old name is still advertised")


def page_text(srv, name):
    with urllib.request.urlopen("http://localhost:%d/%s/" % (srv.port, name),
                                timeout=30) as page:
        return page.read().decode(errors="replace")


def wait_for(what, predicate, timeout=30):
    deadline = time.time() + timeout
    value = None
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise Failure("%s: not within %d s" % (what, timeout))


def case_state_message():
    """A printer that cannot be reached says why: printer-state-reasons
    offline, the words in printer-state-message, the job's
    job-state-message and the printer's web page; all gone once the printer
    takes connections again, and the job prints."""
    work = workdir("bandrill-ippeve-state-")
    doc = make_png(os.path.join(work, "r.png"), 384, 100)
    emu = PrinterEmulator(family="escpos").start()
    try:
        emu.refuse(True)
        with Server(ARGS.app, log_level="info") as srv:
            srv.add_uri("receipt", "escpos-58", "socket://127.0.0.1:%d" % emu.port)
            idle = srv.attributes("receipt")
            check(idle.get("printer-state-message") == "Idle.", "idle: %r" % idle.get("printer-state-message"))
            job = srv.print_job("receipt", doc, "image/png")

            def offline():
                a = srv.attributes("receipt")
                return a if "offline" in a.get("printer-state-reasons", "") else None
            attrs = wait_for("printer offline", offline)
            message = attrs.get("printer-state-message", "")
            check("127.0.0.1:%d" % emu.port in message and "refused" in message.lower(),
                  "printer-state-message: %r" % message)
            info = srv.job("receipt", job)
            check(message in info.get("job-state-message", ""),
                  "job-state-message %r lacks %r" % (info.get("job-state-message"), message))
            html = page_text(srv, "receipt")
            check("127.0.0.1:%d" % emu.port in html, "the printer's page does not say why")
            check("Offline.." not in html, "the state line reads 'Offline..'")

            emu.refuse(False)
            info = srv.wait_job("receipt", job, timeout=60)
            check(info.get("job-state") == "completed", "after the printer came back: %r" % info)
            attrs = srv.attributes("receipt")
            check("offline" not in attrs.get("printer-state-reasons", ""),
                  "still offline: %r" % attrs.get("printer-state-reasons"))
            check(attrs.get("printer-state-message") in ("Idle.", "Printing."),
                  "printer-state-message once back: %r" % attrs.get("printer-state-message"))
            check("127.0.0.1:%d" % emu.port not in page_text(srv, "receipt"),
                  "the printer's page still names the failure")
            check(len(emu.data) > 0, "the printer got nothing")
    finally:
        emu.stop()


CASES = {
    "everywhere": case_everywhere,
    "finishings": case_finishings,
    "media_names": case_media_names,
    "state_message": case_state_message,
}


def main():
    return run_case(sys.modules[__name__], CASES, "--app", "--raster", workdirs=WORKDIRS)


if __name__ == "__main__":
    sys.exit(main())
