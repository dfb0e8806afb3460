/* The floor for sorvit's start-up cost: a minimal C program that prints
 * the same dump of the default simulated card, from a table. */
#include <stdio.h>

/* Four words a row, as the card holds them. */
/* clang-format off */
static const unsigned long WORDS[64] = {
    0x56514812u, 0x01020003u, 0x4812A001u, 0x20240917u,
    0x00A0C9F1u, 0x4E2DA001u, 0x000000C3u, 0x00010000u,
    0x80000713u, 0x80000245u, 0x800004E2u, 0x80000755u,
    0x7FFFFC0Bu, 0x7FFFFC44u, 0x7FFFFEE4u, 0x7FFFFF8Cu,
    0x7FFFFEF2u, 0x7FFFFC2Eu, 0x7FFFFD01u, 0x7FFFFEAAu,
    0x7FFFFE37u, 0x7FFFF92Au, 0x7FFFF834u, 0x80000525u,
    0x80000461u, 0x7FFFFFAEu, 0x800005E1u, 0x8000076Au,
    0x800002C9u, 0x80000046u, 0x800005CDu, 0x80000303u,
    0x7FFFFE23u, 0x7FFFFE2Bu, 0x80000507u, 0x7FFFFC24u,
    0x80000022u, 0x800007D8u, 0x7FFFFB12u, 0x800007DCu,
    0x80000564u, 0x800007E5u, 0x7FFFFA72u, 0x7FFFFB28u,
    0x80000302u, 0x80000061u, 0x800001F8u, 0x7FFFFB2Du,
    0x800002E3u, 0x800006FAu, 0x80000003u, 0x7FFFFED1u,
    0x7FFFFA30u, 0x7FFFFC21u, 0x7FFFFCEAu, 0x80000600u,
    0x80000115u, 0x7FFFFB73u, 0x800005E9u, 0x7FFFFECCu,
    0x8000071Du, 0x800007A8u, 0x800005B3u, 0x0000265Fu,
};
/* clang-format on */

int main(void) {
    printf("Selected card ID is %lu(0x%lx)\n\n", 0ul, 0ul);
    for (unsigned long r = 0; r < 32; r++)
        printf("   [0x%02lX] = 0x%08lX\t\t[0x%02lX] = 0x%08lX\n", r, WORDS[r], r + 32,
               WORDS[r + 32]);
    return 0;
}
