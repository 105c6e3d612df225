// Recording stand-in of the library's public functions for the game tests.
// Every call is logged in order as text "Name(arg,...)": ints in decimal,
// colour words (unsigned) as 0x hex, floats and doubles with %.6g, texts in
// double quotes, null pointers as null. Results come from per-function
// scripts, then from per-function defaults.
#ifndef RIDOV_DOUBLE_H
#define RIDOV_DOUBLE_H

#include <initializer_list>
#include <string>
#include <vector>

namespace ridov_double {

// Clears the log, scripts, defaults, clock, keys and pads.
void Reset();

const std::vector<std::string>& Calls();
void ClearCalls();
// The logged calls of one function, in order.
std::vector<std::string> CallsOf(const std::string& name);
int CountOf(const std::string& name);
// Adds a line to the log (test fakes use it to mark their own steps).
void Record(const std::string& line);

// The next calls of `name` return these results in turn; afterwards the
// default applies.
void QueueResults(const std::string& name, std::initializer_list<int> results);
void SetDefaultResult(const std::string& name, int result);

// Fake millisecond clock, kept to 31 bits like the library's. A scripted
// GetMillisecondCount result takes precedence.
void SetClock(unsigned int milliseconds);
void AdvanceClock(unsigned int milliseconds);
unsigned int Clock();
// Stand-in for the game's sleep seam: logs "Sleep(ms)" and advances the clock.
void FakeSleep(unsigned int milliseconds);

// GetPadState returns queued states first, then the held state.
void SetPadState(int state);
void QueuePadStates(std::initializer_list<int> states);
// Keys GetAllKeyStates reports as held.
void SetKeyDown(int keyCode, bool down);

// Screen depth MakeColorValue works for: 32 (default, X8R8G8B8) or 16 (R5G6B5).
void SetColorBits(int bits);

// Formats a number the way the log does.
std::string Num(double value);
std::string Hex(unsigned int value);

}  // namespace ridov_double

#endif  // RIDOV_DOUBLE_H
