#!/usr/bin/env bash
# The shipped binaries: 32-bit PE files that need nothing on the user's machine but Windows
# itself and, for conduit.dll, the Sync Manager. Every other library they import is a known
# system library (KnownDLLs), which Windows takes only from the system folder: an import of any
# other name would be looked for beside the program first, where someone may have put a file.
set -u
WIN="${ZLV_BUILD:-${ZLV_ROOT:-.}/build}/win"
OBJDUMP=i686-w64-mingw32-objdump

SYSTEM_DLLS=" advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll ole32.dll
oleaut32.dll shell32.dll shlwapi.dll user32.dll ws2_32.dll "

result() { # PASS|FAIL name [why]
    if [ "$1" = FAIL ]; then echo "FAIL $2: ${3:-}"; else echo "PASS $2"; fi
}

# Imported DLL names that are neither system DLLs nor the allowed extra one.
foreign_imports() { # objdump text, extra allowed name
    local dll
    for dll in $(sed -n 's/^\s*DLL Name: //p' <<<"$1" | tr 'A-Z' 'a-z'); do
        case "$(echo $SYSTEM_DLLS) $2 " in *"$dll "*) ;; *) printf '%s ' "$dll" ;; esac
    done
}

check_pe() { # file, label, kind (program|library), extra allowed import
    local file="$1" label="$2" kind="$3" extra="$4" dump foreign
    if [ ! -f "$file" ]; then
        result FAIL "$label is a 32-bit Windows $kind" "$file was not built"
        return 1
    fi
    dump="$($OBJDUMP -p "$file")"
    local flags
    flags="$(sed -n '/^Characteristics/,/^$/p' <<<"$dump")"
    local ok=1
    grep -q 'file format pei-i386' <<<"$dump" && grep -q '^Magic\s*010b' <<<"$dump" || ok=0
    if [ "$kind" = program ]; then
        grep -q '^Subsystem.*(Windows GUI)' <<<"$dump" || ok=0
        grep -qx '\s*DLL' <<<"$flags" && ok=0
    else
        grep -qx '\s*DLL' <<<"$flags" || ok=0
    fi
    if [ $ok = 1 ]; then
        result PASS "$label is a 32-bit Windows $kind"
    else
        result FAIL "$label is a 32-bit Windows $kind" \
            "$(grep -E 'file format|^Magic|^Subsystem' <<<"$dump" | tr -s ' \t\n' ' ') $(echo $flags)"
    fi
    foreign="$(foreign_imports "$dump" "$extra")"
    if [ -z "$foreign" ] && grep -q 'DLL Name:' <<<"$dump"; then
        result PASS "$label imports only known system DLLs${extra:+ and $extra}"
    else
        result FAIL "$label imports only known system DLLs${extra:+ and $extra}" \
            "also needs: ${foreign:-?}"
    fi
    echo "size of $label: $(stat -c %s "$file") bytes"
}

# The agent binds the Conduit Manager at run time: without one it must still start and download.
check_pe "$WIN/agent.exe" agent.exe program ""

if check_pe "$WIN/conduit.dll" conduit.dll library sync20.dll; then
    # The HotSync Manager finds the entry points by their plain, undecorated names.
    exports="$($OBJDUMP -p "$WIN/conduit.dll" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[\s*[0-9]*\]\s*//p')"
    missing=""
    for name in OpenConduit GetConduitName GetConduitVersion GetConduitInfo ConfigureConduit \
        CfgConduit; do
        grep -qx "$name" <<<"$exports" || missing+="$name "
    done
    if [ -z "$missing" ]; then
        result PASS "conduit.dll exports its entry points by plain name"
    else
        result FAIL "conduit.dll exports its entry points by plain name" \
            "missing $missing(has: $(echo $exports))"
    fi
    # What conduit.dll asks of sync20.dll: seven calls by ordinal, two by name.
    imports="$($OBJDUMP -p "$WIN/conduit.dll" | sed -n '/DLL Name: sync20.dll/,/^$/p' | sed 1,2d)"
    ordinals="$(awk '$3 == "<none>" { print $2 }' <<<"$imports" | sort -n | tr '\n' ' ')"
    names="$(awk 'NF == 3 && $3 != "<none>" { print $3 }' <<<"$imports" | sort | tr '\n' ' ')"
    if [ "$ordinals" = "22 23 26 27 28 32 41 " ] &&
        [ "$names" = "SyncFindDbByTypeCreator SyncHostToHHDWord " ]; then
        result PASS "conduit.dll imports the Sync Manager's ordinals and names"
    else
        result FAIL "conduit.dll imports the Sync Manager's ordinals and names" \
            "ordinals: $ordinals names: $names"
    fi
fi

# An edit of text.rc, the manifest or a picture rebuilds agent.exe only while ninja knows that
# the compiled resource was made from them.
deps="$(ninja -C "$WIN" -t deps agent/CMakeFiles/agent.dir/resources/agent.rc.res 2>&1)"
missing=""
grep -q '/agent/resources/text\.rc$' <<<"$deps" || missing+="text.rc "
grep -q '/agent/config/agent\.manifest$' <<<"$deps" || missing+="agent.manifest "
grep -q '\.ico$' <<<"$deps" || missing+="an icon "
if [ -z "$missing" ]; then
    result PASS "agent.exe's resources depend on what their script includes"
else
    result FAIL "agent.exe's resources depend on what their script includes" \
        "ninja lists no ${missing}(it says: $(head -c 300 <<<"$deps"))"
fi
exit 0
