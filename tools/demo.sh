#!/usr/bin/env bash
# The whole job, end to end, on this one machine: a rates page served on loopback, the agent
# downloading it under Wine, its reminder, a HotSync into a stand-in handheld, and the record
# that lands there. Every step says what it does; a piece not built yet is named and skipped.
set -u
ROOT="${ZLV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD="${ZLV_BUILD:-$ROOT/build}"
WIN="${ZLV_WIN:-$BUILD/win}" # the Windows build the session plays
HOST="$BUILD/host"
ART="$BUILD/artifacts"
KEY='HKCU\Software\Morvane\Zelvantic' # the user's own settings

if [ -t 1 ]; then B=$'\e[1m' G=$'\e[32m' Y=$'\e[33m' N=$'\e[0m'; else B='' G='' Y='' N=''; fi
STEP=0
step() { STEP=$((STEP + 1)); printf '\n%s%d. %s%s\n' "$B" "$STEP" "$*" "$N"; }
say() { printf '   %s\n' "$*"; }
ok() { printf '   %s✔%s %s\n' "$G" "$N" "$*"; }
missing() { printf '   %s–%s %s\n' "$Y" "$N" "$*"; }
show() { sed 's/^/     | /'; } # indents quoted output

# ---------------------------------------------------------------------------------------------
# Outside: introduce, then run the rest inside a fresh Wine session and a private network.
if [ -z "${ZLV_DEMO_SESSION:-}" ]; then
    cat <<TXT
${B}Zelvantic demo${N}
Zelvantic keeps the currency rates on a Palm handheld up to date. On Windows, agent.exe waits in
the notification area, downloads the rates page once a day and reminds you to HotSync; during the
HotSync, conduit.dll copies the rates onto the handheld. This demo plays that through on this
machine: Windows is Wine, the update server is nginx on 127.0.0.1, and the Palm desktop software
and the handheld are small stand-ins of our own.
TXT
    source "$ROOT/tests/harness/machine.sh"
    arch="$(zlv_modes | cut -d' ' -f1)" || exit 1
    step "Starting a throw-away Windows: a new Wine prefix, an X display of its own (Xvfb)"
    say "and a private network with only a loopback device, so nothing leaves this machine."
    say "(this takes about ten seconds)"
    if [ "$arch" = i686 ]; then
        say "It plays the shipped 32-bit build ($BUILD/win) under 32-bit Wine."
    else
        zlv_runs_32bit_code || say "This machine runs no 32-bit code, so 32-bit Wine cannot start here:"
        say "it plays the 64-bit test build of the same sources ($BUILD/win64) under 64-bit Wine."
    fi
    mkdir -p "$ART"
    export ZLV_DEMO_SESSION=1 ZLV_DEMO_STEP=$STEP
    exec python3 "$ROOT/tests/harness/winesession.py" --artifacts "$ART" --arch "$arch" -- \
        bash "${BASH_SOURCE[0]}" "$@"
fi

# ---------------------------------------------------------------------------------------------
# Inside the session.
STEP="${ZLV_DEMO_STEP:-1}"
TMP="$(mktemp -d /tmp/zlv-demo-XXXXXX)"
chmod 755 "$TMP" # nginx's workers read the page as an unprivileged user
AGENT_PID=""
NGINX_PID=""
C="$WINEPREFIX/drive_c"
INSTALL="$C/Program Files/Zelvantic"
INSTALL_W='C:\Program Files\Zelvantic'
PALM="${ZLV_PALM:-$C/Program Files/Palm}" # the session installed the Palm Desktop stand-ins here
PALM_W='C:\Program Files\Palm'
HANDHELD="$TMP/handheld"

wine_quiet() { wine "$@" 2>/dev/null; }
regval() { # value name → its data as "reg query" shows it
    wine_quiet reg query "$KEY" /v "$1" | tr -d '\r' | awk -v v="$1" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
screenshot() { # file name in artifacts
    local out="$ART/$1"
    if xwd -root -display "$DISPLAY" 2>/dev/null | /usr/bin/convert xwd:- "png:$out" 2>/dev/null; then
        ok "screenshot: $out"
    else
        missing "could not take a screenshot (xwd/convert)"
    fi
}
agent_running() { [ -n "$AGENT_PID" ] && kill -0 "$AGENT_PID" 2>/dev/null; }
end_agent() {
    agent_running || return 0
    if [ -f "$WIN/tools/agent_command.exe" ]; then
        wine_quiet "$WIN/tools/agent_command.exe" 40002 5 | tr -d '\r' | show
    fi
    agent_running && kill "$AGENT_PID" 2>/dev/null
    wait "$AGENT_PID" 2>/dev/null
    AGENT_PID=""
}
finish() {
    end_agent
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null
    rm -rf "$TMP"
}
trap finish EXIT
trap 'exit 130' INT TERM

ok "Wine prefix $WINEPREFIX, display $DISPLAY"
if [ -n "${ZLV_NETNS:-}" ]; then
    ok "private network namespace: 127.0.0.1 is ours alone"
else
    missing "no private network (run as root for one): port 80 on this machine is used as it is"
fi

# ---------------------------------------------------------------------------------------------
step "The update server: nginx serves today's rates page as http://127.0.0.1/updatedrates.php"
PAGE="$ROOT/docs/sample-rates.txt"
say "The page is plain text, one currency a line, fields separated by tabs (code, name, rate):"
head -n 4 "$PAGE" | awk -F'\t' '{ printf "%-4s %-20s %s\n", $1, $2, $3 }' | show
say "... $(wc -l <"$PAGE") lines in all ($PAGE)."
mkdir -p "$TMP/www" "$TMP/nginx"
cp "$PAGE" "$TMP/www/updatedrates.php"
cat >"$TMP/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $TMP/nginx/nginx.pid;
error_log $TMP/nginx/error.log;
events { worker_connections 16; }
http {
    access_log $TMP/nginx/access.log;
    client_body_temp_path $TMP/nginx/body;
    proxy_temp_path $TMP/nginx/proxy;
    fastcgi_temp_path $TMP/nginx/fastcgi;
    uwsgi_temp_path $TMP/nginx/uwsgi;
    scgi_temp_path $TMP/nginx/scgi;
    types { }
    default_type text/plain;
    server { listen 127.0.0.1:80; root $TMP/www; }
}
CONF
SERVER=0
if ! command -v nginx >/dev/null; then
    missing "nginx is not installed (./zlv setup installs it)"
else
    nginx -c "$TMP/nginx/nginx.conf" -p "$TMP/nginx" 2>>"$TMP/nginx/error.log" &
    NGINX_PID=$!
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && { SERVER=1; break; }
        kill -0 "$NGINX_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ $SERVER = 1 ]; then
        ok "nginx listens on 127.0.0.1:80"
    else
        missing "nginx could not listen on 127.0.0.1:80:"
        tail -n 2 "$TMP/nginx/error.log" | show
        say "The agent will find no server; it would retry every 15 minutes."
    fi
fi

# ---------------------------------------------------------------------------------------------
step "Installing Zelvantic into $INSTALL_W"
if [ ! -f "$WIN/agent.exe" ]; then
    missing "agent.exe is not built yet ($WIN/agent.exe): nothing more to show."
    exit 0
fi
mkdir -p "$INSTALL"
cp "$WIN/agent.exe" "$INSTALL/"
ok "agent.exe, the Desktop Agent"
if [ -f "$WIN/conduit.dll" ]; then
    cp "$WIN/conduit.dll" "$INSTALL/"
    ok "conduit.dll, which the HotSync Manager loads from here"
else
    missing "conduit.dll is not built yet: the agent will not register a conduit"
fi
[ -f "$ROOT/docs/Readme.html" ] && cp "$ROOT/docs/Readme.html" "$INSTALL/"
[ -d "$ROOT/docs/Palm" ] && cp -r "$ROOT/docs/Palm" "$INSTALL/"

# The Palm Desktop is not ours; our stand-ins play its part, in a folder of their own that the
# user's registry names, as Palm Desktop names it: there the agent finds the Conduit Manager.
if [ -f "$PALM/condmgr.dll" ] && [ -f "$PALM/hotsync.exe" ] && [ -f "$PALM/sync20.dll" ]; then
    ok "the Palm Desktop (our stand-ins of its HotSync, Conduit and Sync Managers) in $PALM_W,"
    say "  named by the user's registry as Palm Desktop names it:"
    wine_quiet reg query 'HKCU\Software\U.S. Robotics\Pilot Desktop\Core' | tr -d '\r' |
        grep REG_ | show
else
    missing "no Palm Desktop stand-ins in $PALM_W: the agent registers no conduit"
fi
# Balloons are off on a fresh machine; the user turns them on from the menu. We do it here.
wine_quiet reg add "$KEY" /v tooltip /t REG_SZ /d 1 /f >/dev/null
ok "setting \"tooltip\" = 1 (\"Show tray balloon tip\" in the agent's menu)"

# ---------------------------------------------------------------------------------------------
step "Starting the agent: it records where it lives, finds the server and downloads the page"
(cd "$TMP" && exec wine "$INSTALL_W\\agent.exe" 2>/dev/null) & # from elsewhere, as at log-on
AGENT_PID=$!
hwnd=""
for _ in $(seq 40); do
    hwnd="$(regval hwnd)"
    [ -n "$hwnd" ] && break
    agent_running || break
    sleep 0.25
done
if [ -z "$hwnd" ]; then
    missing "the agent did not come up (no \"hwnd\" in the settings)"
    exit 1
fi
ok "running; its settings in $KEY:"
wine_quiet reg query "$KEY" | tr -d '\r' | grep REG_ | show
# "target": the user's own rates folder, which the agent made.
RATES_W="$(regval target)"
RATES="$(winepath -u "$RATES_W" 2>/dev/null)/mrvrates.zlv"
if [ $SERVER = 1 ]; then
    for _ in $(seq 150); do
        [ -s "$RATES" ] && break
        sleep 0.2
    done
fi
if [ -s "$RATES" ]; then
    ok "downloaded: the server logged the agent's request"
    sed 's/^/nginx: /' "$TMP/nginx/access.log" | show
    sleep 0.5 # the file is written in one go; let the agent close it
    ok "wrote the rates file $RATES_W\\mrvrates.zlv ($(stat -c %s "$RATES") bytes)"
    say "\"lastupdate\" now holds the time of this download: $(regval lastupdate)"
else
    missing "no rates file appeared within 30 seconds"
    [ -s "$TMP/nginx/access.log" ] && sed 's/^/nginx: /' "$TMP/nginx/access.log" | show
fi

# ---------------------------------------------------------------------------------------------
step "The reminder: the agent tells the user the update waits for a HotSync (hourly)"
sleep 3 # the balloon comes up a moment after the tray icon changes
screenshot demo-reminder.png
if command -v xdotool >/dev/null; then
    say "A click on the coin in the notification area opens the agent's menu:"
    # Ours is the only icon there: the last place of the taskbar of the 1024x768 desktop.
    xdotool mousemove --sync 1012 757 click 1 2>/dev/null
    sleep 1
    screenshot demo-menu.png
    xdotool key Escape 2>/dev/null
fi

# ---------------------------------------------------------------------------------------------
step "Inside the rates file: a small header, then the lines as the handheld will read them"
if [ ! -s "$RATES" ]; then
    missing "there is no rates file to show"
elif [ -x "$HOST/zlvtool" ] && "$HOST/zlvtool" 2>&1 | grep -q 'zlvtool dump'; then
    "$HOST/zlvtool" dump "$RATES" | show
else
    missing "zlvtool dump is not built yet; the raw bytes:"
    od -A d -c "$RATES" | head -n 8 | show
fi

# ---------------------------------------------------------------------------------------------
step "A HotSync: the HotSync Manager loads conduit.dll, which copies the rates onto the handheld"
if [ ! -f "$PALM/hotsync.exe" ] || [ ! -f "$INSTALL/conduit.dll" ] ||
    [ ! -f "$PALM/condmgr.dll" ]; then
    missing "the conduit or the Palm stand-ins are not built yet: no HotSync to show"
else
    mkdir -p "$HANDHELD"
    export ZLV_HANDHELD_DIR="$(winepath -w "$HANDHELD" 2>/dev/null)"
    say "The handheld is the folder $HANDHELD. The Zelvantic application there has made its"
    say "(empty) database, as it does when it is installed:"
    (cd "$PALM" && wine hotsync.exe --install-db 2>&1) | tr -d '\r' | show
    had_rates=0
    [ -e "$RATES" ] && had_rates=1
    say "Pressing the HotSync button of the HotSync Manager in $PALM_W. Its log:"
    (cd "$PALM" && wine hotsync.exe 2>&1) | tr -d '\r' | show
    code=${PIPESTATUS[0]}
    if [ "$code" = 0 ]; then ok "HotSync finished with 0 (success)"; else missing "HotSync ended with $code"; fi
    if [ $had_rates = 1 ] && [ ! -e "$RATES" ]; then
        ok "the conduit deleted the rates file: the update has reached the handheld"
    fi
    sleep 3
    say "The agent shows the conduit's success notice at its tray icon:"
    screenshot demo-hotsync.png
    step "The record on the handheld"
    PDB="$(ls "$HANDHELD"/*.pdb 2>/dev/null | head -n 1)"
    if [ -z "$PDB" ]; then
        missing "no database file in the handheld folder"
    elif [ -x "$HOST/zlvtool" ] && "$HOST/zlvtool" 2>&1 | grep -q 'zlvtool pdb'; then
        "$HOST/zlvtool" pdb "$PDB" | show
    else
        missing "zlvtool pdb is not built yet; the file is $PDB"
    fi
fi

# ---------------------------------------------------------------------------------------------
step "Ending the agent with its Exit command"
end_agent
printf '\n%sDone.%s Screenshots are in %s.\n' "$B" "$N" "$ART"
