// make endgame: the bitbases of standin/endgame.h worked out from the rules alone.
#pragma once

#include <cstdint>

#include "standin/endgame.h"
#include "standin/kings.h"

// Fills endgame_table (allocated here, once) with the value of every position of at most
// `pieces` pieces. Slices are taken by pieces and then by men, fewest first, so that a
// capture or a crowning always leads into a slice already done; a slice and its turned
// twin are worked out together, since the moves of either lead into the other. Prints a line
// a pair when verbose. True on failure, after printing why.
bool generate_endgame(int pieces, bool verbose);
// Writes the table as the stand-in reads it. True on failure, after printing why.
bool write_endgame(const char* path, int pieces);
// Fills kings_table (allocated here, once) with the distance to win of every position of two,
// three and four kings against a lone king; it needs no bitbase. Prints a line when verbose. True
// on failure, after printing why.
bool generate_kings(bool verbose);
// Writes kings_table as the stand-in reads it. True on failure, after printing why.
bool write_kings(const char* path);
