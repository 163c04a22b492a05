# shellcheck shell=bash
# The pieces shared by the road scripts (scripts/road-official, scripts/road-personal), which play one request
# through the real program under Xvfb, driven by X input events (xdotool), with a screenshot at every step: the
# output folder, the demo's tools and the build, loopback mail servers, the QEV Central simulator, Xvfb and the
# program, the windows on the screen, keys and clicks, and the office's tables.
#
# Sourced, not run. road_start OUTDIR checks the folder, installs what is missing, builds, and sets the paths below
# and the exit trap that stops everything the road started; the caller may set road_extra_tools first.
#   here, build, bin, app, qevdb, sim     the checkout, the preset, its binaries
#   out, office, logs, mailsrv            OUTDIR, OUTDIR/office, OUTDIR/logs, OUTDIR/mail-servers
#   smtp_port, pop3_port, mail_env        the mail servers' ports (ROAD_*_PORT), their environment
#   sim_port, mail_domain, office_user, office_password, central_user, office_address, central_address

road_usage() {
    echo "usage: $0 OUTDIR" >&2
    exit 2
}

# ---- The output folder, the paths, the tools -------------------------------------------------------------------

road_start() {
    [ $# -eq 1 ] && [ -n "$1" ] || road_usage
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    build="${QEV_BUILD:-dev}"
    case "$build" in dev | release) ;; *) echo "QEV_BUILD must be dev or release, not '$build'" >&2; exit 2 ;; esac
    bin="$here/build/$build"
    app="$bin/src/app/qev-regional"
    qevdb="$bin/tools/qevdb/qevdb"
    sim="$bin/tools/qev-central-sim/qev-central-sim"

    smtp_port="${ROAD_SMTP_PORT:-3525}"
    pop3_port="${ROAD_POP3_PORT:-3110}"
    mail_env=(SMTP_PORT="$smtp_port" SUBM_PORT="${ROAD_SUBM_PORT:-3587}" SMTPS_PORT="${ROAD_SMTPS_PORT:-3465}"
        POP3_PORT="$pop3_port" POP3S_PORT="${ROAD_POP3S_PORT:-3995}")
    sim_port=8095 # the demo office's central address
    mail_domain=example.test
    office_user=oficina
    # The office stores this password complemented byte by byte in Windows-1252: its letters avoid b, o, p, r and
    # ~, whose complements are bytes that code page leaves undefined.
    office_password=clave123
    central_user=central
    office_address="$office_user@$mail_domain"
    central_address="$central_user@$mail_domain"

    out="$(realpath -m -- "$1")"
    office="$out/office"
    logs="$out/logs"
    mailsrv="$out/mail-servers"
    case "$out" in *[[:space:]]*) echo "OUTDIR may not contain blanks (the mail servers' paths): $out" >&2; exit 2 ;; esac
    if [ -e "$office" ]; then
        echo "$office already exists: give a new folder (nothing was changed)" >&2
        exit 2
    fi
    mkdir -p "$out"
    # The mail files belong to uid 65534, which must reach the servers' folder.
    chmod o+x "$out"
    local d="$out"
    while [ "$d" != "/" ]; do
        d="$(dirname "$d")"
        if [ -z "$(find "$d" -maxdepth 0 -perm -o+x)" ]; then
            echo "$d is not searchable by others (o+x); the mail servers cannot use a folder below it" >&2
            exit 2
        fi
    done
    mkdir -p "$logs"

    app_pid=""
    sim_pid=""
    xvfb_pid=""
    mail_started=""
    shots=0
    trap road_cleanup EXIT

    road_tools
    road_build
}

say() { printf '%s\n' "$*"; }
step() { printf '\n== %s\n' "$*"; }

# The demo's own tools: X input events and screenshots, and the caller's road_extra_tools (COMMAND=PACKAGE words)
# where the command is missing.
road_tools() {
    bash "$here/scripts/deps.sh"
    local demo_packages=() im sudo=""
    command -v xdotool >/dev/null || demo_packages+=(xdotool)
    # /usr/local/bin may hold a stand-in named convert: the screenshots need ImageMagick itself.
    for im in /usr/bin/import /usr/bin/convert /usr/bin/identify; do
        if ! "$im" -version 2>/dev/null | grep -q ImageMagick; then
            demo_packages+=(imagemagick)
            break
        fi
    done
    local tool
    for tool in ${road_extra_tools[@]+"${road_extra_tools[@]}"}; do
        command -v "${tool%%=*}" >/dev/null || demo_packages+=("${tool#*=}")
    done
    if [ ${#demo_packages[@]} -gt 0 ]; then
        say "Installing for the demo: ${demo_packages[*]}"
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends \
            "${demo_packages[@]}" >"$logs/apt.log" 2>&1 || { tail -n 20 "$logs/apt.log" >&2; exit 1; }
        say "Installed: ${demo_packages[*]} (log in $logs/apt.log)"
    fi
    import=/usr/bin/import
    convert=/usr/bin/convert
}

road_build() {
    if [ "$build" = dev ] && [ "${ROAD_NO_BUILD:-}" != 1 ]; then
        say "Building the program and its tools (dev preset)"
        (cd "$here" && flock /tmp/qev-build.lock cmake --build --preset dev --target qev-regional qevdb \
            qev-central-sim bmp2wsq wsq2bmp) >"$logs/build.log" 2>&1 || {
            tail -n 30 "$logs/build.log" >&2
            say "the build failed (log in $logs/build.log)"
            exit 1
        }
    fi
    local b
    for b in "$app" "$qevdb" "$sim"; do
        [ -x "$b" ] || { echo "missing $b: build the $build preset first" >&2; exit 1; }
    done
}

# ---- Processes, stopped on every way out -------------------------------------------------------------------------

road_cleanup() {
    local rc=$?
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    if [ -n "$mail_started" ]; then env "${mail_env[@]}" "$here/scripts/mail-servers.sh" stop "$mailsrv" || true; fi
    exit "$rc"
}

port_open() { { exec 3<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null && { exec 3<&- 3>&-; return 0; }; return 1; }

# ---- Screens and windows -----------------------------------------------------------------------------------------

shot() {
    shots=$((shots + 1))
    local f
    f="$(printf '%02d-%s.png' "$shots" "$1")"
    "$import" -window root "$out/$f"
    say "   screenshot $f"
}

windows() { xdotool search --onlyvisible --name '.' 2>/dev/null || true; }
window_names() {
    local w
    for w in $(windows); do xdotool getwindowname "$w" 2>/dev/null || true; done
}

# Also inside $(...): everything goes to stderr, and the caller's assignment fails with it.
fail() {
    {
        say "FAILED: $*"
        if [ -n "${DISPLAY:-}" ]; then
            say "   windows on the screen:"
            window_names | sed 's/^/     /'
            shot FAILED || true
        fi
        say "   logs: $logs"
    } >&2
    exit 1
}

# The last visible window whose title matches the extended regular expression $1, within $2 seconds (10).
wait_window() {
    local re="$1" t="${2:-10}" i w
    for i in $(seq 1 $((t * 5))); do
        for w in $(windows); do
            if xdotool getwindowname "$w" 2>/dev/null | grep -Eq -- "$re"; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.2
    done
    fail "no window '$re' after ${t}s"
}
wait_gone() {
    local re="$1" t="${2:-10}" i
    for i in $(seq 1 $((t * 5))); do
        window_names | grep -Eq -- "$re" || return 0
        sleep 0.2
    done
    fail "the window '$re' is still open after ${t}s"
}
# Fails when a window is on the screen whose title matches none of $1 (a message nobody expected, say).
only_windows() {
    local name
    while IFS= read -r name; do
        [ -z "$name" ] && continue
        printf '%s\n' "$name" | grep -Eq -- "$1" || fail "unexpected window '$name'"
    done < <(window_names)
}
# Without a window manager, focus is given by hand; windowactivate needs one.
focus() {
    xdotool windowraise "$1"
    xdotool windowfocus --sync "$1"
    sleep 0.2
}
# The windows the program shows maximised: without a window manager, made screen-sized here.
maximise() {
    xdotool windowmove "$1" 0 0 windowsize "$1" 1400 900
    sleep 0.8
}
# A click lands on whatever is on top at that point of the screen: the window is raised first.
click() {
    xdotool windowraise "$1"
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.4
}
keys() {
    xdotool key --clearmodifiers "$@"
    sleep 0.3
}
type_text() {
    xdotool type --delay 40 -- "$1"
    sleep 0.2
}
# A line edit at ($2, $3) of window $1 gets the text $4 in place of what it held.
fill() {
    click "$1" "$2" "$3"
    keys ctrl+a
    type_text "$4"
}
# A lookup list at ($2, $3): opened, the item starting with $4 found by typing, chosen with Return.
choose() {
    click "$1" "$2" "$3"
    sleep 0.3
    type_text "$4"
    keys Return
}
# Fails unless window $1 has the size $2 (WxH) for which the caller's clicks were measured.
check_size() {
    local geometry
    geometry="$(xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p')"
    [ "$geometry" = "$2" ] || fail "the window is $geometry; the clicks of this script are for $2"
}

main_re='^QEV - Regional$'
box() { printf '^%s — QEV - Regional$' "$1"; }
# The transfer window shown while a large message goes out or comes in.
progress_re="$(box '(Enviando Mensaje\.\.|Recibiendo Mensaje\.\.\.)')"

# ---- The office's tables -----------------------------------------------------------------------------------------

sql() { "$qevdb" sql "$office" "$@" --csv | tail -n +2; }
setting() {
    local changed
    changed="$("$qevdb" sql "$office" "UPDATE amb SET x_amb = :v WHERE c_amb = :k" --param "k=$1" --param "v=$2")"
    case "$changed" in
    "0 filas"*) "$qevdb" sql "$office" "INSERT INTO amb (c_amb, x_amb) VALUES (:k, :v)" --param "k=$1" \
        --param "v=$2" >/dev/null ;;
    esac
    [ "$(sql "SELECT x_amb FROM amb WHERE c_amb = :k" --param "k=$1")" = "$2" ] || fail "the setting $1 was not written"
}
# Waits up to $3 seconds (15) until the query $1 answers $2.
wait_sql() {
    local i got=""
    for i in $(seq 1 $((${3:-15} * 5))); do
        got="$(sql "$1")"
        [ "$got" = "$2" ] && return 0
        sleep 0.2
    done
    fail "the office's tables answer '$got' to \"$1\", not '$2'"
}
wait_file() {
    local i
    for i in $(seq 1 $((${2:-15} * 5))); do
        [ -s "$1" ] && return 0
        sleep 0.2
    done
    fail "no file $1"
}
maildir_count() {
    local d="$mailsrv/mail/$mail_domain/$1/Maildir"
    find "$d/new" "$d/cur" -type f 2>/dev/null | wc -l
}
wait_mail() {
    local i
    for i in $(seq 1 75); do
        [ "$(maildir_count "$1")" -ge "$2" ] && return 0
        sleep 0.2
    done
    fail "the mailbox $1 did not get its message"
}

# ---- The servers, the display, the program -----------------------------------------------------------------------

# A fresh demo office in $office.
make_office() {
    "$qevdb" init "$office" --demo >"$logs/qevdb-init.log" || { cat "$logs/qevdb-init.log" >&2; fail "qevdb init"; }
}

# The mail servers with the office's and the central office's mailboxes, and the office's account: SMTP out, its
# own POP3 mailbox in (the password stored complemented, byte by byte, in the office's code page), the requests
# addressed to the central mailbox; the reception timer set far off so that only the operator's "Recibir
# Contestaciones" receives.
start_mail() {
    port_open "$sim_port" && fail "port $sim_port is taken: the simulator cannot start there (is scripts/run running?)"
    env "${mail_env[@]}" MAIL_DOMAIN="$mail_domain" MAIL_USERS="$office_user:$office_password $central_user:clave456" \
        "$here/scripts/mail-servers.sh" start "$mailsrv" || fail "the mail servers did not start"
    mail_started=1
    say "   mailboxes $office_address (the office) and $central_address (QEV Central)"
    local pop3_stored kv
    pop3_stored="$(python3 -c 'import sys; print(bytes(255 - b for b in sys.argv[1].encode("cp1252")).decode("cp1252"))' \
        "$office_password")"
    for kv in smtpName=127.0.0.1 "smtpPort=$smtp_port" pop3Name=127.0.0.1 "pop3Port=$pop3_port" \
        "pop3User=$office_user" "pop3PwdE=$pop3_stored" "userEmail=$office_address" "tlsCA=$mailsrv/tls/ca.pem" \
        "x_toreg=$central_address" "x_toregp=$central_address" frec_recep=600; do
        setting "${kv%%=*}" "${kv#*=}"
    done
    say "   office account: SMTP 127.0.0.1:$smtp_port, POP3 $office_user@127.0.0.1:$pop3_port," \
        "requests to $central_address"
}

# The QEV Central simulator on $sim_port with the demo data; its replies go by mail to the office.
start_sim() {
    "$sim" --port "$sim_port" --data "$here/tools/qev-central-sim/demo-data.json" \
        --log "$logs/qev-central-sim-calls.log" --store "$out/qev-central-recibidos" --smtp "127.0.0.1:$smtp_port" \
        --to "$office_address" >"$logs/qev-central-sim.log" 2>&1 &
    sim_pid=$!
    local i
    for i in $(seq 1 50); do
        grep -q '^listening on ' "$logs/qev-central-sim.log" 2>/dev/null && break
        kill -0 "$sim_pid" 2>/dev/null || fail "the simulator ended: $(cat "$logs/qev-central-sim.log")"
        sleep 0.2
    done
    grep -q '^listening on ' "$logs/qev-central-sim.log" || fail "the simulator did not start"
    say "   simulator: $(head -n 1 "$logs/qev-central-sim.log")"
}

# Xvfb (1400x900) on ROAD_DISPLAY or the first free display from :57, then the program on the office.
start_program() {
    local n=57 i
    if [ -n "${ROAD_DISPLAY:-}" ]; then
        n="${ROAD_DISPLAY#:}"
    else
        while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    fi
    say "   Xvfb on :$n (1400x900)"
    Xvfb ":$n" -screen 0 1400x900x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for i in $(seq 1 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && break
        kill -0 "$xvfb_pid" 2>/dev/null || { unset DISPLAY; fail "Xvfb ended: $(cat "$logs/xvfb.log")"; }
        sleep 0.2
    done
    # An instance name of its own: another QEV Regional of this user neither takes this start over nor is brought
    # forward by it.
    (cd "$office" && QEV_INSTANCE_NAME="qev-road-$$" exec "$app" --folder "$office") >"$logs/qev-regional.log" 2>&1 &
    app_pid=$!
    say "   qev-regional --folder $office (pid $app_pid)"
}

# Archivo > Salir in the main window; the program must end with status 0.
quit_program() {
    local i
    focus "$main"
    keys alt+a
    keys s # "&Salir"
    for i in $(seq 1 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$app_pid" 2>/dev/null; then fail "the program did not end after Archivo > Salir"; fi
    wait "$app_pid" || fail "the program ended with status $?"
    app_pid=""
    say "   the program ended"
}

# ---- The central office's replies ------------------------------------------------------------------------------

# sim_reply KIND ARGS...: the simulator mails one reply of KIND to the office.
sim_reply() {
    "$sim" reply "$1" --smtp "127.0.0.1:$smtp_port" --to "$office_address" --store "$out/qev-central-recibidos" \
        "${@:2}" >>"$logs/replies.log" 2>&1 || fail "the simulator's $1 reply: $(tail -n 1 "$logs/replies.log")"
    say "   $(tail -n 1 "$logs/replies.log")"
}
# "Utilidades > Recibir Contestaciones" in the main window; the open menu is screenshot as $1.
receive() {
    focus "$main"
    keys alt+u
    shot "$1"
    keys r
}
