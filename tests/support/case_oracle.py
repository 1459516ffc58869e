#!/usr/bin/env python3
"""Checks an extract output folder with Python's own readers: csv, json,
hashlib and html.parser. Prints "ok" or one line per fault.
Usage: case_oracle.py DIR [NAMES.json [DOM.html]]: with NAMES (the catalog
names in report order), every output must carry each name unchanged; DOM is
the page as a browser rendered it."""
import csv
import hashlib
import html.parser
import json
import os
import re
import sys

faults = []


def fault(text):
    faults.append(text)


def digests(data):
    return hashlib.md5(data).hexdigest(), hashlib.sha1(data).hexdigest(), hashlib.sha256(data).hexdigest()


def main(folder):
    with open(os.path.join(folder, "report.csv"), newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    for r in rows:
        if r["file"]:
            data = open(os.path.join(folder, r["file"]), "rb").read()
            md5, sha1, sha256 = digests(data)
            # a decoded PNG has its own bytes; the digests are of the stored ones
            if r["format"] != "jpeg-tableless" and (r["md5"], r["sha1"], r["sha256"]) != (md5, sha1, sha256):
                fault("digests differ for " + r["file"])
        elif r["length"] != "-" and r["md5"] == "-":
            fault("stored bytes without md5: " + r["name"])
    if os.path.exists(os.path.join(folder, "report.json")):
        report = json.load(open(os.path.join(folder, "report.json"), encoding="utf-8"))
        if [x["name"] for x in report] != [r["name"] for r in rows]:
            fault("report.json and report.csv disagree")
    manifest = json.load(open(os.path.join(folder, "manifest.json"), encoding="utf-8"))
    for key in ("tool", "version", "revision", "command_line", "started_utc", "finished_utc", "system", "inputs",
                "counts", "warnings", "outputs"):
        if key not in manifest:
            fault("manifest lacks " + key)
    for i in manifest["inputs"]:
        if os.path.exists(i["path"]):
            now = digests(open(i["path"], "rb").read())
            if (i["before"]["md5"], i["before"]["sha1"], i["before"]["sha256"]) != now:
                fault("manifest digests of " + i["path"] + " are not the file's")
            if i["unchanged"] is not True:
                fault("input reported changed: " + i["path"])
    if manifest["counts"]["entries_read"] != len(rows) + manifest["counts"]["hidden"]:
        fault("entries_read %d, report rows %d" % (manifest["counts"]["entries_read"], len(rows)))
    lines = open(os.path.join(folder, "hashes.txt"), encoding="utf-8").read().split("\n")
    if lines[0] != "%%%% HASHDEEP-1.0" or lines[1] != "%%%% size,md5,sha256,filename":
        fault("hashes.txt header")
    listed = set()
    for line in lines[5:]:
        if not line:
            continue
        size, md5, sha256, name = line.split(",", 3)
        data = open(os.path.join(folder, name), "rb").read()
        listed.add(name)
        if (int(size), md5, sha256) != (len(data), hashlib.md5(data).hexdigest(), hashlib.sha256(data).hexdigest()):
            fault("hashes.txt wrong for " + name)
    if listed != set(os.listdir(folder)) - {"hashes.txt"}:
        fault("hashes.txt does not list every file: " + repr(set(os.listdir(folder)) ^ listed))
    check_timelines(folder)
    if len(sys.argv) > 2:
        check_names(folder, rows, json.load(open(sys.argv[2], encoding="utf-8")),
                    sys.argv[3] if len(sys.argv) > 3 else None)
    print("\n".join(faults) if faults else "ok")


class NameCells(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.names, self.inside = [], False

    def handle_starttag(self, tag, attrs):
        if tag == "td" and ("class", "col-name") in attrs:
            self.inside = True
            self.names.append("")

    def handle_endtag(self, tag):
        self.inside = self.inside and tag != "td"

    def handle_data(self, data):
        if self.inside:
            self.names[-1] += data


def check_names(folder, rows, names, dom):
    def same(what, got):
        if got != names:
            fault(what + " names differ: " + repr(got))
    same("report.csv", [r["name"] for r in rows])
    if os.path.exists(os.path.join(folder, "report.json")):
        same("report.json", [x["name"] for x in json.load(open(os.path.join(folder, "report.json"), encoding="utf-8"))])
    path = os.path.join(folder, "timeline.jsonl")
    if os.path.exists(path):
        same("timeline.jsonl", [json.loads(l)["name"] for l in open(path, encoding="utf-8").read().split("\n")[:-1]])
    path = os.path.join(folder, "timeline.l2tcsv.csv")
    if os.path.exists(path):
        with open(path, newline="", encoding="utf-8") as f:
            same("timeline.l2tcsv.csv", [r[9] for r in list(csv.reader(f))[1:]])
    path = os.path.join(folder, "timeline.body")
    if os.path.exists(path):
        got = []
        for line in open(path, "rb").read().split(b"\n")[:-1]:
            fields = line.split(b"|")
            if len(fields) != 11:
                fault("body line of %d fields" % len(fields))
                continue
            # as mactime reads it: %XX decoded; control characters stay \xNN
            name = re.sub(rb"%([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), fields[1]).decode("utf-8")
            name = re.sub(r"\\x([0-9A-F]{2})", lambda m: chr(int(m.group(1), 16)), name)
            got.append(name.split("Thumbs.db:", 1)[1])
        same("timeline.body", got)
    if dom:
        parser = NameCells()
        parser.feed(open(dom, encoding="utf-8", newline="").read())
        same("index.html", parser.names)


def check_timelines(folder):
    path = os.path.join(folder, "timeline.jsonl")
    if os.path.exists(path):
        for n, line in enumerate(open(path, encoding="utf-8").read().split("\n")[:-1]):
            event = json.loads(line)
            for key in ("message", "datetime", "timestamp_desc"):
                if key not in event:
                    fault("jsonl line %d lacks %s" % (n + 1, key))
            if not event["datetime"].endswith("+00:00"):
                fault("jsonl datetime without offset")
    path = os.path.join(folder, "timeline.l2tcsv.csv")
    if os.path.exists(path):
        with open(path, newline="", encoding="utf-8") as f:
            table = list(csv.reader(f))
        if table[0] != ["date", "time", "timezone", "MACB", "source", "sourcetype", "type", "user", "host", "short",
                        "desc", "version", "filename", "inode", "notes", "format", "extra"]:
            fault("l2tcsv header")
        for row in table:
            if len(row) != 17:
                fault("l2tcsv row of %d fields" % len(row))


if __name__ == "__main__":
    main(sys.argv[1])
