/*
 * core/forwarders.S - vector forwarders and memory-pool handlers.
 *
 * A vector forwarder reaches entry S of the host's service vector V.  The
 * host's entry has exactly the forwarder's signature, so the forwarder is a
 * pure tail transfer:
 *
 *   1. read the control block from v_global_gcb_anchor;
 *   2. store 0 into byte V of the control block's byte array (cb+0x08);
 *   3. put V*2^32 + S into r10, where the host entry finds which service
 *      it was reached as;
 *   4. jump to entry S of vector V (vector array at cb+0x00).
 *
 * Only r10 and r11 are used: every argument register stays as the caller
 * left it, and so does rax, which holds the vector-register count of a
 * variadic call (xpmlog, xpslog, xpsstr).
 *
 * Without a host (no control block, no vector array, no vector, or an empty
 * entry) the forwarder answers 0 instead of jumping through a null pointer.
 * xexit then returns as well; its callers treat that as "no host to end".
 *
 * Pool handlers transfer to entry 0 (allocate) or entry 1 (release) of the
 * pool record passed as first argument; a null pool or entry answers 0.
 */

        .text
        .hidden v_global_gcb_anchor

/* Shared exit for every forwarder that finds no host: return 0. */
        .p2align 4
        .type   zeq_forward_nohost, @function
zeq_forward_nohost:
        xorl    %eax, %eax
        ret
        .size   zeq_forward_nohost, .-zeq_forward_nohost

.macro VECTOR_FORWARDER name, vector, entry
        .globl  \name
        .type   \name, @function
        .p2align 4
\name:
        movq    v_global_gcb_anchor(%rip), %r11
        testq   %r11, %r11
        jz      zeq_forward_nohost
        movq    8(%r11), %r10                   /* byte array, one per vector */
        testq   %r10, %r10
        jz      1f
        movb    $0, \vector(%r10)
1:
        movq    (%r11), %r11                    /* vector array */
        testq   %r11, %r11
        jz      zeq_forward_nohost
        movq    (\vector * 8)(%r11), %r11       /* vector V */
        testq   %r11, %r11
        jz      zeq_forward_nohost
        movq    (\entry * 8)(%r11), %r11        /* entry S */
        testq   %r11, %r11
        jz      zeq_forward_nohost
        movabsq $((\vector << 32) | \entry), %r10
        jmp     *%r11
        .size   \name, .-\name
.endm

/*                   forwarder  vector entry */
VECTOR_FORWARDER     xjundls,    40,   96
VECTOR_FORWARDER     xalanch,    40,  277
VECTOR_FORWARDER     xjsympc,    49,   31
VECTOR_FORWARDER     wzsxoff,     4,   35
VECTOR_FORWARDER     wzsx8ac,     4,  104
VECTOR_FORWARDER     wtrsset,     0,  192
VECTOR_FORWARDER     wzfmhc,      0,  293
VECTOR_FORWARDER     wzrlchr,     0,  320
VECTOR_FORWARDER     xexit,      39,    4
VECTOR_FORWARDER     xmrealc,    39,   34
VECTOR_FORWARDER     xyrcgef,    39,   56
VECTOR_FORWARDER     xyrngef,    39,   57
VECTOR_FORWARDER     xpmlog,     39,   70
VECTOR_FORWARDER     xpsstr,     39,   79
VECTOR_FORWARDER     xpslog,     39,   89
VECTOR_FORWARDER     xpselec,    39,  108
VECTOR_FORWARDER     xprrlog,    39,  130
VECTOR_FORWARDER     xpopset,    39,  138
VECTOR_FORWARDER     zfmt,       39,  184
VECTOR_FORWARDER     zzeqver,    39,  194

.macro POOL_HANDLER name, slot
        .globl  \name
        .type   \name, @function
        .p2align 4
\name:
        testq   %rdi, %rdi
        jz      zeq_forward_nohost
        movq    (\slot * 8)(%rdi), %r11
        testq   %r11, %r11
        jz      zeq_forward_nohost
        jmp     *%r11
        .size   \name, .-\name
.endm

/* (pool, size, flags) -> block or null */
POOL_HANDLER vmalcp_handler, 0
POOL_HANDLER vmalloc_handler, 0
/* (pool, block, ...) */
POOL_HANDLER vmfree_handler, 1

        .section .note.GNU-stack,"",@progbits
