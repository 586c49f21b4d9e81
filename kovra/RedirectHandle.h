#pragma once

#include "kovra/FileHandle.h"
#include "kovra/KovraApi.h"

namespace kovra {

// Factories of FileHandle objects meant as a child's standard input, output
// or error (see C_Process::SetRedirectHandle). The objects they return are
// plain FileHandle objects whose handle is inheritable.
struct KOVRA_API RedirectHandle : FileHandle {
    // FileHandle::CreateFileHandle, then the handle is replaced by an
    // inheritable duplicate of itself. Null when the open or the
    // duplication fails; no handle is left open then.
    static FileHandle* CreateRedirectHandle(const wchar_t* name, int access, int type);
    // An existing file for reading, shared for reading and writing.
    static FileHandle* CreateStdin(const wchar_t* name);
    // A file created or truncated for writing, shared for reading and writing.
    static FileHandle* CreateStdouterr(const wchar_t* name);

private:
    RedirectHandle() = delete;
};

}  // namespace kovra
