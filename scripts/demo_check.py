#!/usr/bin/env python3
"""The demo's verdict per phone: the station's run record and the phone's flash against the
package's images.

usage: demo_check.py WORK RUN_JSON PHONE...
  WORK      the demo's folder: TR52_demo.dz (the package), expected/<TYPE>.bin (the images the
            package tool extracted, blanks in TYPE written as "_") and state-<COM>.txt (each
            phone's state dump)
  RUN_JSON  the station's --json record
  PHONE     "<com>|<start mode>|<scenario>|<what it shows>", as the demo lists its phones
Exit status 0 when every phone passed, 1 otherwise.
"""
import hashlib, json, os, re, sys

work, run_json, phones = sys.argv[1], sys.argv[2], sys.argv[3:]
# Image type as the package tool names it -> name in the phone's flash dump.
images = ["AMSS", "EFS GANG", "PARTITION TBL", "FLEXIBLE LOGO", "DBL", "FSBL", "OSBL"]
try:
    with open(run_json) as f:
        run = json.load(f)
    record = {p["com"]: p for p in run["ports"]}
except (OSError, ValueError) as e:
    print(f"demo: the run record cannot be read: {e}")
    run, record = {}, {}

expected = {}
for name in images:
    with open(os.path.join(work, "expected", name.replace(" ", "_") + ".bin"), "rb") as f:
        data = f.read()
    expected[name] = (len(data), hashlib.sha256(data).hexdigest(), hashlib.md5(data).hexdigest())

# The package the phones were given, as the plug-in loaded it.
with open(os.path.join(work, "TR52_demo.dz"), "rb") as f:
    package_md5 = hashlib.md5(f.read()).hexdigest()
failed = 0
if run.get("summary", {}).get("package_md5") != package_md5:
    failed += 1
    print(f"demo: FAIL the run record names package MD5 {run.get('summary', {}).get('package_md5')},"
          f" the package is {package_md5}")

line_re = re.compile(r'^flash "(.*)" method (\S+) start (\S+) size (\d+) sha256 ([0-9a-f]+)$')


def expected_methods(scenario):
    """How the plug-in writes each image to a phone with this scenario (the phone's defaults:
    communication mode 2, parameter flags 0x02)."""
    keys = {}
    for item in scenario.split(";"):
        if "=" in item:
            k, v = item.split("=", 1)
            keys[k.strip()] = v.strip()
    comm_mode = int(keys.get("dload.comm_mode", "2"), 0)
    flags = int(keys.get("dload.param_flags", "0x02"), 0)
    methods = {name: "classic" for name in images}
    methods["PARTITION TBL"] = "header"
    if comm_mode == 2:
        methods["AMSS"] = methods["EFS GANG"] = "pipelined"
    elif flags & 0x42:
        methods["AMSS"] = "ram"
    return methods


# The phone's name of a write method -> the station's.
record_methods = {"classic": "nand", "ram": "ram", "pipelined": "pipelined",
                  "header": "partition table"}
for phone in phones:
    com, mode, scenario, what = phone.split("|")
    methods = expected_methods(scenario)
    flash = {}
    try:
        with open(os.path.join(work, f"state-{com}.txt")) as f:
            for line in f:
                m = line_re.match(line.strip())
                if m:
                    flash[m.group(1)] = (m.group(2), m.group(3), int(m.group(4)), m.group(5))
    except OSError:
        pass
    problems = []
    port = record.get(int(com))
    if port is None:
        problems.append("not in the run record")
    else:
        if port["result"] != 0:
            problems.append(f"result {port['result']} ({port['result_name']})")
        want_flow = 0 if mode == "download" else 1
        if port["flow"] != want_flow:
            problems.append(f"flow {port['flow']}, expected {want_flow}")
        # The model as the phone first sent it: a phone in download mode gives its emergency name.
        want_model = "KW_TR52/V10A" if mode == "download" else "TR52"
        if port["model"] != want_model:
            problems.append(f"model {port['model']}, expected {want_model}")
        # The plug-in's record of the images: how each went, and the MD5 of what was sent.
        listed = {i["type"]: i for i in port["images"]}
        for name in images:
            i = listed.get(name)
            want = record_methods[methods[name]]
            if i is None:
                problems.append(f"run record: no {name}")
            elif (i["method"], i["size"], i["md5"], i["written"]) != (
                    want, expected[name][0], expected[name][2], True):
                problems.append(f"run record: {name} {i['method']} {i['size']} bytes MD5 {i['md5']}"
                                f" written {i['written']}, expected {want} {expected[name][0]}"
                                f" bytes MD5 {expected[name][2]}")
    placed = []
    for name in images:
        size, digest, _ = expected[name]
        got = flash.get(name)
        if got is None:
            problems.append(f"{name} not in flash")
            continue
        method, start, got_size, got_digest = got
        if (got_size, got_digest) != (size, digest):
            problems.append(f"{name} differs from the package ({got_size} bytes, SHA-256"
                            f" {got_digest[:12]}..; the package has {size} bytes, {digest[:12]}..)")
        want = methods[name]
        if method != want:
            problems.append(f"{name} written by {method}, expected {want}")
        placed.append(f"{name}@{start}/{method}")
    model = port.get("model") if port else None
    secs = port.get("seconds") if port else None
    head = f"COM{com} ({what}): model {model}, " + (f"{secs:.1f} s" if secs is not None else "no time")
    if problems:
        failed += 1
        print(f"demo: FAIL {head}: " + "; ".join(problems))
    else:
        print(f"demo: PASS {head}: flash holds the package's {len(images)} images")
    if placed:
        print("demo:        " + ", ".join(placed))
sys.exit(1 if failed else 0)
