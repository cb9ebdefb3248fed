#!/bin/bash
# Starts a throwaway Dovecot POP3 server on 127.0.0.1 for the peer tests.
#
#   dovecot_pop3.sh FOLDER USER PASSWORD [PORT] [--tls CERT KEY]
#
# Everything Dovecot writes (config, sockets, state, log, the maildir) stays
# under FOLDER. PORT 0 or missing picks a free port. When the listener
# accepts, the port is printed on its own line on standard output. The script
# then waits for Dovecot; SIGTERM to the script (or its process group) stops
# Dovecot too.
#
# With --tls the server presents CERT (PEM, chain included) with KEY and
# takes no login without TLS (ssl = required): on PORT only after STLS
# (RFC 2595), and on a second, free port with TLS from the first byte
# (RFC 8314, port 995 style), which is written to FOLDER/pop3s-port.
set -u

folder=${1:?folder}
user=${2:?user}
password=${3:?password}
shift 3
port=0
if [ $# -gt 0 ] && [ "$1" != --tls ]; then
  port=$1
  shift
fi
tls_cert=
tls_key=
if [ $# -gt 0 ]; then
  if [ "$1" != --tls ] || [ $# -ne 3 ]; then
    echo "usage: $0 FOLDER USER PASSWORD [PORT] [--tls CERT KEY]" >&2
    exit 2
  fi
  tls_cert=$(realpath "$2")
  tls_key=$(realpath "$3")
fi

free_port() {
  /usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

if [ "$port" = 0 ]; then port=$(free_port); fi
tls_port=0
if [ -n "$tls_cert" ]; then
  tls_port=$(free_port)
  # The other free port could have been handed out twice.
  while [ "$tls_port" = "$port" ]; do tls_port=$(free_port); done
fi

mkdir -p "$folder/base" "$folder/state" "$folder/mail"
folder=$(cd "$folder" && pwd -P)
# Dovecot's login and auth processes do not run as root: every folder above
# ours must let them through.
above=$(dirname "$folder")
while [ "$above" != / ]; do
  if [ "$(stat -c %A "$above" | cut -c10)" != x ] && [ "$(stat -c %A "$above" | cut -c10)" != t ]; then
    echo "dovecot_pop3.sh: $above is not searchable by other users (chmod o+x it)" >&2
    exit 1
  fi
  above=$(dirname "$above")
done
# Dovecot's login and auth processes run as its unprivileged users; they
# must be able to reach the base folder and read the password file.
chmod 755 "$folder" "$folder/base" "$folder/state"
chmod 777 "$folder/mail"

runner=$(id -un)
uid=$(id -u)
gid=$(id -g)
# Dovecot refuses to serve mail as root; the mailbox then belongs to nobody.
if [ "$uid" = 0 ]; then
  mail_uid=$(id -u nobody)
  mail_gid=$(id -g nobody)
else
  mail_uid=$uid
  mail_gid=$gid
fi
printf '%s:{PLAIN}%s:%s:%s::%s/mail/%s::\n' "$user" "$password" "$mail_uid" "$mail_gid" "$folder" "$user" \
  >"$folder/users"
chmod 644 "$folder/users"

if [ "$uid" = 0 ]; then
  login_user=dovenull
  internal_user=dovecot
else
  login_user=$runner
  internal_user=$runner
fi

cat >"$folder/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $folder/base
state_dir = $folder/state
log_path = $folder/dovecot.log
info_log_path = $folder/dovecot.log
$(if [ -n "$tls_cert" ]; then
  printf 'ssl = required\nssl_cert = <%s\nssl_key = <%s\n' "$tls_cert" "$tls_key"
else
  printf 'ssl = no\n'
fi)
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
default_login_user = $login_user
default_internal_user = $internal_user
mail_location = maildir:$folder/mail/%u
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = $folder/users
}
userdb {
  driver = passwd-file
  args = $folder/users
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $tls_port
    ssl = yes
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
CONF

starter=$PPID
child=
stop() {
  if [ -n "$child" ]; then kill -TERM "$child" 2>/dev/null; wait "$child" 2>/dev/null; fi
  exit 0
}
trap stop TERM INT HUP

/usr/sbin/dovecot -F -c "$folder/dovecot.conf" >>"$folder/dovecot.log" 2>&1 &
child=$!
if [ "$tls_port" != 0 ]; then echo "$tls_port" >"$folder/pop3s-port"; fi

# shellcheck source=serve_until_stopped.sh
source "$(dirname "$0")/serve_until_stopped.sh"
serve_until_stopped dovecot "$folder/dovecot.log"
