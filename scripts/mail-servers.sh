#!/usr/bin/env bash
# Throw-away mail servers on loopback for the tests: Postfix (SMTP with STARTTLS, submission with AUTH, SMTPS)
# delivering into Maildir, and Dovecot (POP3 with STLS, POP3S) reading it, with all their state under one folder.
#
#   scripts/mail-servers.sh start DIR     creates DIR (its parents must be reachable by uid 65534) and starts both
#   scripts/mail-servers.sh stop DIR      stops them
#
# Environment: SMTP_PORT (2525), SUBM_PORT (2587), SMTPS_PORT (2465), POP3_PORT (2110), POP3S_PORT (2995),
# MAIL_DOMAIN (example.test), MAIL_USERS ("user:secret other:secret2 central:secret3").
# DIR/tls/ca.pem is the certificate authority that signed the servers' certificate (for 127.0.0.1 and localhost).
set -euo pipefail

cmd="${1:-}"
dir="${2:-}"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

SMTP_PORT="${SMTP_PORT:-2525}"
SUBM_PORT="${SUBM_PORT:-2587}"
SMTPS_PORT="${SMTPS_PORT:-2465}"
POP3_PORT="${POP3_PORT:-2110}"
POP3S_PORT="${POP3S_PORT:-2995}"
MAIL_DOMAIN="${MAIL_DOMAIN:-example.test}"
MAIL_USERS="${MAIL_USERS:-user:secret other:secret2 central:secret3}"
MAIL_UID=65534
MAIL_GID=65534

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Waits for a server's greeting line starting with $2 on port $1, then says QUIT.
wait_greeting() {
    local port="$1" want="$2" i line
    for i in $(seq 1 100); do
        if { exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null; then
            line=""
            IFS= read -r -t 2 line <&3 || true
            printf 'QUIT\r\n' >&3 || true
            exec 3<&- 3>&- || true
            case "$line" in "$want"*) return 0 ;; esac
        fi
        sleep 0.05
    done
    echo "no greeting on port $port" >&2
    return 1
}

stop_pidfile() {
    local pidfile="$1" pid i state
    [ -f "$pidfile" ] || return 0
    pid="$(tr -d ' \n' <"$pidfile")"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for i in $(seq 1 100); do
        state="$(ps -o stat= -p "$pid" 2>/dev/null || true)"
        case "$state" in "" | Z*) return 0 ;; esac
        sleep 0.05
    done
    kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
}

stop() {
    stop_pidfile "$dir/spool/pid/master.pid"
    stop_pidfile "$dir/dovecot/run/master.pid"
}

start() {
    # Servers left running in this folder by an interrupted run go first.
    [ -d "$dir" ] && stop
    for p in "$SMTP_PORT" "$SUBM_PORT" "$SMTPS_PORT" "$POP3_PORT" "$POP3S_PORT"; do
        if port_open "$p"; then
            echo "port $p already accepts connections; refusing to start a second server there" >&2
            exit 1
        fi
    done
    rm -rf "$dir"
    mkdir -p "$dir"/{postfix,spool,data,log,tls,dovecot/run,dovecot/state,mail}
    chmod 755 "$dir"
    chown postfix "$dir/data"
    chown "$MAIL_UID:$MAIL_GID" "$dir/mail"

    # A certificate authority of the tests and the servers' certificate signed by it.
    (
        cd "$dir/tls"
        openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=QEV test CA" \
            -keyout ca.key -out ca.pem 2>/dev/null
        openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout key.pem -out server.csr 2>/dev/null
        printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' >ext.cnf
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile ext.cnf \
            -out cert.pem 2>/dev/null
        chmod 644 cert.pem ca.pem key.pem
    )

    local vmailbox="$dir/postfix/vmailbox" users="$dir/dovecot/users"
    : >"$vmailbox"
    : >"$users"
    for entry in $MAIL_USERS; do
        local name="${entry%%:*}" pass="${entry#*:}"
        echo "$name@$MAIL_DOMAIN $MAIL_DOMAIN/$name/Maildir/" >>"$vmailbox"
        echo "$name:{PLAIN}$pass" >>"$users"
        mkdir -p "$dir/mail/$MAIL_DOMAIN/$name/Maildir"/{new,cur,tmp}
    done
    chown -R "$MAIL_UID:$MAIL_GID" "$dir/mail"

    local utf8=yes
    [ "${SMTPUTF8:-yes}" = "no" ] && utf8=no
    cat >"$dir/postfix/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $dir/spool
data_directory = $dir/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
myhostname = mail.$MAIL_DOMAIN
mydomain = $MAIL_DOMAIN
myorigin = $MAIL_DOMAIN
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
local_recipient_maps =
biff = no
maillog_file = $dir/log/postfix.log
maillog_file_prefixes = $dir/log
virtual_mailbox_domains = $MAIL_DOMAIN
virtual_mailbox_base = $dir/mail
virtual_mailbox_maps = texthash:$vmailbox
virtual_uid_maps = static:$MAIL_UID
virtual_gid_maps = static:$MAIL_GID
virtual_minimum_uid = 100
virtual_mailbox_limit = 0
message_size_limit = 0
default_transport = error:mail leaves no test machine
relay_transport = error:mail leaves no test machine
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
smtpd_tls_cert_file = $dir/tls/cert.pem
smtpd_tls_key_file = $dir/tls/key.pem
smtpd_tls_security_level = may
smtpd_sasl_type = dovecot
smtpd_sasl_path = private/auth
smtputf8_enable = $utf8
EOF
    cat >"$dir/postfix/master.cf" <<EOF
127.0.0.1:$SMTP_PORT inet n - n - - smtpd
127.0.0.1:$SUBM_PORT inet n - n - - smtpd -o smtpd_tls_security_level=encrypt -o smtpd_sasl_auth_enable=yes -o smtpd_tls_auth_only=yes -o smtpd_client_restrictions=permit_sasl_authenticated,reject -o smtpd_relay_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$SMTPS_PORT inet n - n - - smtpd -o smtpd_tls_wrappermode=yes -o smtpd_sasl_auth_enable=yes -o smtpd_client_restrictions=permit_sasl_authenticated,reject -o smtpd_relay_restrictions=permit_sasl_authenticated,reject
pickup unix n - n 60 1 pickup
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
tlsmgr unix - - n 1000? 1 tlsmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
smtp unix - - n - - smtp
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
virtual unix - n n - - virtual
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
EOF

    cat >"$dir/dovecot/dovecot.conf" <<EOF
base_dir = $dir/dovecot/run
state_dir = $dir/dovecot/state
protocols = pop3
listen = 127.0.0.1
log_path = $dir/log/dovecot.log
ssl = yes
ssl_cert = <$dir/tls/cert.pem
ssl_key = <$dir/tls/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
stats_writer_socket_path =
first_valid_uid = $MAIL_UID
mail_location = maildir:$dir/mail/$MAIL_DOMAIN/%n/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $users
}
userdb {
  driver = static
  args = uid=$MAIL_UID gid=$MAIL_GID home=$dir/mail/$MAIL_DOMAIN/%n
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes
  }
}
service auth {
  unix_listener $dir/spool/private/auth {
    mode = 0666
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
EOF
    # Freshly written maps and configuration make Postfix wait for them to settle.
    touch -d '-2 seconds' "$dir/postfix/main.cf" "$dir/postfix/master.cf" "$vmailbox"
    # Postfix creates its queue folders (the SASL socket of Dovecot goes into private/) on its first start.
    postfix -c "$dir/postfix" start >>"$dir/log/start.log" 2>&1 || { tail -n 5 "$dir/log/postfix.log" >&2; stop; exit 1; }
    dovecot -c "$dir/dovecot/dovecot.conf" 2>>"$dir/log/start.log" || { cat "$dir/log/start.log" >&2; stop; exit 1; }
    wait_greeting "$SMTP_PORT" "220" && wait_greeting "$POP3_PORT" "+OK" || { stop; exit 1; }
}

case "$cmd" in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
