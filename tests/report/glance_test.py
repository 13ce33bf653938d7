"""The report page read at a glance, measured in headless Chromium: on a
recorded session, no two labels of any timeline overlap and the failed
frames are red; at 800 px nothing is cut off (wide tables scroll); the
meanings of the codes, the processes with their wall-clock start, the
exchanges that got no answer in the histograms; a wrong echo in a
simulator's recording is ERR_ECHO; a month's page shows when the eject
command started failing; the page prints to PDF.
    python3 glance_test.py BUILD_DIR VOLMIRAX_TOOL BENCH_DIR"""

import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks, simulator as start_simulator  # noqa: E402

build, tool, bench = sys.argv[1:4]
sys.path.insert(0, bench)
import capture_bench  # noqa: E402  (the benchmark's month of a kiosk)

folder = tempfile.mkdtemp(prefix="volmirax-glance.")
check = Checks("report")


def simulator(*args):
    link = os.path.join(folder, "ttyG")
    return start_simulator(os.path.join(build, "devsim"), link, "--pace", "0", *args), link


def report(capture, name):
    page = os.path.join(folder, name + ".html")
    subprocess.run([tool, "report", capture, "-o", page], check=True, capture_output=True)
    return page


def chromium(*args):
    profile = tempfile.mkdtemp(dir=folder)
    out = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update", "--disable-sync",
                          f"--user-data-dir={profile}", *args], capture_output=True, text=True, timeout=300)
    shutil.rmtree(profile, ignore_errors=True)
    return out.stdout


# What the page's own layout gives, measured by a script added to a copy of
# it: every timeline drawn in turn, the boxes of its labels compared.
MEASURE = """<script>
const out={overlaps:[],bad:{}},focus=document.getElementById('focus');
D.x.forEach((e,i)=>{drawTimeline(i,focus);
 const all=[...focus.querySelectorAll('text.lbl,text.limit')],boxes=all.map(t=>t.getBBox()),texts=all.map(t=>t.textContent);
 for(let a=0;a<boxes.length;a++)for(let b=a+1;b<boxes.length;b++){const p=boxes[a],q=boxes[b];
  if(p.x<q.x+q.width&&q.x<p.x+p.width&&p.y<q.y+q.height&&q.y<p.y+p.height)out.overlaps.push('#'+e[12]+': '+texts[a]+' / '+texts[b]);}
 out.bad[e[12]]=focus.querySelectorAll('rect.seq-bad').length;});
focus.textContent='';
out.pageWidth=document.documentElement.scrollWidth;out.view=window.innerWidth;
out.cut=[...document.querySelectorAll('table')].filter(t=>{const r=t.getBoundingClientRect(),s=t.closest('.scroll');
 return r.right>window.innerWidth+1&&!(s&&s.scrollWidth>s.clientWidth&&getComputedStyle(s).overflowX==='auto');}).length;
document.body.setAttribute('data-measured',JSON.stringify(out));
</script></body>"""


def measured(page, width):
    copy = page.replace(".html", f"-measured-{width}.html")
    with open(copy, "w") as f:
        f.write(open(page).read().replace("</body>", MEASURE))
    dom = chromium(f"--window-size={width},1000", "--virtual-time-budget=5000", "--dump-dom", "file://" + copy)
    m = re.search(r'data-measured="([^"]*)"', dom)
    return json.loads(html.unescape(m.group(1))) if m else None


try:
    # the session of the report test: version, a late acknowledgement, a
    # split reply, a bad block check, a negative reply, a time-out, an
    # abort, a reset; the headers carry the wall clock
    sim, link = simulator("--on", "3=ackdelay=850", "--on", "1=split=4:30,data=CARD-4711", "--on", "2=badbcc",
                          "--on", "5=marker=N,status=02", "--on", "9=silent")
    session = os.path.join(folder, "session.jsonl")
    subprocess.run([os.path.join(build, "capture_host"), os.path.join(build, "libvolmirax.so"), link],
                   env=dict(os.environ, VOLMIRAX_TRACE=session), check=True, capture_output=True)
    sim.terminate()
    sim.wait()
    page = report(session, "session")
    m = measured(page, 800)
    check(m is not None, "the page measures itself in the browser")
    if m:
        check(not m["overlaps"], "no label of any timeline overlaps another", "; ".join(m["overlaps"][:6]))
        check(m["bad"].get("4", 0) > 0 and m["bad"].get("5", 0) > 0 and m["bad"].get("1", 1) == 0,
              "the bad block check and the negative reply are red, the answered version is not", json.dumps(m["bad"]))
        check(m["cut"] == 0 and m["pageWidth"] <= m["view"], "at 800 px no table is cut off and the page does not overflow",
              f"{m['cut']} tables cut, page {m['pageWidth']} px in {m['view']}")
    dom = chromium("--virtual-time-budget=3000", "--dump-dom", "file://" + page)
    meaning = re.search(r"<dt>-116 ERR_BCC</dt><dd>([^<]*)</dd>", dom)
    check(bool(meaning) and "block check" in meaning.group(1), "codes come with their meanings",
          meaning.group(1) if meaning else "no meaning for -116")
    started = re.search(r'<tr data-session="1">(.*?)</tr>', dom, re.S)
    pid = str(json.loads(open(session).readline())["pid"])
    check(bool(started) and " UTC" in started.group(1) and f"<td>{pid}</td>" in started.group(1),
          "the process that wrote the capture and its wall-clock start", started.group(1)[:200] if started else "no row")
    none = re.search(r'aria-label="acknowledgement delay, command &quot;9&quot;".*?</svg>', dom, re.S)
    check(bool(none) and "1 got no answer within the time-out" in none.group(0),
          "the time-out shows in the histogram as an exchange with no answer")
    pdf = os.path.join(folder, "session.pdf")
    chromium("--virtual-time-budget=3000", f"--print-to-pdf={pdf}", "--no-pdf-header-footer", "file://" + page)
    data = open(pdf, "rb").read() if os.path.exists(pdf) else b""
    pages = len(re.findall(rb"/Type\s*/Page[^s]", data))
    check(data.startswith(b"%PDF") and pages >= 2, "the page prints to PDF", f"{len(data)} bytes, {pages} pages")

    # a simulator's recording: a reply that echoes the wrong parameter is ERR_ECHO
    recording = os.path.join(folder, "sim.jsonl")
    sim, link = simulator("--on", "7=badecho", "--record", recording)
    subprocess.run([tool, "--device", link, "send", "37", "30"], capture_output=True)
    subprocess.run([tool, "--device", link, "send", "33", "30"], capture_output=True)
    sim.terminate()
    sim.wait()
    dom = open(report(recording, "sim")).read()
    check('data-command="7" data-param="0" data-count="1"' in dom and
          '<td data-outcome="wrong echo (ERR_ECHO)" class="failed">1</td>' in dom,
          "a wrong echo on the wire is judged ERR_ECHO, as the library judges it")

    # percentiles by nearest rank: of two replies, 2704 and 2885 ms, p95 is
    # the larger (not a value between them)
    two = os.path.join(folder, "two.jsonl")
    with open(two, "w") as f:
        f.write('{"e":"header","format":2,"writer":"test","port":"COM3","baud":9600,"wall":"2026-12-01T10:00:00Z"}\n')
        for i, delay in enumerate((2704000, 2885000)):
            t = i * 10_000_000
            f.write(f'{{"e":"tx","t":{t},"hex":"0243333003430D"}}\n{{"e":"rx","t":{t + 5000},"hex":"060D"}}\n'
                    f'{{"e":"tx","t":{t + 6000},"hex":"050D"}}\n'
                    f'{{"e":"rx","t":{t + 6000 + delay},"hex":"02503330303003500D"}}\n')
    dom = open(report(two, "two")).read()
    legend = re.search(r'aria-label="reply delay, command &quot;3&quot;".*?class="pctl"[^>]*>([^<]*)<', dom, re.S)
    check(bool(legend) and "p50 2704.0 ms" in legend.group(1) and "p95 2885.0 ms" in legend.group(1),
          "p50 and p95 by nearest rank", legend.group(1) if legend else "no legend")

    # a month: the eject command fails from the 12th on
    month = os.path.join(folder, "month.jsonl")
    capture_bench.write_capture(month, 3000)
    dom = open(report(month, "month")).read()
    charts = re.findall(r'<div class="scroll" data-over="([^"]*)">(.*?)</div>', dom, re.S)
    eject = dict(charts).get("3", "")
    days = {int(d): 1 for d in re.findall(r'class="bar fail"[^>]*><title>2026-11-(\d\d)', eject)}
    before = sum(1 for d in days if d < 12)
    after = sum(1 for d in days if d >= 12)
    check(len(charts) == 4 and after >= 14 and before <= 4,
          "a month's page shows per day when the eject command started failing",
          f"{len(charts)} charts; days with failures: {before} before the 12th, {after} from it")
finally:
    shutil.rmtree(folder, ignore_errors=True)
sys.exit(check.end())
