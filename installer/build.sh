#!/usr/bin/env bash
# Makes Zelvantic-Setup-1.5.exe from the built binaries and the documents: in build/win from the
# shipped 32-bit build, or with the argument x86_64 in build/win64 from the 64-bit test build.
set -euo pipefail
ROOT="${ZLV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
BUILD="${ZLV_BUILD:-$ROOT/build}"
ARCH="${1:-i686}"
case "$ARCH" in
i686) WIN="$BUILD/win" TARGET=() ;;
x86_64) WIN="$BUILD/win64" TARGET=(-DAMD64) ;;
*) echo "installer: no build $ARCH (i686 or x86_64)" >&2; exit 2 ;;
esac
OUT="$WIN/Zelvantic-Setup-1.5.exe"
MANUAL="Zelvantic for Palm Product Manual.pdf"

for f in agent.exe conduit.dll; do
    if [ ! -f "$WIN/$f" ]; then
        echo "installer: $WIN/$f is not built; no installer" >&2
        rm -f "$OUT"
        exit 0
    fi
done

STAGE="$WIN/installer-stage"
rm -rf "$STAGE"
mkdir -p "$STAGE/Palm"
cp "$WIN/agent.exe" "$WIN/conduit.dll" "$ROOT/docs/Readme.html" "$STAGE/"
# Notepad on older Windows wants CR LF.
sed 's/\r*$/\r/' "$ROOT/docs/Palm/Readme.txt" >"$STAGE/Palm/Readme.txt"
mkdir -p "$BUILD/docs"
python3 -B "$ROOT/docs/manual/make_manual.py" "$ROOT/docs/manual/manual.txt" "$BUILD/docs/$MANUAL"
cp "$BUILD/docs/$MANUAL" "$STAGE/"

# The web site the agent's string table names, so that both give the same address.
website="$(sed -n 's/^ZLV_WEBSITE:[A-Z]*=//p' "$WIN/CMakeCache.txt")"
if [ -z "$website" ]; then
    echo "installer: no ZLV_WEBSITE in $WIN/CMakeCache.txt" >&2
    exit 1
fi
args=(-V2 -NOCD "${TARGET[@]}" "-DSTAGE=$STAGE" "-DOUTFILE=$OUT" "-DWEBSITE=$website")
icon="$WIN/agent/art/agent133.ico"
[ -f "$icon" ] && args+=("-DICON=$icon")
makensis "${args[@]}" "$ROOT/installer/zelvantic.nsi" >"$WIN/installer.log" 2>&1 ||
    { cat "$WIN/installer.log" >&2; exit 1; }
echo "installer: $OUT ($(stat -c %s "$OUT") bytes)"
