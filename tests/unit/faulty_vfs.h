#pragma once

// A SQLite VFS for tests, "faulty": the default VFS with writes that fail on demand. Open a
// database through it with the URL "sqlite:PATH?vfs=faulty". Once armed, it counts the
// writes of every file it opened (database, WAL, journal) and fails the n-th with the code
// given (SQLITE_IOERR_WRITE, SQLITE_FULL); a full disk stays full, failing every write from
// the n-th on until disarmed.
namespace shenbao::testing {

struct FaultyVfs {
  static constexpr const char* kName = "faulty";
  // Registers the VFS (once; not as the default).
  static void install();
  // Counts writes from now; the n-th fails with `code` (every one from the n-th on with
  // `stays_full`). n = 0 counts without failing.
  static void arm(int n, int code, bool stays_full = false);
  static void disarm();
  // Writes counted since arm; whether a write has failed since.
  static int writes();
  static bool failed();
};

}  // namespace shenbao::testing
