#!/bin/sh
# can_run_32bit.sh: exits 0 when this machine can run 32-bit x86 programs (and so 32-bit Wine),
# 1 when it cannot. Prints nothing; -v says which and why.
#
# A kernel built without IA-32 emulation (or booted with it off) refuses every i386 ELF with
# "Exec format error". The check runs a tiny i386 program written here, so it depends on no
# installed package, and it runs under a timeout so it never hangs.
verbose=0
[ "${1:-}" = -v ] && verbose=1
say() { [ $verbose = 0 ] || echo "$*"; }

case $(uname -m) in
  i?86) say "yes: the machine is 32-bit x86"; exit 0 ;;
  x86_64 | amd64) ;;
  *) say "no: $(uname -m) is not an x86 machine"; exit 1 ;;
esac

# The program: one ELF32 header, one loadable segment, and "exit(0)" through int 0x80.
elf='\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
elf=$elf'\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000'
elf=$elf'\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
elf=$elf'\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
elf=$elf'\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000'
elf=$elf'\270\001\000\000\000\061\333\315\200'

# A folder mounted noexec would refuse the program for another reason: try the next one.
for dir in "${TMPDIR:-/tmp}" /var/tmp /dev/shm; do
  tmp=$(mktemp "$dir/pb32.XXXXXX" 2>/dev/null) || continue
  printf "$elf" > "$tmp" && chmod 700 "$tmp" || { rm -f "$tmp"; continue; }
  err=$(timeout -k 2 10 "$tmp" 2>&1)
  rc=$?
  rm -f "$tmp"
  if [ $rc = 0 ]; then
    say "yes: a 32-bit x86 program ran"
    exit 0
  fi
  case $err in
    *"ermission denied"*) continue ;;
  esac
  # A refused program falls back to the shell, which fails on it: any failure means no.
  say "no: the kernel does not run 32-bit x86 programs (exit $rc)"
  exit 1
done
say "no: found no folder where a test program may run"
exit 1
