// Harness for the Windows DLLs, run under Wine and built once per
// architecture: loads the DLL with LoadLibraryA away from its preferred base,
// finds the export with GetProcAddress by its exact name and by no other
// spelling, and runs the shared case list, then the cases only Windows has.
//   harness LIBRARY FIXTURE_ROOT CAPTURE_FILE [relay]
// With "relay", it runs only the few cases whose Win32 calls check_relay.py
// reads from Wine's relay trace.
//
// Expected lines end in "\r\n": the DLL prints through msvcrt's stdout, which
// is in text mode and writes "\n" as "\r\n". Those are the bytes a Java
// program reading the process's output receives, so they are what the cases
// compare; a library that wrote "\r\n" itself would show up as "\r\r\n".
#include <windows.h>
#include <winternl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "call_export.h"
#include "cases.h"
#include "stand_in_env.h"

namespace {

// The non-ASCII name, as modified UTF-8 bytes.
#define NON_ASCII "d\xc3\xa9j\xc3\xa0"

// Fixtures (made by make_fixtures): read-only is a file with the read-only
// attribute; held is a directory that another handle keeps open throughout,
// with every access a share mode can refuse; NON_ASCII is a directory made
// with the ANSI call, so it has the name those bytes give in the ANSI code
// page. A library that converted the path from UTF-8 to UTF-16 would look
// for a different name. The harness runs as an unprivileged user, since
// root would open the read-only file for writing.
const Case WINDOWS_CASES[] = {
  {"read-only file", false, 3, {"{root}/a", "{root}/read-only", "{root}/c"}, -1, JNI_FALSE,
   NOT_FOUND("{root}/read-only"), 1, NEEDS_NOTHING},
  {"directory another handle holds open", false, 2, {"{root}/held", "{root}/a"}, -1, JNI_TRUE, "", 1,
   NEEDS_NOTHING},
  {"non-ASCII name in the ANSI code page", false, 1, {"{root}/" NON_ASCII}, -1, JNI_TRUE, "", 0, NEEDS_NOTHING},
};

// Returns the handle on held, or INVALID_HANDLE_VALUE after reporting.
HANDLE make_fixtures(const char* root) {
  char path[MAX_PATH];
  if (GetACP() == CP_UTF8) {
    fprintf(stderr, "the ANSI code page is UTF-8, so the non-ASCII case cannot tell ANSI from UTF-8\n");
    return INVALID_HANDLE_VALUE;
  }
  snprintf(path, sizeof path, "%s/read-only", root);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "%s: cannot create the fixture\n", path);
    return INVALID_HANDLE_VALUE;
  }
  CloseHandle(file);
  snprintf(path, sizeof path, "%s/" NON_ASCII, root);
  if (!CreateDirectoryA(path, nullptr)) {
    fprintf(stderr, "%s: cannot create the fixture\n", path);
    return INVALID_HANDLE_VALUE;
  }
  snprintf(path, sizeof path, "%s/held", root);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (CreateDirectoryA(path, nullptr))
    held = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (held == INVALID_HANDLE_VALUE) fprintf(stderr, "%s: cannot create and open the fixture\n", path);
  return held;
}

// Threads that call at once, as a JVM's threads may, each with its own
// JNIEnv: every result right, every line whole, no handle left open.
const int THREADS = 8;
const int CALLS_PER_THREAD = 300;

struct ThreadRun {
  ForceDirectories force;
  const char* root;
  HANDLE start;  // set once every thread exists, so that their calls overlap
};

DWORD WINAPI call_on_thread(void* argument) {
  const ThreadRun* run = static_cast<const ThreadRun*>(argument);
  WaitForSingleObject(run->start, INFINITE);
  return static_cast<DWORD>(call_repeatedly(run->force, run->root, CALLS_PER_THREAD));
}

// Wine's GetProcessHandleCount answers 0 whatever is open, but the system's
// handle table lists every handle of every process with its object type. A
// file handle the library leaves open (a CloseHandle skipped after a failed
// flush, say) shows there, whether or not Wine gave it a Linux descriptor.
// Only file handles count: the C runtime makes events of its own as it goes.
struct HandleEntry {
  ULONG owner;
  UCHAR type, flags;
  USHORT value;
  void* object;
  ACCESS_MASK access;
};

// The file handles of this process, the type being that of `file`; -1 if
// the table cannot be read.
int open_file_handles(HANDLE file) {
  static union {
    ULONG count;
    HandleEntry align;
    char bytes[1 << 22];
  } table;
  if (NtQuerySystemInformation(SystemHandleInformation, &table, sizeof table, nullptr) != 0) return -1;
  const HandleEntry* entries = reinterpret_cast<const HandleEntry*>(table.bytes + sizeof(void*));
  const HandleEntry* end = entries + table.count;
  const ULONG self = GetCurrentProcessId();
  int type = -1, count = 0;
  for (const HandleEntry* e = entries; e != end; ++e)
    if (e->owner == self && e->value == reinterpret_cast<uintptr_t>(file)) type = e->type;
  for (const HandleEntry* e = entries; e != end; ++e) count += e->owner == self && e->type == type;
  return type < 0 ? -1 : count;
}

// Reports the count of handles after a part of the run against the count
// before it; false if they differ.
bool same_handles(const char* part, int before, int after) {
  const bool ok = before >= 0 && before == after;
  fprintf(stderr, "%s  %s: open file handles %d before and %d after\n", ok ? "ok  " : "FAIL", part, before, after);
  return ok;
}

int run_threads(ForceDirectories force, const char* root, HANDLE file) {
  ThreadRun run = {force, root, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  const int handles_before = open_file_handles(file);
  const long start = captured_output_bytes();
  HANDLE threads[THREADS];
  for (HANDLE& thread : threads) {
    thread = CreateThread(nullptr, 0, call_on_thread, &run, 0, nullptr);
    if (thread == nullptr) return 1;
  }
  SetEvent(run.start);
  WaitForMultipleObjects(THREADS, threads, TRUE, INFINITE);
  int wrong = 0;
  for (HANDLE thread : threads) {
    DWORD status = 1;
    GetExitCodeThread(thread, &status);
    wrong += static_cast<int>(status);
    CloseHandle(thread);
  }
  const long end = captured_output_bytes();
  // Wine may release an ended thread's own handles a moment later, later
  // still on a busy machine; a handle left open stays open however long one
  // waits.
  int handles_after = open_file_handles(file);
  for (int tries = 0; tries < 20 && handles_after > handles_before; ++tries) {
    Sleep(100);
    handles_after = open_file_handles(file);
  }
  CloseHandle(run.start);
  const int failing = THREADS * CALLS_PER_THREAD / 3;
  const bool lines = check_repeated_line(start, end, FLUSH_FAILED("/proc"), "\r\n", failing);
  const bool ok = wrong == 0 && lines;
  fprintf(stderr, "%s  %d threads x %d calls: %d wrong, %d lines expected\n", ok ? "ok  " : "FAIL", THREADS,
          CALLS_PER_THREAD, wrong, failing);
  return ok && same_handles("the threads", handles_before, handles_after) ? 0 : 1;
}

// A JVM's process may already use the DLL's preferred range, and the DLL
// must then work wherever the loader puts it. Reserving that range first
// makes the loader place it elsewhere, so that an address in the DLL that
// the loader fails to fix up shows as a fault. Loading a second copy under
// another name would not: a stale address in it points into the first
// copy's identical bytes.
bool reserve_preferred_range(const char* path, uintptr_t* base, SIZE_T* size) {
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS nt;
  FILE* file = fopen(path, "rb");
  const bool read = file != nullptr && fread(&dos, sizeof dos, 1, file) == 1 && dos.e_magic == IMAGE_DOS_SIGNATURE &&
                    fseek(file, dos.e_lfanew, SEEK_SET) == 0 && fread(&nt, sizeof nt, 1, file) == 1 &&
                    nt.Signature == IMAGE_NT_SIGNATURE;
  if (file != nullptr) fclose(file);
  if (!read) {
    fprintf(stderr, "%s: cannot read its PE headers\n", path);
    return false;
  }
  // An image for another machine is left to LoadLibraryA, which must refuse it.
  if (nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return true;
  *base = nt.OptionalHeader.ImageBase;
  *size = nt.OptionalHeader.SizeOfImage;
  void* wanted = reinterpret_cast<void*>(*base);
  if (VirtualAlloc(wanted, *size, MEM_RESERVE, PAGE_NOACCESS) != wanted) {
    fprintf(stderr, "%s: cannot reserve its preferred range %p (0x%lx bytes), error %lu\n", path, wanted,
            static_cast<unsigned long>(*size), GetLastError());
    return false;
  }
  return true;
}

// The other spellings a toolchain may give the export: plain, as GNU ld
// exports a dllexport'ed stdcall function, and fully decorated. A JVM looks
// up only one of them, so the DLL must have that one and no other.
const char* const SPELLINGS[] = {NATIVEFLUSH_JNI_NAME, NATIVEFLUSH_JNI_NAME "@12", "_" NATIVEFLUSH_JNI_NAME "@12"};

FARPROC find_export(HMODULE library, const char* path) {
  char others[256] = "";
  for (const char* name : SPELLINGS) {
    if (strcmp(name, NATIVEFLUSH_EXPORT) == 0 || GetProcAddress(library, name) == nullptr) continue;
    if (others[0] != '\0') strcat(others, ", ");
    strcat(others, name);
  }
  FARPROC symbol = GetProcAddress(library, NATIVEFLUSH_EXPORT);
  if (symbol == nullptr)
    fprintf(stderr, "%s: no export named %s; the DLL has %s\n", path, NATIVEFLUSH_EXPORT,
            others[0] != '\0' ? others : "none of its other spellings either");
  else if (others[0] != '\0')
    fprintf(stderr, "%s: exports %s also as %s; expected that name alone\n", path, NATIVEFLUSH_EXPORT, others);
  return others[0] == '\0' ? symbol : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const bool relay = argc == 5 && strcmp(argv[4], "relay") == 0;
  if (!begin_harness(relay ? 4 : argc, argv)) return 2;
  uintptr_t preferred = 0;
  SIZE_T size = 0;
  if (!reserve_preferred_range(argv[1], &preferred, &size)) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    fprintf(stderr, "%s: LoadLibraryA failed, error %lu\n", argv[1], GetLastError());
    return 2;
  }
  const uintptr_t base = reinterpret_cast<uintptr_t>(library);
  if (size == 0) {
    fprintf(stderr, "FAIL  LoadLibraryA loaded an image for another machine\n");
    return 1;
  }
  if (base < preferred + size && preferred < base + size) {
    fprintf(stderr, "FAIL  loaded at 0x%llx, in its preferred range at 0x%llx, which was reserved; expected elsewhere\n",
            static_cast<unsigned long long>(base), static_cast<unsigned long long>(preferred));
    return 1;
  }
  FARPROC symbol = find_export(library, argv[1]);
  if (symbol == nullptr) return 2;
  ForceDirectories force = call_export(symbol, argv[1]);
  if (relay) {
    // The DLL's range tells its own calls in the trace from everyone else's.
    static const char* const RELAY_CASES[] = {"three directories", "flush fails", "missing in the middle"};
    fprintf(stderr, "module 0x%llx 0x%llx %s\n", static_cast<unsigned long long>(base),
            static_cast<unsigned long long>(base + size), argv[2]);
    return run_cases_named(RELAY_CASES, 3, force, argv[2], "\r\n") == 0 ? 0 : 1;
  }
  HANDLE held = make_fixtures(argv[2]);
  if (held == INVALID_HANDLE_VALUE) return 2;
  // Wine flushes a directory with fsync, which fails under /proc as on Linux.
  const int handles = open_file_handles(held);
  int failed = run_cases(force, argv[2], "\r\n", NATIVEFLUSH_WINE_SUPPORTS);
  failed += run_case_list(WINDOWS_CASES, sizeof WINDOWS_CASES / sizeof WINDOWS_CASES[0], force, argv[2], "\r\n",
                          NEEDS_NOTHING);
  failed += !same_handles("the cases", handles, open_file_handles(held));
  failed += run_threads(force, argv[2], held);
  CloseHandle(held);
  fprintf(stderr, "ok    ran at 0x%llx, away from its preferred base 0x%llx\n",
          static_cast<unsigned long long>(base), static_cast<unsigned long long>(preferred));
  return failed == 0 ? 0 : 1;
}
