# Sourced by the scripts that run sanitized i386 programs.  Where those run
# under user-mode emulation (scripts/i386exec.sh), two settings keep
# AddressSanitizer working there:
# - the emulated process's address space ends a page below 3 GiB, where
#   AddressSanitizer places the end of user memory once uname() reports an
#   i686 machine (the emulator would otherwise map memory above it, outside
#   the sanitizer's shadow; a mapping ending at 3 GiB itself fails its check);
# - LeakSanitizer is off: its exit check stops the threads with ptrace, which
#   the emulator does not offer, and hangs.
if [ -z "${QX_I386:-}" ]; then
  QX_I386=$(bash "$(dirname "${BASH_SOURCE[0]}")/i386exec.sh" mode)
  export QX_I386
fi
if [ "$QX_I386" = emulated ]; then
  export QEMU_RESERVED_VA=0xbffff000
  case ":${ASAN_OPTIONS:-}:" in
    *:detect_leaks=*) ;;
    *) export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" ;;
  esac
fi
