#!/usr/bin/env bash
# Retakes the pictures in docs/screenshots/ from the built binaries, under Wine and Xvfb:
#   python3 tests/harness/winesession.py -- bash docs/manual/screenshots.sh
# Each picture is the part of the screen that one action changed.
set -eu
ROOT="${ZLV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${ZLV_BUILD:-$ROOT/build}"
WIN="${ZLV_WIN:-$BUILD/win}"
OUT="$ROOT/docs/screenshots"
KEY='HKCU\Software\Morvane\Zelvantic' # the user's own settings
C="$WINEPREFIX/drive_c"
INSTALL="$C/Program Files/Zelvantic"
PALM="$ZLV_PALM" # the session's Palm Desktop, named by the user's registry
TMP="$(mktemp -d)"
CONVERT=/usr/bin/convert # /usr/local/bin/convert may be a stand-in
trap 'wine "$WIN/tools/agent_command.exe" 40002 5 >/dev/null 2>&1; rm -rf "$TMP"' EXIT

shot() { xwd -root -display "$DISPLAY" | $CONVERT xwd:- "png:$TMP/$1.png"; }
# Crops what changed between two screenshots inside a region of the screen (default: all but
# the taskbar, where the clock and the icons change on their own).
changed() { # before after out.png [region WxH+X+Y]
    local region="${4:-1024x744+0+0}" geom x y
    geom="$($CONVERT "$TMP/$1.png" "$TMP/$2.png" -crop "$region" +repage -compose difference \
        -composite -colorspace gray -threshold 1% -trim -format '%wx%h%X%Y' info:)"
    # the offset inside the region, back to screen coordinates
    x=$((${region#*+} )) && x=${x%%+*}
    y=${region##*+}
    geom="$(awk -v g="$geom" -v x="$x" -v y="$y" 'BEGIN {
        split(g, a, /[x+]/); printf "%dx%d+%d+%d", a[1], a[2], a[3] + x, a[4] + y }')"
    $CONVERT "$TMP/$2.png" -crop "$geom" +repage "$OUT/$3"
    echo "screenshots: $OUT/$3 ($geom)"
    LAST="$geom"
}
# Clicks the middle of the last cropped area.
click_last() {
    awk -v g="$LAST" 'BEGIN { split(g, a, /[x+]/); print a[3] + a[1] / 2, a[4] + a[2] / 2 }' |
        { read -r x y; xdotool mousemove --sync "${x%.*}" "${y%.*}" click 1; }
}

mkdir -p "$INSTALL" "$OUT"
cp "$WIN/agent.exe" "$WIN/conduit.dll" "$INSTALL/"
wine reg add "$KEY" /v tooltip /t REG_SZ /d 1 /f >/dev/null 2>&1
wine reg add "$KEY" /v lastupdate /t REG_DWORD /d "$(date +%s)" /f >/dev/null 2>&1
# Today's rates wait for a HotSync in the user's own rates folder: the agent reminds at once.
RATES="$(winepath -u "$(wine cmd /c echo '%LOCALAPPDATA%' 2>/dev/null | tr -d '\r')")/Zelvantic"
mkdir -p "$RATES"
printf 'HTTP/1.0 200 OK\r\n\r\n' | cat - "$ROOT/docs/sample-rates.txt" >"$TMP/reply"
"$BUILD/host/zlvtool" rates "$TMP/reply" "$RATES/mrvrates.zlv" >/dev/null

sleep 1
shot desktop
(cd "$TMP" && exec wine "$INSTALL/agent.exe" >/dev/null 2>&1) &
sleep 4
shot reminder
# The balloon and the taskbar with the agent's icon under it.
changed desktop reminder balloon-reminder.png 512x768+512+0
click_last # a click on a balloon closes it
sleep 1

shot before-menu
xdotool mousemove --sync 1012 757 click 1 # the only icon in the notification area
sleep 1
shot menu
changed before-menu menu tray-menu.png 1024x768+0+0
xdotool key Escape
sleep 1

export ZLV_HANDHELD_DIR="$(winepath -w "$TMP")"
shot before-settings
(wine "$PALM/hotsync.exe" --configure >/dev/null 2>&1 &)
sleep 3
shot settings
changed before-settings settings conduit-settings.png 748x744+0+0 # not the balloons
xdotool key Escape
sleep 1

wine "$PALM/hotsync.exe" --install-db >/dev/null 2>&1
shot before-hotsync
wine "$PALM/hotsync.exe" >/dev/null 2>&1
sleep 3
shot hotsync
changed before-hotsync hotsync balloon-hotsync.png 512x768+512+0
click_last
sleep 1

shot before-about
wine "$WIN/tools/agent_command.exe" 40001 >/dev/null 2>&1 # About
sleep 2
shot about
changed before-about about about-box.png

# The README's picture: the reminder and the menu side by side.
$CONVERT "$OUT/balloon-reminder.png" "$OUT/tray-menu.png" -background '#25708f' -gravity south \
    +append "$OUT/tray-balloon-and-menu.png"
echo "screenshots: $OUT/tray-balloon-and-menu.png"
