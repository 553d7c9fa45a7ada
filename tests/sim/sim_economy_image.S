/* Unwind data of the freight-row routine that sim_economy.cpp writes at
 * +0x106CFC0, in the executable's exception table after game_image.S's
 * entries (which are at lower addresses, so the table stays sorted). */
    .section .pdata,"dr"
    .balign 4
    .rva dm_game_image + (0x106CFC0 - 0x1000), dm_game_image + (0x106CFC0 - 0x1000 + 40), row_unwind

    .section .xdata,"dr"
    .balign 4
/* version 1, prologue 20 bytes, 3 codes, no frame register (RBP is only
 * loaded, with a value below the stack) */
row_unwind:
    .byte 0x01, 20, 3, 0x00
    .byte 20, 0x42      /* at 20: sub rsp, 0x28 (alloc small, 4 = 0x28 / 8 - 1) */
    .byte 8, 0xC0       /* at 8: push r12 */
    .byte 6, 0x50       /* at 6: push rbp */
    .short 0            /* an even number of slots */
