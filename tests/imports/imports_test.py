"""Files from independent writers imported by ferryline-convert, and its LDIF read by an independent parser.

Usage: imports_test.py FERRYLINE-CONVERT WORK-FOLDER. Prints PASS/FAIL lines and "N passed, N failed".
"""
import csv
import io
import json
import os
import random
import subprocess
import sys

import ldap.dn
import ldif
import vobject

CONVERT, WORK = sys.argv[1], sys.argv[2]
os.makedirs(WORK, exist_ok=True)
results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    results["passed" if ok else "failed"] += 1
    print(("PASS " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)[:800]))


def convert(direction, data, *options):
    path = os.path.join(WORK, "input")
    with open(path, "wb") as f:
        f.write(data)
    done = subprocess.run([CONVERT, "-v", *options, direction, path, "-"], capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


# Letters both editions' sets hold, and the characters that make a Mac name quoted.
LETTERS = "abcXYZ éüÅçßøÑ"
SPECIALS = "().,@:[]"


def random_people(seed, count):
    """People as (name, [addresses, the preferred first], [groups])."""
    rng = random.Random(seed)
    groups = ["Friends", "Golf, Club", "Ünïted", "Work"]
    people = []
    for i in range(count):
        name = "P" + "".join(rng.choice(LETTERS + SPECIALS) for _ in range(rng.randint(0, 10))) + " Z%d" % i
        addresses = ["p%d.%d@example.org" % (i, k) for k in range(rng.randint(1, 3))]
        people.append((name, addresses, rng.sample(groups, rng.randint(0, 2))))
    return people


def expected_book(people, mac):
    """The book an import of these people writes: the ungrouped first, then each group in the order the
    groups first appear, a person under each of its groups."""
    order = []
    for _, _, groups in people:
        order += [g for g in groups if g not in order]
    sections = [(None, [p for p in people if not p[2]])] + [(g, [p for p in people if g in p[2]]) for g in order]
    out = "" if mac else "&Main "
    for group, members in sections:
        if group is not None:
            out += '"%s" <GROUP@GROUP>\r\n' % group if mac else "&%s " % group
        for name, addresses, _ in members:
            for address in addresses:
                if mac:
                    quoted = any(c in SPECIALS for c in name)
                    out += ('"%s"' % name if quoted else name) + " <%s>\r\n" % address
                else:
                    out += "#%s ^%s " % (name, address)
    return (out if mac else out + "+").encode("mac_roman" if mac else "cp1252")


def vobject_cards(people):
    text = ""
    for name, addresses, groups in people:
        card = vobject.vCard()
        card.add("fn").value = name
        card.add("n").value = vobject.vcard.Name(family=name.split(" ")[-1], given=name.split(" ")[0])
        # The preferred address written last, so that only its mark puts it first.
        for k, address in enumerate(addresses[1:] + addresses[:1]):
            email = card.add("email")
            email.value = address
            email.type_param = ["INTERNET", "pref"] if k == len(addresses) - 1 and len(addresses) > 1 else ["INTERNET"]
        if groups:
            card.add("categories").value = groups
        text += card.serialize()
    return text.encode("utf-8")


def test_vobject():
    people = random_people(7, 60)
    data = vobject_cards(people)
    for direction, mac in (("vcf2mac", True), ("vcf2win", False)):
        status, out, err = convert(direction, data)
        check("python3-vobject's cards, %s: status 0, no changes" % direction, status == 0 and err == "", err)
        check("python3-vobject's cards, %s: the book" % direction, out == expected_book(people, mac), out[:600])
    # In UTF-16 with a byte order mark, as some Windows programs save them.
    status, out, _ = convert("vcf2mac", data.decode("utf-8").encode("utf-16"))
    check("python3-vobject's cards as UTF-16", status == 0 and out == expected_book(people, True), out[:300])


def test_vcards_js():
    modules = os.path.join(WORK, "npm", "node_modules")
    if not os.path.isdir(os.path.join(modules, "vcards-js")):
        check("vcards-js installed from npm", False, "not installed")
        return
    people = [("Zoë Ünal", ["z@example.org", "zw@example.org"]), ("Bob Smith", ["bob@example.org"])]
    script = """
const vCardsJS = require('vcards-js');
for (const [name, addresses] of %s) {
  const card = vCardsJS();
  [card.firstName, card.lastName] = name.split(' ');
  card.email = addresses[0];
  if (addresses[1]) card.workEmail = addresses[1];
  card.organization = 'ACME, Inc.';
  process.stdout.write(card.getFormattedString());
}""" % json.dumps(people)
    node = subprocess.run(["node", "-e", script], capture_output=True, env=dict(os.environ, NODE_PATH=modules))
    status, out, err = convert("vcf2win", node.stdout)
    expected = expected_book([(n, a, []) for n, a in people], False)
    check("vcards-js cards to W95", status == 0 and out == expected, (node.stderr, out, err))


def test_csv_module():
    people = random_people(11, 30)
    # Outlook's layout in Windows-1252, groups as its Categories; the name as its parts.
    rows = io.StringIO()
    writer = csv.writer(rows, lineterminator="\r\n")
    writer.writerow(["Title", "First Name", "Middle Name", "Last Name", "Suffix", "E-mail Address", "E-mail 2 Address",
                     "E-mail 3 Address", "Categories", "Notes"])
    for name, addresses, groups in people:
        writer.writerow(["", name, "", "", ""] + (addresses + ["", ""])[:3] + [";".join(groups), 'a "note",\r\nover lines'])
    status, out, err = convert("csv2mac", rows.getvalue().encode("cp1252"), "--charset", "windows-1252")
    check("Outlook's CSV layout from Python's csv module", status == 0 and out == expected_book(people, True), (out[:400], err))
    # Google's: several addresses in one cell, its own labels left out.
    rows = io.StringIO()
    writer = csv.writer(rows, lineterminator="\n")
    writer.writerow(["Name", "Given Name", "Family Name", "Group Membership", "E-mail 1 - Type", "E-mail 1 - Value"])
    for name, addresses, groups in people:
        writer.writerow([name, "", "", " ::: ".join(["* myContacts"] + groups), "* Home", " ::: ".join(addresses)])
    status, out, err = convert("csv2win", b"\xef\xbb\xbf" + rows.getvalue().encode("utf-8"))
    check("Google's CSV layout from Python's csv module", status == 0 and out == expected_book(people, False), (out[:400], err))
    status, out, err = convert("csv2mac", b"Name,Phone\r\nBob,1\r\n")
    check("an unknown CSV header refused, naming the columns looked for",
          status == 1 and out == b"" and '"E-mail Address"' in err and '"E-mail 1 - Value"' in err, err)


def test_ldif():
    # Two addresses of a name make one person; a third would make another.
    people = [(n, a[:2], g) for n, a, g in random_people(3, 40)]
    people.append(("Ann Lee", ["ann2@example.org"], ["Work"]))  # a second address of a name
    people.insert(0, ("Ann Lee", ["ann@example.org"], ["Work"]))
    people.append(("Long " + "x" * 100 + " back\\slash, + Ü", ["long@example.org"], ["Friends"]))
    book = expected_book([(n, a, g) for n, a, g in people], True)
    status, out, err = convert("mac2ldif", book)
    check("mac2ldif: status 0", status == 0, err)
    check("mac2ldif: lines of at most 76 bytes", all(len(line) <= 76 for line in out.split(b"\n")))
    parser = ldif.LDIFRecordList(io.BytesIO(out))
    parser.parse()
    records = {dn: entry for dn, entry in parser.all_records}
    people_records = [e for e in records.values() if b"inetOrgPerson" in e.get("objectclass", [])]
    mails = sorted(m.decode() for e in people_records for m in e.get("mail", []) + e.get("mozillaSecondEmail", []))
    wanted = sorted(set(a for _, addresses, _ in people for a in addresses))
    check("LDIF: every address once, a person for each", mails == wanted, (mails[:5], wanted[:5]))
    ann = [e for e in people_records if e["cn"] == ["Ann Lee".encode()]]
    check("LDIF: a second address of a name is its mozillaSecondEmail",
          len(ann) == 1 and ann[0].get("mozillaSecondEmail") == [b"ann2@example.org"], ann)
    def dn_names(dn):
        try:
            return [value for rdn in ldap.dn.str2dn(dn) for _, value, _ in rdn]
        except ldap.DECODING_ERROR:
            return None
    bad = [(dn, e["cn"]) for dn, e in records.items() if dn_names(dn) != [e["cn"][0].decode()] + [m.decode() for m in e.get("mail", [])]]
    check("LDIF: each dn is a valid distinguished name of the cn and the mail", not bad, bad[:2])
    names = sorted(e["cn"][0].decode("utf-8") for e in people_records)
    check("LDIF: names in UTF-8, accents and all", names == sorted(set(n for n, _, _ in people)), names[:5])
    for group in ("Friends", "Golf, Club", "Ünïted", "Work"):
        lists = [e for e in records.values() if e.get("cn") == [group.encode()] and b"groupOfNames" in e["objectclass"]]
        members = [records.get(m.decode("utf-8"), {}).get("cn", [b""])[0].decode() for m in (lists[0]["member"] if lists else [])]
        expected = []
        for name, _, groups in people:
            if group in groups and name not in expected:
                expected.append(name)
        check("LDIF: list %s holds its people, each once" % group, members == expected, (members, expected))


def test_ldif_of_any_book():
    """Books of any bytes give LDIF the parser takes whole, every line within 76 bytes."""
    rng = random.Random(5)
    pieces = [b"a", b"B", b" ", b"<", b">", b'"', b",", b"+", b"=", b"#", b":", b"\\", b"\r\n", b"\t", b"\x00",
              b"\xe9", b"\x8e", b"GROUP@GROUP", b"@example.org", b"&", b"^"]
    bad = []
    for _ in range(150):
        book = b"".join(rng.choice(pieces) for _ in range(rng.randint(0, 300)))
        for direction in ("mac2ldif", "win2ldif"):
            data = book if direction == "mac2ldif" else b"&Main " + book.replace(b"+", b"").replace(b"\x00", b"") + b" +"
            status, out, err = convert(direction, data)
            if status != 0 and direction == "win2ldif" and convert("win2mac", data)[0] != 0:
                continue  # a damaged W95 book, refused as win2mac refuses it
            try:
                parser = ldif.LDIFRecordList(io.BytesIO(out))
                parser.parse()
                fine = status == 0 and all(len(line) <= 76 for line in out.split(b"\n"))
            except Exception as error:  # the parser's own complaint is the finding
                fine = False
                err += repr(error)
            if not fine:
                bad.append((direction, data[:80], err[:200]))
    check("LDIF of 300 books of any bytes parsed whole", not bad, bad[:2])


test_vobject()
test_vcards_js()
test_csv_module()
test_ldif()
test_ldif_of_any_book()
print("%d passed, %d failed" % (results["passed"], results["failed"]))
sys.exit(1 if results["failed"] else 0)
