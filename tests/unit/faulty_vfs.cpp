#include "tests/unit/faulty_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

namespace shenbao::testing {
namespace {

std::atomic<bool> armed{false};
std::atomic<int> fail_at{0};
std::atomic<int> fail_code{SQLITE_IOERR_WRITE};
std::atomic<bool> stays_full{false};
std::atomic<int> counted{0};
std::atomic<bool> has_failed{false};

sqlite3_vfs* root = nullptr;
sqlite3_vfs faulty{};

struct File {
  sqlite3_file base;
  sqlite3_file* real;  // the default VFS's file, allocated right after this one
};

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

int file_close(sqlite3_file* f) {
  const int rc = real(f)->pMethods ? real(f)->pMethods->xClose(real(f)) : SQLITE_OK;
  f->pMethods = nullptr;
  return rc;
}
int file_read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int file_write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  if (armed.load()) {
    const int n = ++counted;
    const int at = fail_at.load();
    if (at > 0 && (n == at || (stays_full.load() && n > at))) {
      has_failed = true;
      return fail_code.load();
    }
  }
  return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int file_truncate(sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); }
int file_sync(sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); }
int file_size(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int file_lock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int file_unlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int file_reserved(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }
int file_control(sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); }
int file_sector(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int file_device(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }
int file_shm_map(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int file_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
  return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void file_shm_barrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int file_shm_unmap(sqlite3_file* f, int remove) { return real(f)->pMethods->xShmUnmap(real(f), remove); }
// No memory-mapped reads: every page comes through xRead.
int file_fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int file_unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods methods = {3,           file_close,    file_read,      file_write,       file_truncate,
                                    file_sync,   file_size,     file_lock,      file_unlock,      file_reserved,
                                    file_control, file_sector,  file_device,    file_shm_map,     file_shm_lock,
                                    file_shm_barrier, file_shm_unmap, file_fetch, file_unfetch};

int vfs_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
  File* file = reinterpret_cast<File*>(f);
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  file->real->pMethods = nullptr;
  const int rc = root->xOpen(root, name, file->real, flags, out_flags);
  f->pMethods = file->real->pMethods ? &methods : nullptr;
  return rc;
}
int vfs_delete(sqlite3_vfs*, const char* name, int sync) { return root->xDelete(root, name, sync); }
int vfs_access(sqlite3_vfs*, const char* name, int flags, int* out) { return root->xAccess(root, name, flags, out); }
int vfs_full_pathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return root->xFullPathname(root, name, size, out);
}
void* vfs_dl_open(sqlite3_vfs*, const char* name) { return root->xDlOpen(root, name); }
void vfs_dl_error(sqlite3_vfs*, int size, char* out) { root->xDlError(root, size, out); }
void (*vfs_dl_sym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return root->xDlSym(root, handle, symbol); }
void vfs_dl_close(sqlite3_vfs*, void* handle) { root->xDlClose(root, handle); }
int vfs_randomness(sqlite3_vfs*, int size, char* out) { return root->xRandomness(root, size, out); }
int vfs_sleep(sqlite3_vfs*, int micros) { return root->xSleep(root, micros); }
int vfs_current_time(sqlite3_vfs*, double* out) { return root->xCurrentTime(root, out); }
int vfs_last_error(sqlite3_vfs*, int size, char* out) { return root->xGetLastError(root, size, out); }
int vfs_current_time64(sqlite3_vfs*, sqlite3_int64* out) { return root->xCurrentTimeInt64(root, out); }

}  // namespace

void FaultyVfs::install() {
  static std::once_flag once;
  std::call_once(once, [] {
    root = sqlite3_vfs_find(nullptr);
    faulty.iVersion = 2;
    faulty.szOsFile = static_cast<int>(sizeof(File)) + root->szOsFile;
    faulty.mxPathname = root->mxPathname;
    faulty.zName = kName;
    faulty.xOpen = vfs_open;
    faulty.xDelete = vfs_delete;
    faulty.xAccess = vfs_access;
    faulty.xFullPathname = vfs_full_pathname;
    faulty.xDlOpen = vfs_dl_open;
    faulty.xDlError = vfs_dl_error;
    faulty.xDlSym = vfs_dl_sym;
    faulty.xDlClose = vfs_dl_close;
    faulty.xRandomness = vfs_randomness;
    faulty.xSleep = vfs_sleep;
    faulty.xCurrentTime = vfs_current_time;
    faulty.xGetLastError = vfs_last_error;
    faulty.xCurrentTimeInt64 = vfs_current_time64;
    sqlite3_vfs_register(&faulty, 0);
  });
}

void FaultyVfs::arm(int n, int code, bool full) {
  counted = 0;
  has_failed = false;
  fail_at = n;
  fail_code = code;
  stays_full = full;
  armed = true;
}

void FaultyVfs::disarm() { armed = false; }

int FaultyVfs::writes() { return counted.load(); }

bool FaultyVfs::failed() { return has_failed.load(); }

}  // namespace shenbao::testing
