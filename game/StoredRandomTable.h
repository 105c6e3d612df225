// The game's only source of randomness: fixed values 0..1000, read in order
// through RandInstance.RandomCursor (NextStoredRandom). The table is made by
// game/tools/make_stored_random_table.py.
#ifndef GAME_STOREDRANDOMTABLE_H
#define GAME_STOREDRANDOMTABLE_H

enum { STORED_RANDOM_COUNT = 100000 };
extern const int StoredRandomTable[STORED_RANDOM_COUNT];

#endif  // GAME_STOREDRANDOMTABLE_H
