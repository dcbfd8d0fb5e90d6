// The fixed tables of the deflate format (RFC 1951 3.2.5 and 3.2.7): the
// base values and extra bits of the length and distance symbols, and the
// order in which a dynamic block sends the code-length code's lengths.
// Shared by the fast inflate path and the candidate filters, which decode
// the same format.
#pragma once

namespace quarn::deflate_tables {

// Length symbols 257..285, by symbol - 257.
inline constexpr unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29.
inline constexpr unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                           33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The code-length code's symbols in the order their lengths are sent.
inline constexpr unsigned kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

}  // namespace quarn::deflate_tables
