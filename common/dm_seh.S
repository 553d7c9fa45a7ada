/* int dm_seh_call(fn, arg, filter, ctx) and
 * void dm_seh_call_unwind(fn, arg, on_unwind, ctx) — see include/dm_seh.h.
 * The four arguments are kept in the caller's home area, where the language
 * handler finds them from the establisher frame (rbp). */

/* The frame both share: the arguments homed, rbp as the frame register. */
.macro dm_seh_frame
    movq %rcx, 8(%rsp)
    movq %rdx, 16(%rsp)
    movq %r8, 24(%rsp)
    movq %r9, 32(%rsp)
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    subq $32, %rsp
    .seh_stackalloc 32
    .seh_endprologue
.endm

    .text
    .p2align 4
    .globl dm_seh_call
    .def dm_seh_call; .scl 2; .type 32; .endef
    .seh_proc dm_seh_call
dm_seh_call:
    dm_seh_frame
    .seh_handler dm_seh_handler, @except
    movq 24(%rbp), %rcx
    call *16(%rbp)
    nop
    movl $1, %eax
    jmp 1f
    .globl dm_seh_recover
dm_seh_recover:
    xorl %eax, %eax
1:
    leaq 0(%rbp), %rsp
    popq %rbp
    ret
    .seh_endproc

/* The same frame with an unwind handler only: nothing is caught, and
 * on_unwind(ctx) runs when an unwind passes through. */
    .p2align 4
    .globl dm_seh_call_unwind
    .def dm_seh_call_unwind; .scl 2; .type 32; .endef
    .seh_proc dm_seh_call_unwind
dm_seh_call_unwind:
    dm_seh_frame
    .seh_handler dm_seh_unwind_handler, @unwind
    movq 24(%rbp), %rcx
    call *16(%rbp)
    nop
    leaq 0(%rbp), %rsp
    popq %rbp
    ret
    .seh_endproc
