#!/usr/bin/env python3
"""Writes a synthetic heavy Thunderbird/Firefox profile for the archive benchmark.

Everything is generated from a fixed seed, so two runs give the same tree: mbox mail
folders with their summaries, real SQLite databases (history, cookies, favicons with
image blobs, a global message index), thousands of small cache entries and
already-compressed .xpi extensions.

    make_profile.py FOLDER [--megabytes 300]
"""

import argparse
import base64
import io
import os
import random
import sqlite3
import zipfile

WORDS = (
    "the of and to in is that for it as with was on be by at this from or have an they "
    "which one you were all we when there can been has more if will no other would what "
    "about out many then them these so some her see him two make like into time look "
    "dobrý den posílám podklady k poradě zpráva faktura objednávka termín schůzka projekt "
    "rozpočet smlouva příloha pozdravem děkuji prosím zítra včera týden měsíc report "
    "meeting invoice schedule project budget contract attachment thanks regards tomorrow"
).split()


def text(rng, words):
    return " ".join(rng.choice(WORDS) for _ in range(words))


def write_mbox(path, rng, target):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    written = 0
    n = 0
    with open(path, "w", encoding="utf-8") as out:
        while written < target:
            n += 1
            body_lines = [text(rng, rng.randint(6, 14)) for _ in range(rng.randint(5, 60))]
            msg = (
                f"From - Mon Mar {1 + n % 28:2d} 10:{n % 60:02d}:00 2009\n"
                "X-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\n"
                f"Return-Path: <user{n % 97}@example.com>\n"
                f"From: User {n % 97} <user{n % 97}@example.com>\n"
                "To: Jana Novakova <jana@example.org>\n"
                f"Subject: {text(rng, rng.randint(2, 7))}\n"
                f"Date: Mon, {1 + n % 28} Mar 2009 10:{n % 60:02d}:00 +0100\n"
                f"Message-ID: <{n}.{rng.getrandbits(32):08x}@example.com>\n"
                "MIME-Version: 1.0\n"
            )
            if n % 9 == 0:
                # A message with an attachment: base64 of data that does not compress.
                blob = base64.encodebytes(rng.randbytes(rng.randint(20_000, 200_000))).decode()
                msg += (
                    'Content-Type: multipart/mixed; boundary="b1"\n\n--b1\n'
                    "Content-Type: text/plain; charset=UTF-8\n\n"
                    + "\n".join(body_lines)
                    + '\n--b1\nContent-Type: image/jpeg; name="photo.jpg"\n'
                    "Content-Transfer-Encoding: base64\n\n" + blob + "--b1--\n\n"
                )
            else:
                msg += "Content-Type: text/plain; charset=UTF-8\n\n" + "\n".join(body_lines) + "\n\n"
            out.write(msg)
            written += len(msg.encode("utf-8"))
    with open(path + ".msf", "w") as msf:
        msf.write('// <!-- <mdb:mork:z v="1.4"/> -->\n< <(a=c)> // (f=iso-8859-1)\n')
        for i in range(min(n, 20000)):
            msf.write(f"[{i:X}(^80={i * 131:X})(^81=<{i}@example.com>)(^82={text(rng, 3)})]\n")
    return written


def write_places(path, rng, target):
    db = sqlite3.connect(path)
    db.execute("PRAGMA page_size=32768")
    db.execute("PRAGMA journal_mode=OFF")
    db.execute(
        "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,"
        " rev_host LONGVARCHAR, visit_count INTEGER, frecency INTEGER, guid TEXT,"
        " description TEXT)"
    )
    db.execute("CREATE INDEX moz_places_url ON moz_places (url)")
    rows = 0
    batch = []
    while True:
        host = f"www.{rng.choice(WORDS)}{rng.randint(1, 999)}.example.org"
        batch.append(
            (
                f"https://{host}/{text(rng, 3).replace(' ', '/')}?id={rng.getrandbits(40)}",
                text(rng, rng.randint(3, 9)),
                host[::-1] + ".",
                rng.randint(0, 300),
                rng.randint(-1, 20000),
                base64.urlsafe_b64encode(rng.randbytes(9)).decode(),
                text(rng, rng.randint(0, 30)),
            )
        )
        if len(batch) == 5000:
            db.executemany(
                "INSERT INTO moz_places (url, title, rev_host, visit_count, frecency, guid,"
                " description) VALUES (?,?,?,?,?,?,?)",
                batch,
            )
            rows += len(batch)
            batch = []
            db.commit()
            if os.path.getsize(path) >= target:
                break
    db.close()
    return os.path.getsize(path)


def write_favicons(path, rng, target):
    db = sqlite3.connect(path)
    db.execute("PRAGMA page_size=32768")
    db.execute("PRAGMA journal_mode=OFF")
    db.execute("CREATE TABLE moz_icons (id INTEGER PRIMARY KEY, icon_url TEXT, data BLOB)")
    while os.path.getsize(path) < target:
        db.executemany(
            "INSERT INTO moz_icons (icon_url, data) VALUES (?, ?)",
            [
                (f"https://{rng.choice(WORDS)}.example.org/favicon.ico", rng.randbytes(rng.randint(500, 12000)))
                for _ in range(500)
            ],
        )
        db.commit()
    db.close()
    return os.path.getsize(path)


def write_cache(folder, rng, target):
    os.makedirs(folder, exist_ok=True)
    written = 0
    i = 0
    while written < target:
        i += 1
        name = f"{rng.getrandbits(160):040X}"
        if i % 3 == 0:
            data = ("<html><body>" + text(rng, rng.randint(100, 3000)) + "</body></html>").encode()
        else:
            data = rng.randbytes(rng.randint(1000, 30000))  # images, already compressed
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
        written += len(data)
    return written, i


def write_xpi(path, rng, size):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("manifest.json", '{"manifest_version": 2, "name": "%s"}' % text(rng, 2))
        left = size
        k = 0
        while left > 0:
            k += 1
            if k % 2:
                payload = ("function f%d() { return '%s'; }\n" % (k, text(rng, 20))) * 200
                z.writestr(f"content/script{k}.js", payload)
                left -= len(payload) // 4
            else:
                payload = rng.randbytes(min(left, 400_000))
                z.writestr(f"skin/image{k}.png", payload)
                left -= len(payload)
    with open(path, "wb") as out:
        out.write(buf.getvalue())
    return os.path.getsize(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--megabytes", type=int, default=300)
    args = parser.parse_args()
    mb = 1024 * 1024
    total = args.megabytes * mb
    rng = random.Random(20090302)
    root = args.folder
    os.makedirs(root, exist_ok=True)

    with open(os.path.join(root, "prefs.js"), "w") as out:
        out.write("// Mozilla User Preferences\n\n")
        for i in range(400):
            out.write(f'user_pref("extensions.bench.pref{i}", "{text(rng, 4)}");\n')

    mail = 0.40 * total
    folders = ["Inbox", "Sent", "Archives.sbd/2008", "Archives.sbd/2009", "Drafts", "Junk"]
    shares = [0.35, 0.15, 0.2, 0.2, 0.05, 0.05]
    for name, share in zip(folders, shares):
        write_mbox(os.path.join(root, "Mail", "Local Folders", name), rng, int(mail * share))
    write_mbox(os.path.join(root, "ImapMail", "imap.example.org", "INBOX"), rng, int(0.05 * total))

    write_places(os.path.join(root, "places.sqlite"), rng, int(0.12 * total))
    write_favicons(os.path.join(root, "favicons.sqlite"), rng, int(0.05 * total))
    write_places(os.path.join(root, "global-messages-db.sqlite"), rng, int(0.06 * total))

    cache_bytes, cache_files = write_cache(os.path.join(root, "cache2", "entries"), rng, int(0.17 * total))

    os.makedirs(os.path.join(root, "extensions"), exist_ok=True)
    xpi_total = int(0.13 * total)
    k = 0
    while xpi_total > 0:
        k += 1
        size = min(xpi_total, rng.randint(2 * mb, 8 * mb))
        xpi_total -= write_xpi(os.path.join(root, "extensions", f"addon{k}@example.org.xpi"), rng, size)

    files = sum(len(f) for _, _, f in os.walk(root))
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(root) for f in fs)
    print(f"profile: {root}: {files} files, {size / mb:.1f} MiB ({cache_files} cache entries, {k} xpi)")


if __name__ == "__main__":
    main()
