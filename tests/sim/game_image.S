/* The simulated game's image: one zero-filled, readable, writable and
 * executable section from RVA 0x1000 to 0x3700000, where the game's objects,
 * functions and tables are laid out at their build's offsets. It is
 * uninitialised data, so the executable file stays small. */
    .section .dmgame,"bwx"
    .globl dm_game_image
dm_game_image:
    .space 0x36FF000
