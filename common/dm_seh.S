/* int dm_seh_call(fn, arg, filter, ctx) and
 * void dm_seh_call_finally(fn, arg, done, ctx) — see include/dm_seh.h.
 * The four arguments are kept in the caller's home area, where the language
 * handler finds them from the establisher frame (rbp). dm_seh_call's handler
 * is an exception handler (it decides in the search); dm_seh_call_finally's
 * is a termination handler (called only while the stack unwinds). */

/* The shared frame: the four arguments into the home area, rbp the
 * establisher frame, 32 bytes of home area for the calls made. */
.macro home_frame
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
    home_frame
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

    .p2align 4
    .globl dm_seh_call_finally
    .def dm_seh_call_finally; .scl 2; .type 32; .endef
    .seh_proc dm_seh_call_finally
dm_seh_call_finally:
    home_frame
    .seh_handler dm_seh_finally_handler, @unwind
    movq 24(%rbp), %rcx
    call *16(%rbp)
    nop
    movq 40(%rbp), %rcx
    call *32(%rbp)
    nop
    leaq 0(%rbp), %rsp
    popq %rbp
    ret
    .seh_endproc
