#pragma once

#include <windows.h>

#include "kovra/KovraApi.h"
#include "kovra/common/UniqueHandle.h"

namespace kovra {

// Access bits of FileHandle::CreateFileHandle.
constexpr int FH_READ = 0x1;         // GENERIC_READ
constexpr int FH_WRITE = 0x2;        // GENERIC_WRITE
constexpr int FH_SHARE_READ = 0x4;   // FILE_SHARE_READ
constexpr int FH_SHARE_WRITE = 0x8;  // FILE_SHARE_WRITE

// Open types of FileHandle::CreateFileHandle (the creation disposition).
constexpr int FH_CREATE_NEW = 1;
constexpr int FH_CREATE_ALWAYS = 2;
constexpr int FH_OPEN_EXISTING = 3;
constexpr int FH_OPEN_ALWAYS = 4;
constexpr int FH_TRUNCATE_EXISTING = 5;
constexpr int FH_APPEND = 6;  // OPEN_ALWAYS, then the file pointer at the end

// An owned, inheritable operating-system handle. INVALID_HANDLE_VALUE means
// that no handle is held; the destructor closes any other value.
//
// Objects are made by the static factories (or by a derived type: the
// constructors are protected, not private, so that a subclass can observe
// its own deletion) and destroyed by CloseFileHandle or by their owner
// deleting them. Objects are neither copied nor assigned.
struct KOVRA_API FileHandle {
    virtual ~FileHandle();

    // Opens `name` with CreateFileW and an inheritable handle. `access` is a
    // set of FH_READ, FH_WRITE, FH_SHARE_READ and FH_SHARE_WRITE; `type` is
    // one of FH_CREATE_NEW .. FH_APPEND. Null on a null name, an unknown
    // type or a failing open (GetLastError() then tells why).
    static FileHandle* CreateFileHandle(const wchar_t* name, int access, int type);
    // A FileHandle that holds no handle (INVALID_HANDLE_VALUE).
    static FileHandle* CreateNullHandle();
    // Deletes *p (closing its handle) and nulls *p; nothing for a null p or
    // a null *p.
    static void CloseFileHandle(FileHandle** p);

    HANDLE GetHandle() const { return m_handle.Get(); }

protected:
    FileHandle();
    explicit FileHandle(HANDLE handle);

private:
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    friend struct RedirectHandle;

    common::UniqueFileHandle m_handle;
};

}  // namespace kovra
