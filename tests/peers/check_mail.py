#!/usr/bin/python3
r"""Reads one stored message and prints what a receiving mail program sees.

    check_mail.py [--flat] MESSAGE_FILE

Prints one JSON object, or with --flat one "key<TAB>value" line per leaf
(keys joined with ".", list items by index; values with backslash, CR, LF
and TAB written as \\, \r, \n, \t; null as the empty value), which is
easy to read from C++:
  from, to, reply_to, cc
                   {"name": display name, "address": addr-spec} (decoded),
                   "parsed_name": the name as Python's address parser gives it
                   (null when the header is absent)
  list_unsubscribe, list_unsubscribe_post
                   the RFC 2369 / RFC 8058 header values (null when absent)
  subject          decoded subject
  date, mime_version, message_id, x_mailer, content_type
                   the header values (null when absent)
  date_utc         the Date as seconds since the epoch
  date_local       the Date as YYYYMMDDHHMMSS in its own zone
  date_offset      the Date's zone as seconds east of UTC
  header_names     the header field names in order
  header_defects   {name: [defect, ...]} for headers the parser complained
                   about
  body             the decoded text of the (first) text/plain part
  body_charset     its charset parameter
  body_nkf         the same raw part bytes decoded by `nkf -J -w` (null when
                   nkf is missing)
  attachments      [{"filename", "filename_rfc2231", "content_type",
                     "charset", "length", "sha256", "base64_max_line",
                     "defects", "header_defects"}]; filename_rfc2231 is the
                   RFC 2231 filename* parameter alone, decoded (null when
                   absent), header_defects as above for the part's headers
  raw              {"max_line", "max_header_line", "header_lines_over_998",
                    "lines_over_998", "seven_bit", "bare_lf", "bare_cr",
                    "size"}

The body and the subject are decoded with Python's email package
(policy.default), the way a standards-following mail reader does it.
"""

import base64
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import re
import shutil
import subprocess
import sys


def address(header, raw_value):
    """The display name and address of an address header.

    "name" follows RFC 2047 6.2 (white space between two encoded words is
    not shown), as mail readers do; Python's modern address parser keeps a
    space there, so its reading is reported apart as "parsed_name".
    """
    if header is None:
        return None
    result = {"name": None, "address": None, "parsed_name": None}
    try:
        addresses = header.addresses
        if addresses:
            result["parsed_name"] = addresses[0].display_name
            result["address"] = addresses[0].addr_spec
    except Exception as error:  # a header the parser could not split
        result["error"] = repr(error)
    unfolded = re.sub(r"\r?\n(?=[ \t])", "", raw_value or "")
    name, addr = email.utils.parseaddr(unfolded)
    if result["address"] is None:
        result["address"] = addr or None
    try:
        result["name"] = str(email.header.make_header(email.header.decode_header(name)))
    except Exception as error:
        result["name_error"] = repr(error)
    return result


def text_value(header):
    return None if header is None else str(header)


def raw_checks(raw):
    lines = raw.split(b"\r\n")
    end = raw.find(b"\r\n\r\n")
    header_block = raw[:end] if end >= 0 else raw
    header_lines = header_block.split(b"\r\n")
    # A bare LF or CR is one not part of a CR LF pair.
    without_crlf = raw.replace(b"\r\n", b"")
    return {
        "size": len(raw),
        "max_line": max((len(l) for l in lines), default=0),
        "max_header_line": max((len(l) for l in header_lines), default=0),
        "header_lines_over_998": sum(1 for l in header_lines if len(l) > 998),
        "lines_over_998": sum(1 for l in lines if len(l) > 998),
        "seven_bit": all(b < 0x80 for b in raw),
        "bare_lf": b"\n" in without_crlf,
        "bare_cr": b"\r" in without_crlf,
    }


def nkf_decode(data):
    nkf = shutil.which("nkf")
    if nkf is None:
        return None
    result = subprocess.run([nkf, "-J", "-w"], input=data, capture_output=True, timeout=30)
    return result.stdout.decode("utf-8", "replace")


def rfc2231_filename(part):
    """The decoded filename* of the part's Content-Disposition, or None.

    `part` must come from the compat32 parse: policy.default rebuilds the
    header from its first filename parameter and drops filename*.
    """
    for key, value in part.get_params(failobj=[], header="content-disposition"):
        if key.lower() == "filename" and isinstance(value, tuple):
            return email.utils.collapse_rfc2231_value(value)
    return None


def header_defects(message):
    found = {}
    for name in message.keys():
        names = [type(d).__name__ for d in getattr(message[name], "defects", ())]
        if names:
            found[name] = names
    return found


def base64_max_line(part):
    payload = part.get_payload(decode=False)
    if isinstance(payload, list):
        return None
    return max((len(l) for l in payload.splitlines()), default=0)


def date_fields(header):
    if header is None:
        return None, None, None
    try:
        when = email.utils.parsedate_to_datetime(str(header))
    except (TypeError, ValueError):
        return None, None, None
    local = when.strftime("%Y%m%d%H%M%S")
    if when.tzinfo is None:  # "-0000": the zone is unknown
        return None, local, None
    return int(when.timestamp()), local, int(when.utcoffset().total_seconds())


def flatten(value, prefix, out):
    if isinstance(value, dict):
        for key in sorted(value):
            flatten(value[key], prefix + [str(key)], out)
    elif isinstance(value, list):
        out.append((".".join(prefix + ["count"]), str(len(value))))
        for index, item in enumerate(value):
            flatten(item, prefix + [str(index)], out)
    else:
        if value is None:
            text = ""
        elif isinstance(value, bool):
            text = "true" if value else "false"
        else:
            text = str(value)
        text = (text.replace("\\", "\\\\").replace("\r", "\\r")
                .replace("\n", "\\n").replace("\t", "\\t"))
        out.append((".".join(prefix), text))


def main():
    arguments = sys.argv[1:]
    flat = "--flat" in arguments
    arguments = [a for a in arguments if a != "--flat"]
    with open(arguments[0], "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=email.policy.default)
    # The same headers as they stand in the message, still encoded.
    undecoded = email.message_from_bytes(raw, policy=email.policy.compat32)

    defects = header_defects(message)
    if message.defects:
        defects["(message)"] = [type(d).__name__ for d in message.defects]

    body = None
    body_charset = None
    body_nkf = None
    attachments = []
    for part, raw_part in zip(message.walk(), undecoded.walk()):
        if part.is_multipart():
            continue
        disposition = part.get_content_disposition()
        if disposition is None and part.get_content_type() == "text/plain" and body is None:
            body = part.get_content()
            body_charset = part.get_content_charset()
            body_nkf = nkf_decode(part.get_payload(decode=True))
            continue
        data = part.get_payload(decode=True) or b""
        attachments.append({
            "filename": part.get_filename(),
            "filename_rfc2231": rfc2231_filename(raw_part),
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "disposition": disposition,
            "length": len(data),
            "sha256": hashlib.sha256(data).hexdigest(),
            "base64_max_line": base64_max_line(part),
            "defects": [type(d).__name__ for d in part.defects],
            "header_defects": header_defects(part),
        })

    date_utc, date_local, date_offset = date_fields(message["Date"])
    result = {
        "date_utc": date_utc,
        "date_local": date_local,
        "date_offset": date_offset,
        "from": address(message["From"], undecoded["From"]),
        "to": address(message["To"], undecoded["To"]),
        "reply_to": address(message["Reply-To"], undecoded["Reply-To"]),
        "cc": address(message["Cc"], undecoded["Cc"]),
        "list_unsubscribe": text_value(message["List-Unsubscribe"]),
        "list_unsubscribe_post": text_value(message["List-Unsubscribe-Post"]),
        "subject": text_value(message["Subject"]),
        "date": text_value(message["Date"]),
        "mime_version": text_value(message["MIME-Version"]),
        "message_id": text_value(message["Message-Id"]),
        "x_mailer": text_value(message["X-Mailer"]),
        "content_type": message.get_content_type(),
        "header_names": list(message.keys()),
        "header_defects": defects,
        "body": body,
        "body_charset": body_charset,
        "body_nkf": body_nkf,
        "attachments": attachments,
        "raw": raw_checks(raw),
    }
    if flat:
        lines = []
        flatten(result, [], lines)
        sys.stdout.write("".join("%s\t%s\n" % line for line in lines))
    else:
        json.dump(result, sys.stdout, ensure_ascii=False, indent=1, sort_keys=True)
        sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
