#pragma once

#include <string>

struct sqlite3;

namespace shenbao {

// Moves the write-ahead log's checkpoints off the committing connection. SQLite by default
// copies the log back into the database file, and syncs it, inside the commit that makes the
// log pass 1000 pages, so whichever request happens to commit then waits for the disk. Here a
// commit past that size only wakes a thread of the process that checkpoints the file through a
// connection of its own (passively: it never waits for nor blocks readers and writers). Should
// the log still grow far beyond it (the thread held back by long readers), the committing
// connection checkpoints passively itself, as SQLite would.
//
// Called once for each connection opened on `path` with `vfs` ("" for the default).
void checkpoint_in_background(sqlite3* db, const std::string& path, const std::string& vfs);

// Returns once no checkpoint is asked for or under way. A program that deletes or replaces a
// database file it has written (a benchmark starting again from a copy) calls it first: a
// checkpoint through a connection on the old file must not meet the new one.
void wait_for_background_checkpoints();

}  // namespace shenbao
