#!/usr/bin/python3
r"""Scores a stored mail with SpamAssassin next to a reference of the same
mail made by Python's email package, and tells which rules only the stored
mail hits.

    spam_compare.py --mail MESSAGE_FILE --reference-out FILE --home DIR
        --from-name NAME --from-address ADDR --to-name NAME --to-address ADDR
        --subject TEXT --body-file UTF8_TEXT_FILE [--attach PATH ...]

The reference is an email.message.EmailMessage with the same From and To
(names and addresses), subject, body text and attachment files, a Date of
now and a Message-ID on the sender's domain, written with CR LF line ends:
a plain mail of the same content as a standards-following program makes
it. Text attachments keep their bytes and are declared UTF-8 when they
decode as UTF-8, Shift_JIS when they decode as that.

Both files go through one `spamassassin -L -t` run (local tests only, no
network, Bayes off) with HOME and the user preferences inside DIR, so no
file outside DIR is written. Prints "key<TAB>value" lines (check_mail.py's
--flat escapes):
  mail.score, reference.score      the scores
  mail.tests, reference.tests      the rules hit, comma-separated, sorted
  only_mail                        rules the mail hits and the reference not
  mail.report, reference.report    SpamAssassin's table of the rules hit
Exit status 0 when both were scored, 3 when spamassassin is missing, 2
otherwise.
"""

import argparse
import email.policy
import email.utils
import mimetypes
import os
import re
import shutil
import subprocess
import sys
from email.headerregistry import Address
from email.message import EmailMessage


def attachment_type(path, data):
    guessed, _ = mimetypes.guess_type(path)
    maintype, subtype = (guessed or "application/octet-stream").split("/", 1)
    params = {}
    if maintype == "text":
        for charset in ("utf-8", "shift_jis"):
            try:
                data.decode(charset)
            except UnicodeDecodeError:
                continue
            params["params"] = {"charset": charset}
            break
    return maintype, subtype, params


def reference_mail(args):
    message = EmailMessage()
    message["From"] = Address(args.from_name, addr_spec=args.from_address)
    message["To"] = Address(args.to_name, addr_spec=args.to_address)
    message["Subject"] = args.subject
    message["Date"] = email.utils.formatdate(localtime=True)
    message["Message-ID"] = email.utils.make_msgid(domain=args.from_address.rpartition("@")[2])
    with open(args.body_file, encoding="utf-8") as f:
        message.set_content(f.read())
    for path in args.attach:
        with open(path, "rb") as f:
            data = f.read()
        maintype, subtype, extra = attachment_type(path, data)
        message.add_attachment(data, maintype=maintype, subtype=subtype,
                               filename=os.path.basename(path), **extra)
    return message.as_bytes(policy=email.policy.SMTP)


def spam_status(output):
    """(score, [tests]) of every X-Spam-Status header in the output, in order."""
    found = []
    for match in re.finditer(rb"^X-Spam-Status: (.*(?:\r?\n[ \t].*)*)", output, re.M):
        value = re.sub(rb"\s+", b" ", match.group(1)).decode("ascii", "replace")
        score = re.search(r"score=(-?[0-9.]+)", value)
        tests = re.search(r"tests=(\S*)", value)
        names = [] if tests is None or tests.group(1) == "none" else tests.group(1).split(",")
        found.append((score.group(1) if score else "", sorted(n for n in names if n)))
    return found


def reports(output):
    """SpamAssassin's table of rules hit, one per scored message, in order."""
    tables = []
    for match in re.finditer(rb"Content analysis details:[^\n]*\n\n(.*?)(?:\n[ \t]*\n|\Z)",
                             output, re.S):
        tables.append(match.group(1).decode("utf-8", "replace").strip())
    return tables


def escaped(text):
    return (text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
            .replace("\t", "\\t"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mail", required=True)
    parser.add_argument("--reference-out", required=True)
    parser.add_argument("--home", required=True)
    for name in ("from-name", "from-address", "to-name", "to-address", "subject", "body-file"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--attach", action="append", default=[])
    args = parser.parse_args()

    spamassassin = shutil.which("spamassassin")
    if spamassassin is None:
        sys.stderr.write("spam_compare.py: spamassassin is not installed\n")
        return 3
    with open(args.reference_out, "wb") as f:
        f.write(reference_mail(args))

    os.makedirs(args.home, exist_ok=True)
    environment = dict(os.environ, HOME=args.home)
    # One run for both mails: most of SpamAssassin's time goes into
    # reading its rules.
    result = subprocess.run(
        [spamassassin, "-L", "-t", "-x", "-p", os.path.join(args.home, "user_prefs"),
         "--cf=use_bayes 0", "--cf=bayes_auto_learn 0", args.mail, args.reference_out],
        env=environment, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    statuses = spam_status(result.stdout)
    if result.returncode != 0 or len(statuses) != 2:
        sys.stderr.write("spam_compare.py: spamassassin exited with %d and scored %d of 2 "
                         "mails\n%s\n" % (result.returncode, len(statuses),
                                          result.stderr.decode("utf-8", "replace")))
        return 2
    tables = reports(result.stdout) + ["", ""]
    lines = []
    for key, (score, tests), table in zip(("mail", "reference"), statuses, tables):
        lines.append((key + ".score", score))
        lines.append((key + ".tests", ",".join(tests)))
        lines.append((key + ".report", table))
    only = sorted(set(statuses[0][1]) - set(statuses[1][1]))
    lines.append(("only_mail", ",".join(only)))
    sys.stdout.write("".join("%s\t%s\n" % (k, escaped(v)) for k, v in lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
