#!/usr/bin/env python3
"""Runs COMMAND... (qemu-user) with priority-inheriting futexes refused.

qemu-user passes a guest's futex calls to the host kernel as they are. For
priority-inheriting futexes the kernel itself reads the owner's thread id
from the futex word, which a big-endian guest stores byte-swapped for a
little-endian host: a contended lock then fails (EPERM) or never wakes.
Refused with ENOSYS, as on a kernel without them, the guest's C library
gives out plain mutexes instead (PulseAudio's client asks for
priority-inheriting ones). The filter is inherited by everything COMMAND
starts.

usage: qemu_without_pi_futexes.py COMMAND...
"""
import ctypes
import os
import platform
import struct
import sys

PR_SET_NO_NEW_PRIVS = 38
PR_SET_SECCOMP = 22
SECCOMP_MODE_FILTER = 2
SECCOMP_RET_ALLOW = 0x7FFF0000
SECCOMP_RET_ERRNO = 0x00050000
ENOSYS = 38
AUDIT_ARCH_X86_64 = 0xC000003E
NR_FUTEX_X86_64 = 202
FUTEX_CMD_MASK = 0x7F  # without FUTEX_PRIVATE_FLAG and FUTEX_CLOCK_REALTIME
# LOCK_PI, UNLOCK_PI, TRYLOCK_PI, WAIT_REQUEUE_PI, CMP_REQUEUE_PI, LOCK_PI2
PI_COMMANDS = (6, 7, 8, 11, 12, 13)

# Classic BPF: ld = 0x20 (W, ABS), jeq = 0x15 (JMP, JEQ, K), and = 0x54
# (ALU, AND, K), ret = 0x06 (RET, K). seccomp_data: nr @0, arch @4,
# args[1] (low word on little-endian) @24.
def program():
    ops = [(0x20, 0, 0, 4), None, (0x20, 0, 0, 0), None, (0x20, 0, 0, 24), (0x54, 0, 0, FUTEX_CMD_MASK)]
    allow = len(ops) + len(PI_COMMANDS)  # index of the "allow" return; "refuse" follows it
    for command in PI_COMMANDS:
        # Jumps count from the next instruction: a match lands on "refuse".
        ops.append((0x15, allow - len(ops), 0, command))
    ops.append((0x06, 0, 0, SECCOMP_RET_ALLOW))
    ops.append((0x06, 0, 0, SECCOMP_RET_ERRNO | ENOSYS))
    ops[1] = (0x15, 0, allow - 2, AUDIT_ARCH_X86_64)  # other arch: allow
    ops[3] = (0x15, 0, allow - 4, NR_FUTEX_X86_64)  # other call: allow
    return ops


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: qemu_without_pi_futexes.py COMMAND...")
    if platform.machine() == "x86_64":
        ops = program()
        raw = b"".join(struct.pack("HBBI", *op) for op in ops)
        filters = ctypes.create_string_buffer(raw, len(raw))

        class SockFprog(ctypes.Structure):
            _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_void_p)]

        prog = SockFprog(len(ops), ctypes.addressof(filters))
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 or \
                libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(prog), 0, 0) != 0:
            sys.exit("qemu_without_pi_futexes.py: seccomp filter refused: " + os.strerror(ctypes.get_errno()))
    os.execvp(sys.argv[1], sys.argv[1:])


if __name__ == "__main__":
    main()
