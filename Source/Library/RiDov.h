// RiDov: the game library's public interface.
#ifndef RIDOV_H
#define RIDOV_H

#define RIDOV_VERSION_TEXT "3.11d"

#endif  // RIDOV_H
