#!/usr/bin/env bash
# Creates a throwaway certificate authority and server certificates for the
# TLS tests in DIR (created when missing):
#   ca.pem                          the authority (what SSL_CERT_FILE points at)
#   valid.pem / valid.key           localhost, 127.0.0.1 and ::1, signed by it
#   expired.pem / expired.key       the same names, valid 2000 to 2001 only
#   notyet.pem / notyet.key         the same names, valid from 2090 on
#   wronghost.pem / wronghost.key   mail.example.org only, signed by it
#   selfsigned.pem / selfsigned.key localhost, signed by itself
# EC P-256 keys keep it fast. Idempotent: when every file is there, nothing
# is done; otherwise all of them are made afresh.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
dir=$1
names=(valid expired notyet wronghost selfsigned)

complete=1
for f in ca.pem "${names[@]/%/.pem}" "${names[@]/%/.key}"; do
  [ -s "$dir/$f" ] || complete=0
done
[ "$complete" -eq 1 ] && exit 0

mkdir -p "$dir"
work=$(mktemp -d "$dir/.work-XXXXXX")
trap 'rm -rf "$work"' EXIT

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

key "$work/ca.key"
openssl req -x509 -new -key "$work/ca.key" -subj "/CN=Velkaro Test CA" -days 3650 \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out "$work/ca.pem"

# `openssl ca` is the one command that sets arbitrary validity dates, which
# the expired and not yet valid certificates need.
mkdir "$work/issued"
: >"$work/index.txt"
echo 1000 >"$work/serial"
cat >"$work/ca.cnf" <<EOF
[ ca ]
default_ca = throwaway
[ throwaway ]
database = $work/index.txt
new_certs_dir = $work/issued
serial = $work/serial
default_md = sha256
policy = anything
unique_subject = no
[ anything ]
commonName = supplied
[ localhost ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1,IP:::1
[ wronghost ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:mail.example.org
EOF

# issue NAME COMMON-NAME EXTENSIONS START END
issue() {
  key "$work/$1.key"
  openssl req -new -key "$work/$1.key" -subj "/CN=$2" -out "$work/$1.csr"
  openssl ca -batch -notext -config "$work/ca.cnf" -cert "$work/ca.pem" -keyfile "$work/ca.key" \
    -extfile "$work/ca.cnf" -extensions "$3" -startdate "$4" -enddate "$5" \
    -in "$work/$1.csr" -out "$work/$1.pem" 2>/dev/null
}

issue valid localhost localhost 20200101000000Z 20491231000000Z
issue expired localhost localhost 20000101000000Z 20010101000000Z
issue notyet localhost localhost 20900101000000Z 20910101000000Z
issue wronghost mail.example.org wronghost 20200101000000Z 20491231000000Z

key "$work/selfsigned.key"
openssl req -x509 -new -key "$work/selfsigned.key" -subj "/CN=localhost" -days 3650 \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" -out "$work/selfsigned.pem"

for n in "${names[@]}"; do
  mv -f "$work/$n.pem" "$work/$n.key" "$dir/"
done
mv -f "$work/ca.pem" "$dir/"
