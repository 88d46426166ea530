#!/usr/bin/env bash
# The generated icons and bitmaps, read by ImageMagick and by their raw headers; leaves a contact
# sheet of every picture, enlarged, under the artefacts folder.
set -u
BUILD="${ZLV_BUILD:-${ZLV_ROOT:-.}/build}"
ART_AGENT="$BUILD/host/art_agent"
ART_CONDUIT="$BUILD/host/art_conduit"
IM=/usr/bin # the real ImageMagick, not a look-alike earlier on PATH
ARTIFACTS="${ZLV_ARTIFACTS:-$BUILD/artifacts}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; }
check() { # name, condition text, command...
    local name="$1" why="$2"; shift 2
    if "$@"; then pass "$name"; else fail "$name" "$why"; fi
}

# Little-endian header fields straight from the file.
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u8() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
pixel() { "$IM/convert" "$1" -format "%[pixel:p{$2}]" info:- 2>/dev/null; }
rgba() { "$IM/convert" "$1" -depth 8 rgba:- 2>/dev/null | md5sum | cut -c1-32; }
count_colour() { # file [convert options]; COLOUR=RRGGBB: how many pixels have that colour
    local n
    n=$("$IM/convert" "$@" -format %c histogram:info:- 2>/dev/null | grep -i -E "#${COLOUR#\#}(FF)? " |
        sed 's/^ *\([0-9]*\):.*/\1/')
    echo "${n:-0}"
}

if [ ! -x "$ART_AGENT" ] || [ ! -x "$ART_CONDUIT" ]; then
    fail art_generators_built "missing $ART_AGENT or $ART_CONDUIT"
    exit 0
fi
OUT="$WORK/out"
mkdir -p "$OUT"

# --- generators run and write exactly the named files ---------------------------------------
"$ART_AGENT" "$OUT" && "$ART_CONDUIT" "$OUT"
check generators_succeed "exit code $?" test $? -eq 0
expected="action103.bmp action104.bmp action105.bmp action106.bmp agent133.ico close137.bmp \
close138.bmp close139.bmp conduit105.ico"
for n in $(seq 104 131); do expected="$expected frame$n.ico"; done
want="$(echo $expected | tr ' ' '\n' | sort)"
have="$(ls "$OUT" | sort)"
check exact_file_set "have: $(echo $have)" test "$want" = "$have"

mkdir -p "$WORK/again"
"$ART_AGENT" "$WORK/again" && "$ART_CONDUIT" "$WORK/again"
check output_is_reproducible "second run differs" diff -r -q "$OUT" "$WORK/again"

# --- bad output folders: refused with a message, nothing half written -----------------------
"$ART_AGENT" >/dev/null 2>&1
check usage_without_folder "exit code $?" test $? -eq 2
"$ART_CONDUIT" "$WORK/no/such/folder" 2>"$WORK/err"
code=$?
check missing_folder_refused "exit code $code, stderr: $(cat "$WORK/err")" \
    test $code -ne 0 -a ! -e "$WORK/no" -a -s "$WORK/err"
touch "$WORK/plainfile"
"$ART_AGENT" "$WORK/plainfile" 2>/dev/null
check file_as_folder_refused "exit code $?" test $? -ne 0 -a -f "$WORK/plainfile"

# --- icons: what an independent reader sees, and the directory entries Windows reads --------
icon_layout() { # file, expected "w h depth" per image, in order
    local f="$1"; shift
    local got
    got="$("$IM/identify" -format '%w %h %z\n' "$f" 2>/dev/null | tr '\n' ';')"
    local exp
    exp="$(printf '%s;' "$@")"
    [ "$got" = "$exp" ] || { echo "  $f: identify says '$got', want '$exp'"; return 1; }
    local count i entry bpp colours planes size offset total=0
    count=$(u16 "$f" 4)
    [ "$count" -eq $# ] || { echo "  $f: $count directory entries"; return 1; }
    for ((i = 0; i < count; i++)); do
        entry=$((6 + 16 * i))
        colours=$(u8 "$f" $((entry + 2)))
        planes=$(u16 "$f" $((entry + 4)))
        bpp=$(u16 "$f" $((entry + 6)))
        size=$(u32 "$f" $((entry + 8)))
        offset=$(u32 "$f" $((entry + 12)))
        [ "$planes" -eq 1 ] || { echo "  $f[$i]: planes $planes"; return 1; }
        if [ "$bpp" -eq 4 ]; then [ "$colours" -eq 16 ]; else [ "$bpp" -eq 8 ] && [ "$colours" -eq 0 ]; fi ||
            { echo "  $f[$i]: $bpp bits with colour count $colours"; return 1; }
        [ "$(u16 "$f" $((offset + 14)))" -eq "$bpp" ] || { echo "  $f[$i]: header depth"; return 1; }
        total=$((total + size))
    done
    [ $((6 + 16 * count + total)) -eq "$(stat -c %s "$f")" ] || { echo "  $f: sizes do not add up"; return 1; }
}

frames_ok=1
for n in $(seq 104 131); do icon_layout "$OUT/frame$n.ico" "16 16 8" || frames_ok=0; done
check tray_frames_16px_256_colours "see log" test $frames_ok -eq 1
check class_icon_six_images "see log" icon_layout "$OUT/agent133.ico" \
    "32 32 4" "24 24 4" "16 16 4" "32 32 8" "24 24 8" "16 16 8"
check conduit_icon_four_images "see log" icon_layout "$OUT/conduit105.ico" \
    "32 32 4" "16 16 4" "32 32 8" "16 16 8"

# Every frame of the turn is a picture of its own; the last is the resting one again.
distinct=$(for n in $(seq 105 131); do rgba "$OUT/frame$n.ico"; done | sort -u | wc -l)
check tray_frames_all_differ "$distinct distinct of 27" test "$distinct" -eq 27
check tray_loop_is_seamless "frame131 differs from frame104" \
    test "$(rgba "$OUT/frame131.ico")" = "$(rgba "$OUT/frame104.ico")"

# The corners of a round mark show the screen through.
corners_clear() {
    local f="$1" p
    for p in 0,0 15,0 0,15 15,15; do
        [ "$(pixel "$f" $p)" = "srgba(0,0,0,0)" ] || { echo "  $f corner $p: $(pixel "$f" $p)"; return 1; }
    done
}
check icon_corners_transparent "see log" corners_clear "$OUT/frame104.ico"

# --- balloon close boxes: 24-bit, top-left pixel is the transparent key ---------------------
close_ok=1
key="$(pixel "$OUT/close139.bmp" 0,0)"
for n in 137 138 139; do
    f="$OUT/close$n.bmp"
    [ "$("$IM/identify" -format '%w %h' "$f")" = "16 14" ] || { echo "  $f: size"; close_ok=0; }
    [ "$(u16 "$f" 28)" -eq 24 ] || { echo "  $f: not 24 bits"; close_ok=0; }
    [ "$(pixel "$f" 0,0)" = "$key" ] || { echo "  $f: another key colour"; close_ok=0; }
    # The key is what lies around the button: all four corners, and not the whole picture.
    for p in 15,0 0,13 15,13; do [ "$(pixel "$f" $p)" = "$key" ] || { echo "  $f: corner $p"; close_ok=0; }; done
    keyed=$(COLOUR=FF00FF count_colour "$f")
    [ "$keyed" -gt 8 ] && [ "$keyed" -lt $((16 * 14 - 8)) ] || { echo "  $f: $keyed key pixels"; close_ok=0; }
done
check close_boxes_keyed "see log" test $close_ok -eq 1
states=$(for n in 137 138 139; do rgba "$OUT/close$n.bmp"; done | sort -u | wc -l)
check close_box_states_differ "$states distinct" test "$states" -eq 3

# --- conduit action bitmaps: 16 colours, light grey only where nothing is drawn -------------
action_ok=1
for n in 103 104 105 106; do
    f="$OUT/action$n.bmp"
    [ "$("$IM/identify" -format '%w %h %z %r' "$f")" = "48 24 4 PseudoClass sRGB " ] ||
        { echo "  $f: $("$IM/identify" -format '%w %h %z %r' "$f")"; action_ok=0; }
    [ "$(u32 "$f" 46)" -eq 16 ] || { echo "  $f: palette count"; action_ok=0; }
    [ "$(pixel "$f" 0,0)" = "srgb(192,192,192)" ] || { echo "  $f: background $(pixel "$f" 0,0)"; action_ok=0; }
    # Flood the background from each corner: no light grey may be left inside the drawing, or
    # the dialog's recolouring would punch holes in it.
    left=$(COLOUR=C0C0C0 count_colour "$f" -fill magenta -draw 'color 0,0 floodfill' \
        -draw 'color 47,0 floodfill' -draw 'color 0,23 floodfill' -draw 'color 47,23 floodfill')
    [ "$left" -eq 0 ] || { echo "  $f: $left light grey pixels inside the drawing"; action_ok=0; }
    grey=$(COLOUR=C0C0C0 count_colour "$f")
    [ "$grey" -gt 200 ] && [ "$grey" -lt 1000 ] || { echo "  $f: $grey background pixels"; action_ok=0; }
done
check action_bitmaps_grey_background "see log" test $action_ok -eq 1
actions=$(for n in 103 104 105 106; do rgba "$OUT/action$n.bmp"; done | sort -u | wc -l)
check action_bitmaps_differ "$actions distinct" test "$actions" -eq 4

# --- contact sheet for a person to look at --------------------------------------------------
sheet() {
    local s="$WORK/sheet" c="$IM/convert"
    mkdir -p "$s"
    local n i
    for n in $(seq 104 131); do
        "$c" -background '#C0C0C0' "$OUT/frame$n.ico" -flatten -scale 500% -bordercolor white -border 3 "$s/f$n.png"
    done
    "$c" "$s"/f10[4-9].png "$s"/f11[0-7].png +append "$s/row1.png"
    "$c" "$s"/f11[8-9].png "$s"/f12*.png "$s"/f13*.png +append "$s/row2.png"
    for i in 0 1 2 3 4 5; do
        "$c" -background '#C0C0C0' "$OUT/agent133.ico[$i]" -flatten -scale 500% -bordercolor white -border 3 "$s/a$i.png"
    done
    for i in 0 1 2 3; do
        "$c" -background '#C0C0C0' "$OUT/conduit105.ico[$i]" -flatten -scale 500% -bordercolor white -border 3 "$s/c$i.png"
    done
    "$c" "$s"/a*.png "$s"/c*.png -background white -gravity south +append "$s/row3.png"
    for n in 139 137 138; do
        "$c" "$OUT/close$n.bmp" -fill '#FFF4CC' -opaque "$key" -scale 800% -bordercolor white -border 3 "$s/x$n.png"
    done
    for n in 103 104 105 106; do
        "$c" "$OUT/action$n.bmp" -scale 400% -bordercolor white -border 3 "$s/b$n.png"
    done
    "$c" "$s/x139.png" "$s/x137.png" "$s/x138.png" "$s"/b*.png -background white -gravity center +append "$s/row4.png"
    mkdir -p "$ARTIFACTS"
    "$c" "$s"/row[1-4].png -background white -gravity west -append "$ARTIFACTS/art-contact-sheet.png"
}
if sheet 2>"$WORK/sheet.err"; then
    pass contact_sheet
    echo "  sheet: $ARTIFACTS/art-contact-sheet.png"
else
    fail contact_sheet "$(head -3 "$WORK/sheet.err")"
fi
