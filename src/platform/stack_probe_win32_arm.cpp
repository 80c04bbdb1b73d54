// __chkstk for ARM Windows. Windows commits a thread's stack a page at a
// time, as the guard page below it is touched, so a frame larger than a
// page (the converter keeps its blocks on the stack) must touch each page in
// turn before it is used: the compiler calls __chkstk for such frames. The
// C runtime's static part normally brings it; the library links none.
//
// The same runtime part would bring ARMv7's division helpers (__rt_udiv,
// __rt_sdiv, __rt_udiv64), which clang calls for a division by a value known
// only at run time: there are none in the library, and there must be none
// (the link fails).
#if defined(__aarch64__)
// The frame's size arrives in x15 in 16-byte units; only x16, x17 and the
// flags may change.
extern "C" __attribute__((naked)) void __chkstk() {
    asm volatile(
        "lsl x16, x15, #4\n"
        "mov x17, sp\n"
        "1:\n"
        "sub x17, x17, #4096\n"
        "subs x16, x16, #4096\n"
        "ldr xzr, [x17]\n"
        "b.gt 1b\n"
        "ret\n");
}
#elif defined(__arm__)
// The frame's size arrives in r4 in 4-byte units and goes back in bytes,
// for the caller to take off sp; only r12 and the flags may change besides.
extern "C" __attribute__((naked)) void __chkstk() {
    asm volatile(
        "lsl r4, r4, #2\n"
        "mov r12, sp\n"
        "push {r5, r6}\n"
        "mov r5, r4\n"
        "1:\n"
        "sub r12, r12, #4096\n"
        "subs r5, r5, #4096\n"
        "ldr r6, [r12]\n"
        "bgt 1b\n"
        "pop {r5, r6}\n"
        "bx lr\n");
}
#endif
