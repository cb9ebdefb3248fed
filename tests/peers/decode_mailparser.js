#!/usr/bin/env node
// Reads one stored message and prints what a second, independent mail
// reader sees of it: Node.js's mailparser (installed into tests/peers/node
// by scripts/install-deps.sh), next to Python's email in check_mail.py.
//
//     node decode_mailparser.js [--flat] MESSAGE_FILE
//
// Prints one JSON object, or with --flat one "key<TAB>value" line per leaf
// in check_mail.py's form (keys joined with ".", list items by index with a
// "LIST.count" line; values with backslash, CR, LF and TAB written as \\,
// \r, \n, \t; null as the empty value):
//   from, to, reply_to, cc
//                 {"name", "address"} of the first address, decoded (null
//                 when the header is absent)
//   list_unsubscribe, list_unsubscribe_post
//                 the header values as mailparser's header lines hold them,
//                 unfolded (null when absent)
//   subject       decoded subject
//   body          the text mailparser gives for the mail (its text/plain)
//   attachments   [{"filename", "content_type", "guessed_type",
//                   "disposition", "length", "sha256"}], in the order of
//                   the mail; content_type is the type the part's header
//                   declares, guessed_type the one mailparser shows (it
//                   looks up the file name's extension for
//                   application/octet-stream)
// Exit status 0 when the mail was read, 3 when mailparser is missing,
// 2 on any other failure.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

let simpleParser;
try {
  ({ simpleParser } = require(path.join(__dirname, 'node', 'node_modules', 'mailparser')));
} catch (error) {
  process.stderr.write('decode_mailparser.js: mailparser is not installed in ' +
                       path.join(__dirname, 'node') + ' (run scripts/install-deps.sh): ' +
                       error.message + '\n');
  process.exit(3);
}

function firstAddress(field) {
  if (!field) return null;
  // A header may hold several lists (one per header line); take the first
  // mailbox of the first.
  const lists = Array.isArray(field) ? field : [field];
  for (const list of lists) {
    for (const entry of list.value || []) {
      if (entry.group) continue;
      return { name: entry.name, address: entry.address || null };
    }
  }
  return { name: null, address: null };
}

// mailparser folds the List-* headers into one object of its own reading;
// the value itself is taken from its header lines instead.
function headerLine(mail, name) {
  const found = (mail.headerLines || []).find((h) => h.key === name);
  if (!found) return null;
  const line = found.line.replace(/\r?\n(?=[ \t])/g, '');
  return line.slice(line.indexOf(':') + 1).trim();
}

function declaredType(attachment) {
  const header = attachment.headers && attachment.headers.get('content-type');
  return header && header.value ? header.value.toLowerCase() : attachment.contentType;
}

function flatten(value, prefix, out) {
  if (Array.isArray(value)) {
    out.push([prefix.concat('count').join('.'), String(value.length)]);
    value.forEach((item, index) => flatten(item, prefix.concat(String(index)), out));
  } else if (value !== null && typeof value === 'object') {
    for (const key of Object.keys(value).sort()) flatten(value[key], prefix.concat(key), out);
  } else {
    const text = value === null || value === undefined ? '' : String(value);
    out.push([prefix.join('.'), text.replace(/\\/g, '\\\\').replace(/\r/g, '\\r')
                                    .replace(/\n/g, '\\n').replace(/\t/g, '\\t')]);
  }
}

async function main() {
  const args = process.argv.slice(2);
  const flat = args.includes('--flat');
  const files = args.filter((a) => a !== '--flat');
  if (files.length !== 1) {
    process.stderr.write('usage: decode_mailparser.js [--flat] MESSAGE_FILE\n');
    return 2;
  }
  const raw = fs.readFileSync(files[0]);
  // No HTML is made from the text: only the decoded parts are wanted.
  const mail = await simpleParser(raw, { skipHtmlToText: true, skipTextToHtml: true,
                                         skipTextLinks: true, skipImageLinks: true });
  const result = {
    from: firstAddress(mail.from),
    to: firstAddress(mail.to),
    reply_to: firstAddress(mail.replyTo),
    cc: firstAddress(mail.cc),
    list_unsubscribe: headerLine(mail, 'list-unsubscribe'),
    list_unsubscribe_post: headerLine(mail, 'list-unsubscribe-post'),
    subject: mail.subject === undefined ? null : mail.subject,
    body: mail.text === undefined ? null : mail.text,
    attachments: (mail.attachments || []).map((a) => ({
      filename: a.filename === undefined ? null : a.filename,
      content_type: declaredType(a),
      guessed_type: a.contentType,
      disposition: a.contentDisposition || null,
      length: a.content.length,
      sha256: crypto.createHash('sha256').update(a.content).digest('hex'),
    })),
  };
  if (flat) {
    const lines = [];
    flatten(result, [], lines);
    process.stdout.write(lines.map(([k, v]) => k + '\t' + v + '\n').join(''));
  } else {
    process.stdout.write(JSON.stringify(result, null, 1) + '\n');
  }
  return 0;
}

main().then((status) => { process.exitCode = status; }, (error) => {
  process.stderr.write('decode_mailparser.js: ' + (error && error.stack || error) + '\n');
  process.exitCode = 2;
});
