"""Generated address books exported by ferryline-convert and read back by independent parsers.

Usage: exports_test.py FERRYLINE-CONVERT WORK-FOLDER. Prints PASS/FAIL lines (a failure's detail on the next
line) and "N passed, N failed".
"""
import csv
import io
import os
import random
import re
import shutil
import subprocess
import sys
import uuid

import vobject

CONVERT, WORK = sys.argv[1], sys.argv[2]
os.makedirs(WORK, exist_ok=True)
results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    results["passed" if ok else "failed"] += 1
    print(("PASS " if ok else "FAIL ") + name + ("" if ok else "\n    " + str(detail)[:600]))
    return ok


def run(*args, stdin=None):
    done = subprocess.run([CONVERT, *args], input=stdin, capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


# --- Generated books ---------------------------------------------------------------------------------

SPECIAL = set('()<>@,;:\\.[]')
# Letters each 8-bit set holds (Mac OS Roman has no Š, Windows-1252 no π or ﬁ).
MAC_LETTERS = "ÄÅÇÉÑÖÜáàâäãåçéèêëíìîïñóòôöõúùûüßæøœÆØŒÀÃÕÿŸ"
WIN_LETTERS = "ÄÅÇÉÑÖÜáàâäãåçéèêëíìîïñóòôöõúùûüßæøœÆØŒÀÃÕÿŸŠšŽžÐðÞþÝý"
NAMES = ["Bob Smith", "Smith, Bob", "Eve O'Test, PhD", "Dr. Who", "A;B Semi", "back\\slash Person",
         'Say "hi" now', "comma, semi; both", "Single", "van der Berg Anna", "x" * 150 + " Long",
         "=SUM(A1) Formula", "@home Person", "-dash Person"]
# UIDs are version 5 UUIDs in Ferryline's namespace: of name, line feed and address for a person, a group's name.
UID_SPACE = uuid.UUID("314be543-5913-4e21-8d02-b988ef6d11d3")
# A CSV cell beginning so gets a "'" before it, so that no spreadsheet runs it.
FORMULA_START = ("=", "+", "-", "@", "\t", "\r")
GOOGLE_HEADER = ["First Name", "Middle Name", "Last Name", "Phonetic First Name", "Phonetic Middle Name",
                 "Phonetic Last Name", "Name Prefix", "Name Suffix", "Nickname", "File As", "Organization Name",
                 "Organization Title", "Organization Department", "Birthday", "Notes", "Photo", "Labels",
                 "E-mail 1 - Label", "E-mail 1 - Value"]


def uid(*texts):
    return "urn:uuid:%s" % uuid.uuid5(UID_SPACE, "\n".join(texts))


def as_text(cell):
    return "'" + cell if cell.startswith(FORMULA_START) else cell


def person_name(rng, letters, i):
    name = rng.choice(NAMES) + " " + "".join(rng.choice(letters) for _ in range(rng.randint(0, 4)))
    return (name.strip() + " " + str(i)).strip()


def make_items(seed, letters, plus):
    """A book as a list of ('group', name) and ('entry', name, address); '' is a line without a name."""
    rng = random.Random(seed)
    people = [(person_name(rng, letters, i), "p%d%s@example.org" % (i, "+tag" if plus and i % 3 == 0 else ""))
              for i in range(30)]
    people.append(("", "nameless@example.org"))
    groups = ["Friends", "Work, old;team", "Ünïcode " + letters[:5], "back\\slash"]
    items = [("entry",) + p for p in people[:5]]
    # People alike in name or in address are people of their own, each with a UID of its own.
    items += [("entry", people[0][0], "other@example.org"), ("entry", "Same Address", people[1][1])]
    for g in groups + groups[:2]:  # the first two groups come twice
        items.append(("group", g))
        items += [("entry",) + rng.choice(people) for _ in range(6)]
    items.append(("entry",) + people[-1])
    return items


def expected_people(items, main_joins):
    """People in order of first appearance: [name, address, [groups]]; and the groups in the book's order."""
    people, groups, group = {}, [], None
    for item in items:
        if item[0] == "group":
            if not (main_joins and item[1] == "Main"):
                group = item[1]
                groups += [group] if group not in groups else []
            continue
        person = people.setdefault((item[1], item[2]), [item[1], item[2], []])
        if group and group not in person[2]:
            person[2].append(group)
    return list(people.values()), groups


def mac_book(items):
    lines = []
    for item in items:
        if item[0] == "group":
            lines.append('"%s" <GROUP@GROUP>' % item[1])
        elif item[1] == "":
            lines.append(item[2])
        else:
            quoted = any(c in SPECIAL for c in item[1])
            lines.append(('"%s" <%s>' if quoted else "%s <%s>") % (item[1], item[2]))
    return "".join(line + "\r\n" for line in lines)


def w95_book(items):
    parts = ["&Main "]
    for item in items:
        parts.append("&%s " % item[1] if item[0] == "group" else "#%s ^%s " % item[1:])
    return "".join(parts) + "+"


def w95_items(items):
    """The items as a W95 book holds them: its edition has no entry without a name, and the converter names one
    "No Name 01"."""
    return [("entry", "No Name 01", item[2]) if item[0] == "entry" and not item[1] else item for item in items]


# --- Reading the exports back -------------------------------------------------------------------------

def physical_lines_ok(data):
    lines = data.split(b"\r\n")
    return lines[-1] == b"" and all(b"\n" not in l and b"\r" not in l and len(l) <= 75 for l in lines)


def card_uid(card):
    return card.uid.value if "uid" in card.contents else None


def check_vcard(name, data, book, version):
    people, group_names = book
    try:
        text = data.decode("utf-8")
        cards = list(vobject.readComponents(text))
    except Exception as error:  # noqa: BLE001 - any parser failure is the finding
        check(name + ": parses", False, repr(error))
        return
    check(name + ": CRLF lines of at most 75 octets", physical_lines_ok(data))
    persons = [c for c in cards if "kind" not in c.contents]
    groups = [c for c in cards if "kind" in c.contents]
    check(name + ": one card per person", len(persons) == len(people), "%d cards for %d" % (len(persons), len(people)))
    allowed = {"VERSION", "FN", "N", "EMAIL", "CATEGORIES", "UID"}
    bad = []
    uids = {}
    for card, (pname, address, pgroups) in zip(persons, people):
        names = {line.name for line in card.getChildren()}
        n = card.n.value
        got = (card.version.value, card.fn.value, card.email.value,
               card.categories.value if "categories" in card.contents else [], card_uid(card))
        want = (version, pname or address, address, pgroups, uid(pname, address))
        parts_ok = all(part in pname for part in (n.given, n.family, n.suffix)) and (bool(pname) == bool(n.given or n.family))
        type_ok = version == "4.0" or card.email.params.get("TYPE") == ["INTERNET"]
        if got != want or not names <= allowed or not parts_ok or not type_ok:
            bad.append((got, want, names - allowed, (n.given, n.family, n.suffix)))
        uids[(pname, address)] = card_uid(card)
    check(name + ": every card's FN, N, EMAIL, CATEGORIES and UID (from name and address)", not bad, bad[:2])
    all_uids = [card_uid(c) for c in cards]
    check(name + ": UIDs unique", len(set(all_uids)) == len(all_uids))
    if version != "4.0":
        check(name + ": no group cards in 3.0", not groups)
        return
    members = {g: {uids[(p[0], p[1])] for p in people if g in p[2]} for g in group_names}
    got = [(c.fn.value, card_uid(c), {m.value for m in c.contents.get("member", [])},
            {line.name for line in c.getChildren()} <= {"VERSION", "KIND", "FN", "UID", "MEMBER"}) for c in groups]
    want = [(g, uid(g), members[g], True) for g in group_names]
    check(name + ": a KIND:group card with MEMBER lines for each group, in the book's order", got == want,
          [(g, w) for g, w in zip(got, want) if g != w][:2] or (len(got), len(want)))
    # The same membership seen from each person: the groups whose cards name it are its CATEGORIES.
    naming = {person: [c.fn.value for c in groups if person in {m.value for m in c.contents.get("member", [])}]
              for person in uids.values()}
    check(name + ": each person is a MEMBER of its groups' cards alone",
          all(sorted(naming[uids[(p[0], p[1])]]) == sorted(p[2]) for p in people), list(naming.items())[:2])


def check_csv(name, data, book, changes):
    """The default layout; `changes` is what -v listed."""
    people = book[0]
    check(name + ": UTF-8 with a byte order mark, CRLF rows", data.startswith(b"\xef\xbb\xbf") and data.endswith(b"\r\n"))
    rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"), newline="")))
    header = ["First Name", "Last Name", "E-mail Display Name", "E-mail Address", "Categories"]
    check(name + ": header", rows and rows[0] == header, rows[:1])
    got = [(r[2], r[3], r[4]) for r in rows[1:]]
    want = [(as_text(p[0]), as_text(p[1]), as_text(";".join(p[2]))) for p in people]
    check(name + ": one row per person with name, address and groups, formulas as text", got == want,
          [(g, w) for g, w in zip(got, want) if g != w][:2] or (len(got), len(want)))
    split_ok = all(r[0] in r[2] and r[1] in r[2] for r in rows[1:])
    check(name + ": first and last name come from the name", split_ok)
    guarded = sum(cell.startswith(tuple("'" + c for c in FORMULA_START)) for row in rows[1:] for cell in row)
    listed = changes.count("would be a formula in a spreadsheet")
    check(name + ": -v lists each cell given a \"'\"", guarded > 0 and listed == guarded, (guarded, listed))


def check_google_csv(name, data, book):
    """Google Contacts' layout, read by its header as Google's import reads it."""
    people = book[0]
    check(name + ": UTF-8 without a byte order mark, CRLF rows", not data.startswith(b"\xef\xbb\xbf") and data.endswith(b"\r\n"))
    reader = csv.DictReader(io.StringIO(data.decode("utf-8"), newline=""))
    rows = list(reader)
    check(name + ": Google's header", reader.fieldnames == GOOGLE_HEADER, reader.fieldnames)
    got = [(r["E-mail 1 - Value"], r["Labels"].split(" ::: ")) for r in rows]
    want = [(as_text(p[1]), ["* myContacts"] + p[2]) for p in people]
    check(name + ": one row per person with address and labels", got == want,
          [(g, w) for g, w in zip(got, want) if g != w][:2] or (len(got), len(want)))
    # Every word of the name lands in one of the three, and nothing else does.
    words = lambda *texts: sorted(" ".join(texts).replace(",", " ").split())
    bad = [(r["First Name"], r["Last Name"], r["Name Suffix"], p[0]) for r, p in zip(rows, people)
           if words(*(r[part][1:] if r[part].startswith("'") else r[part] for part in ("First Name", "Last Name", "Name Suffix")))
           != words(p[0]) or r["Middle Name"] != ""]
    check(name + ": first name, last name and suffix are the words of the name", not bad, bad[:2])


def export_all(label, direction_prefix, book_bytes, book, extra=()):
    path = os.path.join(WORK, label)
    with open(path, "wb") as f:
        f.write(book_bytes)
    for version in ("3.0", "4.0"):
        status, out, err = run(*extra, "--vcard", version, direction_prefix + "2vcf", path, "-")
        if check("%s vCard %s: exit 0" % (label, version), status == 0, err):
            check_vcard("%s vCard %s" % (label, version), out, book, version)
    status, out, err = run(*extra, "-v", direction_prefix + "2csv", path, "-")
    if check(label + " CSV: exit 0", status == 0, err):
        check_csv(label + " CSV", out, book, err)
    status, again, err = run(*extra, "--csv", "google", direction_prefix + "2csv", path, "-")
    if check(label + " Google CSV: exit 0", status == 0, err):
        check_google_csv(label + " Google CSV", again, book)


# --- The cases --------------------------------------------------------------------------------------

mac_items = make_items(1, MAC_LETTERS, True)
mac_book_expected = expected_people(mac_items, False)
mac_text = mac_book(mac_items)
for label, encoding in (("mac-roman", "mac_roman"), ("mac-utf8-bom", "utf-8-sig"), ("mac-utf16", "utf-16")):
    export_all(label, "mac", mac_text.encode(encoding), mac_book_expected)
# --charset overrides: a Mac book saved on Windows.
export_all("mac-as-1252", "mac", mac_text.encode("cp1252"), mac_book_expected, ("--charset", "windows-1252"))

win_items = w95_items(make_items(2, WIN_LETTERS, False)) + [("group", "Main"), ("entry", "Joins Last", "last@example.org")]
win_book_expected = expected_people(win_items, True)
win_text = w95_book(win_items)
for label, encoding in (("w95-1252", "cp1252"), ("w95-utf8", "utf-8"), ("w95-utf16be", "utf-16-be")):
    data = win_text.encode(encoding)
    export_all(label, "win", (b"\xfe\xff" if encoding == "utf-16-be" else b"") + data, win_book_expected)

# Names split as address books keep them: (name, given, family, suffix).
NAME_PARTS = [("Smith, Bob", "Bob", "Smith", ""), ("Eve O'Test, PhD", "Eve", "O'Test", "PhD"),
              ("Anna van der Berg", "Anna van der", "Berg", ""), ("Single", "Single", "", ""),
              ("Dr. Who, The Second", "Dr.", "Who", "The Second"), ('Say "hi" now', 'Say "hi"', "now", "")]
parts_book = os.path.join(WORK, "parts.txt")
with open(parts_book, "wb") as f:
    f.write(mac_book([("entry", p[0], "p%d@x" % i) for i, p in enumerate(NAME_PARTS)]).encode())
status, out, err = run("mac2vcf", parts_book, "-")
got = [(c.n.value.given, c.n.value.family, c.n.value.suffix) for c in vobject.readComponents(out.decode())]
check("vCard N: given, family and suffix", got == [p[1:] for p in NAME_PARTS], got)
status, out, err = run("mac2csv", parts_book, "-")
got = [tuple(row[:2]) for row in csv.reader(io.StringIO(out.decode("utf-8-sig"), newline=""))][1:]
check("CSV: first and last name", got == [p[1:3] for p in NAME_PARTS], got)

# Long names of two-, three- and four-byte characters, at every place a fold can fall, fold between them.
wide_book = os.path.join(WORK, "wide.txt")
wide_names = ["a" * shift + "é€😀" * 30 for shift in range(4)]
with open(wide_book, "wb") as f:
    f.write(mac_book([("entry", name, "w%d@x" % i) for i, name in enumerate(wide_names)]).encode())
for version in ("3.0", "4.0"):
    status, out, err = run("--vcard", version, "mac2vcf", wide_book, "-")
    try:
        got = [c.fn.value for c in vobject.readComponents(out.decode("utf-8"))]
    except Exception as error:  # noqa: BLE001 - a sequence split by a fold is the finding
        got = repr(error)
    check("vCard %s: long names of multibyte characters" % version, physical_lines_ok(out) and got == wide_names, got)

# khard, an address book on a vdir (a folder of one card a file, as vdirsyncer keeps one), loads every card
# of an export and finds each person by the UID it was given; a card without one it leaves out.
def check_khard(name, data, book, version):
    folder = os.path.join(WORK, "vdir-" + version)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i, card in enumerate(data.split(b"BEGIN:VCARD\r\n")[1:]):
        with open(os.path.join(folder, "%d.vcf" % i), "wb") as f:
            f.write(b"BEGIN:VCARD\r\n" + card)
    config = os.path.join(WORK, "khard.conf")
    with open(config, "w") as f:
        f.write("[addressbooks]\n[[export]]\npath = %s/\n[general]\ndefault_action = list\n" % os.path.abspath(folder))
    try:
        done = subprocess.run(["khard", "-c", config, "list", "-p"], capture_output=True, text=True)
    except FileNotFoundError:
        check(name + ": khard is installed (tools/setup)", False)
        return
    listed = [line.split("\t")[0] for line in done.stdout.splitlines()]
    want = [uid(p[0], p[1]) for p in book[0]] + ([uid(g) for g in book[1]] if version == "4.0" else [])
    check(name + ": khard loads every card under its UID", done.returncode == 0 and done.stderr == ""
          and sorted(listed) == sorted(want), (done.returncode, done.stderr[:300], len(listed), len(want)))


for version in ("3.0", "4.0"):
    status, out, err = run("--vcard", version, "mac2vcf", os.path.join(WORK, "mac-roman"), "-")
    check_khard("mac-roman vCard %s" % version, out, mac_book_expected, version)

# -v lists what the export did, never a conversion's change: a nameless card named by its address.
book = os.path.join(WORK, "odd.txt")
with open(book, "wb") as f:
    f.write(b"a@x\r\nB <b@x>\r\n\r\nc@x\r\n")
status, out, err = run("-v", "mac2vcf", book, "-")
check("nameless Mac lines listed by -v", status == 0 and err ==
      'ferryline-convert: line 1: no personal name, exported with its address as its name: "a@x"\n'
      'ferryline-convert: line 4: no personal name, exported with its address as its name: "c@x"\n', err)
check("nameless Mac lines: FN is the address", [c.fn.value for c in vobject.readComponents(out.decode())] == ["a@x", "B", "c@x"])
status, out, err = run("-v", "mac2csv", book, "-")
check("an address kept as it is is no change", status == 0 and err == "", err)

# A person in group A, then 16 other groups, then A again: one contact, A once in its categories and
# one MEMBER line of A.
with open(book, "wb") as f:
    lines = ['"A" <GROUP@GROUP>', "Ann <a@x>"]
    for g in range(16):
        lines += ['"G%d" <GROUP@GROUP>' % g, "Ann <a@x>"]
    lines += ['"A" <GROUP@GROUP>', "Ann <a@x>"]
    f.write(("\r\n".join(lines) + "\r\n").encode())
status, out, err = run("-v", "--vcard", "4.0", "mac2vcf", book, "-")
cards = list(vobject.readComponents(out.decode()))
categories = [c.categories.value for c in cards if "categories" in c.contents]
check("a group far apart comes once in Categories", categories == [["A"] + ["G%d" % g for g in range(16)]], categories)
members = [len(c.contents.get("member", [])) for c in cards if c.fn.value == "A"]
check("and once among its group's members", members == [1], members)
check("a person listed more than once is listed by -v", err ==
      'ferryline-convert: line 2: "Ann" <a@x> is listed more than once; exported as one contact in all its groups\n', err)
status, out, err = run("mac2csv", book, "-")
check("and once in the CSV categories", out.decode("utf-8-sig").splitlines()[1].endswith(",A;" + ";".join("G%d" % g for g in range(16))), out)
# The exports tell nameless lines at the line numbers mac2win gives them, whatever ends the lines before.
with open(book, "wb") as f:
    f.write(b"".join(b"n%d@x%s\"N, %d\" <m%d@x>\r\n" % (i, (b"\r\n", b"\n", b"\r")[i % 3], i, i) for i in range(101)))
named = re.findall(r'line (\d+): no personal name, named "[^"]*": "([^"]*)"', run("-v", "mac2win", book, "-")[2])
status, out, err = run("-v", "mac2vcf", book, "-")
exported = re.findall(r'line (\d+): no personal name, exported with its address as its name: "([^"]*)"', err)
check("mac2vcf -v tells nameless lines where mac2win does", status == 0 and len(named) == 101 and exported == named,
      (exported[:3], named[:3]))
with open(book, "wb") as f:
    f.write(b"&Main #Ann ^a@x #Gone &G #Bo ^b@x &H #Bo ^b@x +")
status, out, err = run("-v", "win2csv", book, "-")
check("W95 entry without an address left out and listed", status == 0 and err == 'ferryline-convert: entry 2: "Gone" left out, it has no address\n'
      'ferryline-convert: entry 3: "Bo" <b@x> is listed more than once; exported as one contact in all its groups\n'
      and out.decode("utf-8-sig").splitlines()[1:] == ["Ann,,Ann,a@x,", "Bo,,Bo,b@x,G;H"], (err, out))

# Failures: the wrong edition, bad options; nothing is written and an existing file stays.
target = os.path.join(WORK, "kept.vcf")
with open(target, "wb") as f:
    f.write(b"before")
with open(book, "wb") as f:
    f.write(mac_text.encode("mac_roman"))
status, out, err = run("win2vcf", book, target)
check("a Mac book given to win2vcf is refused", status == 1 and err == "The file odd.txt is a Macintosh address book, "
      "not a Corvella W95 one.\nAn error occurred while converting the file\n"
      "ferryline-convert: mac2vcf converts it; -f converts it as a W95 book all the same\n", err)
check("the refused export leaves the output as it was", open(target, "rb").read() == b"before")
for args in (["--vcard", "5.0", "mac2vcf"], ["--charset", "ebcdic", "mac2csv"], ["--vcard"], ["mac2json"]):
    status, out, err = run(*args, book, os.path.join(WORK, "never"))
    check("wrong usage %s: exit 2" % " ".join(args), status == 2 and not os.path.exists(os.path.join(WORK, "never")), err)

# Accented letters between the editions: every letter both sets hold arrives, the others become '?'.
both = "".join(c for c in MAC_LETTERS if c in WIN_LETTERS)
with open(book, "wb") as f:
    f.write(("%s <a@x>\r\nπ∞ <b@x>\r\n" % both).encode("mac_roman"))
status, out, err = run("-v", "--recode", "mac2win", book, "-")
check("--recode mac2win writes Windows-1252", status == 0 and out == ("&Main #%s ^a@x #?? ^b@x +" % both).encode("cp1252"), out)
check("--recode lists what became '?'", 'line 2: "π∞ <b@x>": 2 characters that Windows-1252 can\'t hold became "?"' in err, err)
with open(book, "wb") as f:
    f.write(("&Main #%sŠ ^a@x +" % both).encode("cp1252"))
status, out, err = run("--recode", "win2mac", book, "-")
check("--recode win2mac writes Mac OS Roman", status == 0 and out == ("%s? <a@x>\r\n" % both).encode("mac_roman"), out)
status, out, err = run("win2mac", book, "-")
check("without --recode the bytes stay, with one hint", status == 0 and out == ("%sŠ <a@x>\r\n" % both).encode("cp1252")
      and err.count("ferryline-convert: ") == 1 and "--recode converts them" in err, (out, err))
status, out, err = run("win2mac", "-", "-", stdin=b"&Main #Ann ^a@x +")
check("no hint for a book of ASCII alone", status == 0 and err == "", err)

print("%d passed, %d failed" % (results["passed"], results["failed"]))
sys.exit(1 if results["failed"] else 0)
