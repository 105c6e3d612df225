// Linked into the game's program for the end-to-end run only: the game's
// call that switches the log file off before start-up is replaced by one
// that keeps it on (the link wraps SetLogFileEnabled(int)), so the run can
// read its start-up and shut-down lines in Log.txt.
extern "C" int __wrap__Z17SetLogFileEnabledi(int) { return 0; }
