/* The simulated game's image: one zero-filled, readable, writable and
 * executable section from RVA 0x1000 to 0x3700000, where the game's objects,
 * functions and tables are laid out at their build's offsets. It is
 * uninitialised data, so the executable file stays small.
 *
 * The image's routines that sim_draw.cpp writes (the draw routine at
 * +0x799CC0, the shadow routine at +0x484630) have their unwind data here,
 * in the executable's exception table, as the game's own code does: the
 * bytes below describe the prologues written there. */
    .section .dmgame,"bwx"
    .globl dm_game_image
dm_game_image:
    .space 0x36FF000

    .section .pdata,"dr"
    .balign 4
    .rva dm_game_image + (0x484630 - 0x1000), dm_game_image + (0x484630 - 0x1000 + 42), shadow_unwind
    .rva dm_game_image + (0x799CC0 - 0x1000), dm_game_image + (0x799CC0 - 0x1000 + 46), draw_unwind

    .section .xdata,"dr"
    .balign 4
/* version 1, prologue 9 bytes, 4 codes, no frame register */
shadow_unwind:
    .byte 0x01, 9, 4, 0x00
    .byte 9, 0x52       /* at 9: sub rsp, 0x30 (alloc small, 5 = 0x30 / 8 - 1) */
    .byte 5, 0xE0       /* at 5: push r14 */
    .byte 3, 0x60       /* at 3: push rsi */
    .byte 2, 0x50       /* at 2: push rbp */
    .balign 4
/* version 1, prologue 18 bytes, 5 code slots, no frame register */
draw_unwind:
    .byte 0x01, 18, 5, 0x00
    .byte 18, 0x52      /* at 18: sub rsp, 0x30 */
    .byte 10, 0x32      /* at 10: sub rsp, 0x20 */
    .byte 6, 0x70       /* at 6: push rdi */
    .byte 5, 0x64       /* at 5: mov [rsp+0x20], rsi, saved at final rsp + 0x78 */
    .short 0x78 / 8
    .short 0            /* an even number of slots */
