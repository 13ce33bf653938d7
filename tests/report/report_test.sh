#!/bin/bash
# The report page in a real browser (Debian's chromium, headless): made from
# a recorded session with a late acknowledgement, a time-out and a negative
# reply, it loads with no console message and no request outside the file,
# the counts and the marked exchanges are the expected ones in the DOM the
# browser built, a timeline is drawn on demand, and a screenshot is not
# blank. Bad input is refused as by volmirax trace; a capture with no
# exchanges makes a page that says so.
#   report_test.sh BUILD_DIR VOLMIRAX_TOOL
set -euo pipefail
build=$(readlink -f "$1") tool=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/devsim/sim_session.sh"
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}
browse() {  # browse URL OUT_DOM: the DOM after the page's scripts ran; console and network logs beside
    local profile
    profile=$(mktemp -d "$tmp/profile.XXXXXX")
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --user-data-dir="$profile" --enable-logging=stderr --v=0 \
        --log-net-log="$2.net.json" --virtual-time-budget=3000 --dump-dom "$1" >"$2" 2>"$2.log"
}

# A session: version, a late acknowledgement (850 of 1000 ms), a split
# reply, a bad block check, a negative reply, a time-out, an abort, a reset.
start_devsim "$build/devsim" --on '3=ackdelay=850' --on '1=split=4:30,data=CARD-4711' --on '2=badbcc' \
    --on '5=marker=N,status=02' --on '9=silent' >/dev/null 2>&1
VOLMIRAX_TRACE="$tmp/session.jsonl" "$build/capture_host" "$build/libvolmirax.so" "$tmp/ttyVMX" >/dev/null
"$tool" report "$tmp/session.jsonl" -o "$tmp/report.html" >/dev/null

browse "file://$tmp/report.html" "$tmp/dom.html"
/usr/bin/python3 - "$tmp/dom.html" <<'PY' >"$tmp/facts"
import sys
from html.parser import HTMLParser
class P(HTMLParser):
    def __init__(self):
        super().__init__(); self.stack=[]; self.text={}; self.attention=[]; self.cells={}; self.rows=0; self.row=None; self.svg=0
    def handle_starttag(self, tag, attrs):
        a=dict(attrs); self.stack.append((tag,a))
        if tag=="li" and "data-x" in a and any(t=="ol" and x.get("id")=="attention" for t,x in self.stack): self.attention.append(a["data-x"]+a.get("class",""))
        if tag=="tr" and "data-command" in a: self.row=a["data-command"]+" "+a["data-param"]
        if tag=="td" and "data-outcome" in a: self.cur=(self.row,a["data-outcome"])
        if tag=="tr" and any(t=="table" and x.get("id")=="all" for t,x in self.stack) and any(t=="tbody" for t,x in self.stack): self.rows+=1
        if tag=="svg" and any(x.get("id")=="times" for t,x in self.stack): self.svg+=1
    def handle_endtag(self, tag):
        while self.stack:
            t,_=self.stack.pop()
            if t==tag: break
    def handle_data(self, d):
        if self.stack and "id" in self.stack[-1][1]: self.text[self.stack[-1][1]["id"]]=d.strip()
        if self.stack and self.stack[-1][0]=="td" and "data-outcome" in self.stack[-1][1] and d.strip(): self.cells[self.cur]=d.strip()
p=P(); p.feed(open(sys.argv[1]).read())
print("count", p.text.get("count")); print("failed", p.text.get("failed-count")); print("near", p.text.get("near-count"))
print("attention", " ".join(p.attention)); print("rows", p.rows); print("histograms", p.svg)
for k in sorted(p.cells): print("cell", k[0], "|", k[1], "|", p.cells[k])
PY
fact() { grep "^$1 " "$tmp/facts" | cut -d' ' -f2-; }
check "$([ "$(fact count)" = 8 ] && echo 0 || echo 1)" "the summary counts 8 exchanges" "$(fact count)"
check "$([ "$(fact failed)" = 3 ] && [ "$(fact near)" = 1 ] && echo 0 || echo 1)" \
    "3 failed and 1 answered within 20% of its time-out" "$(fact failed) failed, $(fact near) near"
check "$([ "$(fact attention)" = "4failed 5failed 6failed 2near" ] && echo 0 || echo 1)" \
    "the marked exchanges, failed first: the bad block check, the negative reply, the time-out, the late acknowledgement" "$(fact attention)"
grep -q '^cell 9 0 | -110 ERR_ACK_TIMEOUT | 1$' "$tmp/facts" && grep -q '^cell 5 0 | 2 device status | 1$' "$tmp/facts" &&
    grep -q '^cell 3 0 | 0 OK | 1$' "$tmp/facts" && cells=0 || cells=1
check $cells "the summary counts each result code by command" "$(grep '^cell' "$tmp/facts" | tr '\n' ';')"
check "$([ "$(fact rows)" = 8 ] && echo 0 || echo 1)" "the page's script filled the table of exchanges" "$(fact rows) rows"
check "$([ "$(fact histograms)" -ge 12 ] && echo 0 || echo 1)" "a histogram of each delay for each command" "$(fact histograms)"
console=$(grep -c 'CONSOLE' "$tmp/dom.html.log" || true)
check "$([ "$console" = 0 ] && echo 0 || echo 1)" "the page loads with no console message" "$(grep CONSOLE "$tmp/dom.html.log" | head -3)"
/usr/bin/python3 - "$tmp/dom.html.net.json" <<'PY' && net=0 || net=1
import json, sys
d = json.load(open(sys.argv[1]))
page = {e["params"]["url"] for e in d["events"] if "url" in e.get("params", {}) and e["params"].get("initiator", "not an origin") != "not an origin"}
outside = [u for u in page if not u.startswith(("file:", "data:", "about:", "chrome"))]
sys.exit(1 if outside else 0)
PY
check $net "the page makes no request outside the file"

browse "file://$tmp/report.html#x2" "$tmp/timeline.html"
grep -q 'acknowledgement time-out 1000 ms' "$tmp/timeline.html" && grep -q 'class="seq-dev"' "$tmp/timeline.html" &&
    grep -q '#2 at' "$tmp/timeline.html" && drawn=0 || drawn=1
check $drawn "a timeline is drawn on demand, with the time-out as a limit"
browse "file://$tmp/report.html#x6" "$tmp/timeout.html"
grep -q 'abort echo time-out' "$tmp/timeout.html" && grep -q '>abort<\|>abort (' "$tmp/timeout.html" && drawn=0 || drawn=1
check $drawn "the timed-out exchange shows its abort and the echo's limit"

# painted PNG [REGION]: not blank (and, with a region "x0,y0,x1,y1", the
# device lane's green inside it)
painted() {
    /usr/bin/python3 - "$@" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
px = im.getdata()
ink = sum(1 for p in px if p != (255, 255, 255))
ok = ink > 0.02 * len(px) and len(set(px)) > 8
if len(sys.argv) > 2:
    box = tuple(int(v) for v in sys.argv[2].split(","))
    ok = ok and (0x5a, 0x9e, 0x5a) in set(im.crop(box).getdata())
sys.exit(0 if ok else 1)
PY
}
bash "$here/screenshot.sh" "$tmp/report.html" "$tmp/report.png" 1200,1400
painted "$tmp/report.png" && ok=0 || ok=1
check $ok "a screenshot of the page is not blank"
# a link to an exchange shows it: the picture at #x2 has its timeline (the
# device's acknowledgement and reply, green) in the window's first 700 px
bash "$here/screenshot.sh" "$tmp/report.html" "$tmp/anchor.png" 1400,1400 '#x2'
painted "$tmp/anchor.png" 0,0,1400,700 && ok=0 || ok=1
check $ok "a screenshot at an exchange's address (#x2) shows its timeline"

printf '{"e":"tx","t":1,"hex":"06 0D"}\n' >"$tmp/bad.jsonl"
out=$("$tool" report "$tmp/bad.jsonl" -o "$tmp/bad.html" 2>&1) && rc=0 || rc=$?
check "$([ $rc = 2 ] && grep -q 'line 1: not a capture' <<<"$out" && [ ! -e "$tmp/bad.html" ] && echo 0 || echo 1)" \
    "a file that is not a capture is refused as by volmirax trace" "$out"
printf '{"e":"header","format":1,"writer":"test"}\n' >"$tmp/none.jsonl"
"$tool" report "$tmp/none.jsonl" -o "$tmp/none.html" >/dev/null
browse "file://$tmp/none.html" "$tmp/none-dom.html"
check "$(grep -q 'This capture holds no exchanges' "$tmp/none-dom.html" && echo 0 || echo 1)" "a capture with no exchanges gives a page that says so"
echo "$failures failed"
[ "$failures" = 0 ]
