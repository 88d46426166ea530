#!/usr/bin/env bash
# Which Windows builds this machine can run under Wine. Sourced by zlv and setup.sh; as a command,
# `machine.sh modes` prints them (i686 first, the shipped one) and `machine.sh runs32` answers
# with its exit code.
#
# Some kernels run no 32-bit x86 user code at all (IA-32 emulation off): there 32-bit Wine cannot
# start and only the 64-bit test build runs. The probe asks the kernel itself, by running the
# smallest 32-bit Linux program, so it needs neither Wine nor a 32-bit C library. ZLV_RUNS32=yes or
# no in the environment answers for it.

zlv_runs_32bit_code() {
    if [ -z "${ZLV_RUNS32:-}" ]; then
        local probe
        probe="$(mktemp /tmp/zlv-i386-XXXXXX)"
        # ELF32 header, one loadable segment, then: mov eax, 1; xor ebx, ebx; int 0x80 (exit 0).
        printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
        chmod +x "$probe"
        if "$probe" 2>/dev/null; then ZLV_RUNS32=yes; else ZLV_RUNS32=no; fi
        rm -f "$probe"
        # A CPU emulator behind binfmt_misc also runs the probe, but not 32-bit Wine.
        local handler
        for handler in /proc/sys/fs/binfmt_misc/*; do
            grep -qs '^enabled' "$handler" && grep -qs '^interpreter .*i386' "$handler" &&
                ZLV_RUNS32=no
        done
        export ZLV_RUNS32
    fi
    [ "$ZLV_RUNS32" = yes ]
}

# The builds the Windows tests run on: ZLV_ARCH names one, else every one the machine runs.
zlv_modes() {
    case "${ZLV_ARCH:-}" in
    i686)
        if ! zlv_runs_32bit_code; then
            echo "zlv: ZLV_ARCH=i686, but this machine runs no 32-bit code" >&2
            return 1
        fi
        echo i686 ;;
    x86_64) echo x86_64 ;;
    "") if zlv_runs_32bit_code; then echo "i686 x86_64"; else echo x86_64; fi ;;
    *) echo "zlv: ZLV_ARCH must be i686 or x86_64, not $ZLV_ARCH" >&2; return 1 ;;
    esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    modes) zlv_modes ;;
    runs32) zlv_runs_32bit_code ;;
    *) echo "usage: machine.sh modes|runs32" >&2; exit 2 ;;
    esac
fi
